// The thumbnail request commands: open a request, send the frame's rows,
// close the request, and the status command.
#include <algorithm>

#include "platform/gdi/dib_geometry.h"
#include "platform/trace.h"
#include "server/failure_reason.h"
#include "server/pipe_fields.h"
#include "server/thumbnail_server.h"

namespace {

// Zero bytes for black rows and the fill of fixed-size rows. A parent may
// name any width, so zeros go out in blocks of this size rather than from a
// buffer as wide as the row; rows of up to 21845 pixels take one write.
constexpr size_t kZeroBlockBytes = 64 * 1024;
const BYTE kZeroBlock[kZeroBlockBytes] = {};

}  // namespace

void TThumbnailServer::WriteZeros(size_t count) {
  DWORD written = 0;
  while (count > 0) {
    size_t n = std::min(count, kZeroBlockBytes);
    platform_.WriteFile(HandleFromValue(WritePipe), kZeroBlock, static_cast<DWORD>(n), &written);
    count -= n;
  }
}

void TThumbnailServer::ThumbnailFile() { OpenRequest(false); }

void TThumbnailServer::ThumbnailFileAt() { OpenRequest(true); }

void TThumbnailServer::OpenRequest(bool placed) {
  EndThumbnail();
  if (closed_a_request_) DebugTrace("starting new thumbnail\n");
  InThumbnail = true;
  DebugTrace("TThumbnailServer::ThumbnailFile\n");

  PipeFields pipe(*this);
  wire::ThumbnailRequest request = wire::ThumbnailRequest::Of(placed ? wire::kThumbnailFileAt : wire::kThumbnailFile);
  request.Read(pipe);
  if (!pipe.stringTaken()) return;
  const char* path = request.path.c_str();
  DebugTrace("Reading %s\n", path);
  RequestedWidth = request.width;
  RequestedHeight = request.height;
  std::optional<WalkStart> start;
  bool preferCover = false;
  if (request.position) {
    const auto [kind, value] = *request.position;
    start = (kind & wire::kKindMask) == wire::kMillionthsOfDuration ? WalkStart{true, value}
                                                                    : WalkStart{false, LONGLONG{value} * 10000};
    preferCover = (kind & wire::kPreferCover) != 0;
  }
  // The parent left in the middle of the request: nothing to answer.
  if (command_pipe_ended_) return;
  ThumbnailFailed = false;
  FixedSize = false;
  // 260 bytes without a NUL are a path cut short; opening the cut path could
  // open another file.
  const bool pathComplete = request.path.size() < wire::kMaxStringBytes;
  // The grab, what it gave kept for commands 8 and 9.
  auto grab = [&] {
    Thumbnailer = std::make_unique<TDirectShowThumbnailer>();
    Thumbnailer->Start = start;
    Thumbnailer->PreferCover = preferCover;
    const int result = pathComplete ? Thumbnailer->ThumbnailFile(path) : 0;
    KeepOutcome(pathComplete, result);
    // Only the frame is served from here on: the graph, its decoders and
    // their pictures go now, within this request, rather than when the next
    // one starts or while rows are sent.
    Thumbnailer->ReleaseGraph();
    return result;
  };

  if (RequestedWidth > 0 && RequestedHeight > 0) {
    FixedSize = true;
    DebugTrace("Write 1\n");
    wire::ThumbnailReply::Frame(static_cast<DWORD>(RequestedWidth), static_cast<DWORD>(RequestedHeight)).Write(pipe);
    SignalReply();
    // The parent has its answer; a failed grab now only turns the rows black.
    if (grab() != 1) ThumbnailFailed = true;
    return;
  }

  if (grab() == 1) {
    DebugTrace("Thumbnailer->ThumbnailFile Ok\n");
    DebugTrace("Write 2\n");
    const BITMAPINFOHEADER& frame = Thumbnailer->BitmapInfo.bmiHeader;
    wire::ThumbnailReply::Frame(static_cast<DWORD>(frame.biWidth), static_cast<DWORD>(frame.biHeight),
                                frame.biBitCount)
        .Write(pipe);
  } else {
    DebugTrace("Thumbnailer->ThumbnailFile Failed\n");
    DebugTrace("Write 3\n");
    wire::ThumbnailReply{}.Write(pipe);
    EndThumbnail();
  }
  SignalReply();
  DebugTrace("TThumbnailServer::ThumbnailFile done\n");
}

