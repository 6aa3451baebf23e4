// Command 3: rows of the open request's frame, top row first, each as long as
// the thumbnail reply promised.
#include <algorithm>

#include "platform/gdi/dib_geometry.h"
#include "platform/trace.h"
#include "protocol/messages.h"
#include "server/command_handlers.h"
#include "server/pipe_fields.h"

template <>
void Handle<wire::kGetLines>(CommandContext& context) {
  DebugTrace("TThumbnailServer::GetLines\n");
  CommandChannel& channel = context.Channel;
  const ServerState& state = context.State;
  PipeFields pipe(channel);
  wire::GetLinesRequest lines;
  if (!lines.Read(pipe)) return;
  const DWORD first = lines.first;
  const DWORD count = lines.count;
  // Modulo 2^32: a count that wraps past the last row number sends nothing.
  const DWORD end = first + count;

  if (state.ThumbnailFailed) {
    for (DWORD r = first; r < end; ++r) channel.WriteZeros(static_cast<size_t>(state.RequestedWidth) * 3);
  } else if (state.Thumbnailer) {
    const TDirectShowThumbnailer& thumbnailer = *state.Thumbnailer;
    const BITMAPINFOHEADER& frame = thumbnailer.BitmapInfo.bmiHeader;
    const size_t width = static_cast<size_t>(std::max<LONG>(frame.biWidth, 0));
    const size_t pixelBytes = frame.biBitCount / 8;
    // A thumbnailer that captured nothing has no rows; a positive height
    // stores the rows bottom-up, a negative one top-down.
    const size_t height = thumbnailer.Bits ? DibRows(frame.biHeight) : 0;
    const size_t frameRowBytes = width * pixelBytes;
    const size_t stride =
        state.RowsDwordAligned ? DibStride(static_cast<LONG>(width), frame.biBitCount) : frameRowBytes;
    size_t wireRowBytes = frameRowBytes;
    size_t sentRowBytes = frameRowBytes;
    if (state.FixedSize) {
      const size_t requested = static_cast<size_t>(state.RequestedWidth);
      wireRowBytes = requested * 3;
      // Never more than the promised row, whatever the frame's pixel size.
      sentRowBytes = std::min(std::min(width, requested) * pixelBytes, wireRowBytes);
    }
    DebugTrace("sending %u lines of data\n", count);
    for (DWORD r = first; r < end; ++r) {
      // The frame has no such row: zeros keep the parent in step.
      if (r >= height) {
        channel.WriteZeros(wireRowBytes);
        continue;
      }
      const size_t memoryRow = DibMemoryRow(frame.biHeight, r);
      channel.WriteBytes(thumbnailer.Bits + memoryRow * stride, sentRowBytes);
      if (wireRowBytes > sentRowBytes) channel.WriteZeros(wireRowBytes - sentRowBytes);
    }
  }
  // With no request open there is no frame and no row length: no rows.
  channel.SignalReply();
  DebugTrace("TThumbnailServer::GetLines done\n");
}