void TThumbnailServer::KeepOutcome(bool pathComplete, int result) {
  lastCodec_.clear();
  lastOrigin_ = wire::kNoFrame;
  lastFrameMs_ = 0;
  if (result == 1) {
    lastReason_ = wire::kNoFailure;
    const LONGLONG position = Thumbnailer->FramePosition;
    if (Thumbnailer->FromCover) {
      lastOrigin_ = wire::kCoverPicture;
    } else if (position < 0) {
      lastOrigin_ = wire::kFrameOfUnknownTime;
    } else {
      lastOrigin_ = wire::kVideoFrame;
      lastFrameMs_ = static_cast<DWORD>(std::min<LONGLONG>(position / 10000, 0xFFFFFFFF));
    }
  } else if (!pathComplete) {
    lastReason_ = wire::kUnreadable;
  } else {
    lastReason_ = ReasonOf(Thumbnailer->Failure);
    if (lastReason_ == wire::kCodecUnavailable) lastCodec_ = Thumbnailer->FailureCodec;
  }
}

void TThumbnailServer::ReportFailure() {
  DebugTrace("TThumbnailServer::ReportFailure\n");
  PipeFields pipe(*this);
  wire::FailureReply{lastReason_, lastCodec_}.Write(pipe);
  SignalReply();
}

void TThumbnailServer::ReportFrameOrigin() {
  DebugTrace("TThumbnailServer::ReportFrameOrigin\n");
  PipeFields pipe(*this);
  wire::FrameOriginReply{lastOrigin_, lastFrameMs_}.Write(pipe);
  SignalReply();
}

void TThumbnailServer::GetLines() {
  DebugTrace("TThumbnailServer::GetLines\n");
  PipeFields pipe(*this);
  wire::GetLinesRequest lines;
  if (!lines.Read(pipe)) return;
  const DWORD first = lines.first;
  const DWORD count = lines.count;
  // Modulo 2^32: a count that wraps past the last row number sends nothing.
  const DWORD end = first + count;

  if (ThumbnailFailed) {
    for (DWORD r = first; r < end; ++r) WriteZeros(static_cast<size_t>(RequestedWidth) * 3);
  } else if (Thumbnailer) {
    const BITMAPINFOHEADER& frame = Thumbnailer->BitmapInfo.bmiHeader;
    const size_t width = static_cast<size_t>(std::max<LONG>(frame.biWidth, 0));
    const size_t pixelBytes = frame.biBitCount / 8;
    // A thumbnailer that captured nothing has no rows; a positive height
    // stores the rows bottom-up, a negative one top-down.
    const size_t height = Thumbnailer->Bits ? DibRows(frame.biHeight) : 0;
    const size_t frameRowBytes = width * pixelBytes;
    const size_t stride = RowsDwordAligned ? DibStride(static_cast<LONG>(width), frame.biBitCount) : frameRowBytes;
    size_t wireRowBytes = frameRowBytes;
    size_t sentRowBytes = frameRowBytes;
    if (FixedSize) {
      const size_t requested = static_cast<size_t>(RequestedWidth);
      wireRowBytes = requested * 3;
      // Never more than the promised row, whatever the frame's pixel size.
      sentRowBytes = std::min(std::min(width, requested) * pixelBytes, wireRowBytes);
    }
    DebugTrace("sending %u lines of data\n", count);
    for (DWORD r = first; r < end; ++r) {
      // The frame has no such row: zeros keep the parent in step.
      if (r >= height) {
        WriteZeros(wireRowBytes);
        continue;
      }
      const size_t memoryRow = DibMemoryRow(frame.biHeight, r);
      DWORD written = 0;
      platform_.WriteFile(HandleFromValue(WritePipe), Thumbnailer->Bits + memoryRow * stride,
                          static_cast<DWORD>(sentRowBytes), &written);
      if (wireRowBytes > sentRowBytes) WriteZeros(wireRowBytes - sentRowBytes);
    }
  }
  // With no request open there is no frame and no row length: no rows.
  SignalReply();
  DebugTrace("TThumbnailServer::GetLines done\n");
}

void TThumbnailServer::EndThumbnail() {
  DebugTrace("TThumbnailServer::EndThumbnail\n");
  if (InThumbnail) {
    InThumbnail = false;
    closed_a_request_ = true;
  }
  if (FixedSize && Thumbnailer) {
    const BITMAPINFOHEADER& frame = Thumbnailer->BitmapInfo.bmiHeader;
    if (frame.biWidth != RequestedWidth || frame.biHeight != RequestedHeight) {
      // The parent was promised another size than the frame has; the
      // server ends rather than serve it again.
      DebugTrace("wrong info\n");
      DebugTrace("%ux%u   %ux%u\n", static_cast<unsigned>(frame.biWidth), static_cast<unsigned>(frame.biHeight),
                 static_cast<unsigned>(RequestedWidth), static_cast<unsigned>(RequestedHeight));
      Quit = true;
      return;
    }
  }
  DebugTrace("Cleaning up\n");
  DebugTrace(InThumbnail ? "in thumbnail\n" : "not in thumbnail\n");
  Thumbnailer.reset();
}

void TThumbnailServer::GetStatus() {
  DebugTrace("TThumbnailServer::GetStatus\n");
  DebugTrace("Write 5\n");
  PipeFields pipe(*this);
  wire::StatusReply{}.Write(pipe);
  SignalReply();
}
