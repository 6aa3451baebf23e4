#include <algorithm>
#include <cstring>
#include <iterator>

#include "grabber/thumbnailer.h"
#include "platform/dshow/media_description.h"
#include "platform/trace.h"
#include "protocol/server_timing.h"

namespace {

// The walk's positions, in media time (100 ns units): those of the fixed
// walk, and the steps after a position of the caller's.
constexpr const auto& SeekTimes = wire::kWalkPositions;
constexpr const auto& kStepsFromStart = wire::kWalkStepsFromStart;

constexpr LONGLONG kMillionths = 1000000;

constexpr LONG kGraphNotifyMessage = WM_APP + 1;

// The graph's seeking interface, taken once and kept in pSeeking for every
// later position; null when the graph has none.
IMediaSeeking* Seeking(TDirectShowThumbnailer& t) {
  if (!t.pSeeking && t.pGraph &&
      FAILED(t.pGraph->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&t.pSeeking))))
    t.pSeeking = nullptr;
  return t.pSeeking;
}

}  // namespace

int TDirectShowThumbnailer::Fail(HRESULT seen) {
  Failure = SUCCEEDED(seen) ? E_FAIL : seen;
  FailureCodec[0] = '\0';
  ComPtr<IMediaFailure> graph;
  HRESULT reason = S_OK;
  if (pGraph && SUCCEEDED(pGraph->QueryInterface(IID_IMediaFailure, graph.put_void())) && graph &&
      SUCCEEDED(graph->GetFailure(&reason, FailureCodec, sizeof FailureCodec)) && FAILED(reason))
    Failure = reason;
  return 0;
}

int TDirectShowThumbnailer::OpenFile(const char* path) {
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                              IID_IGraphBuilder, reinterpret_cast<void**>(&pGraph))) ||
      !pGraph) {
    DebugTrace("TDirectShowThumbnailer::ThumbnailFile E1\n");
    return Fail(E_FAIL);
  }
  // A path that does not fit is refused rather than cut, which would open
  // another file.
  size_t length = path ? strnlen(path, sizeof FileName) : sizeof FileName;
  if (length >= sizeof FileName) {
    DebugTrace("TDirectShowThumbnailer::ThumbnailFile path too long\n");
    return Fail(kFileNotFound);
  }
  std::memcpy(FileName, path, length + 1);
  DeleteFrameBitmap();

  // Each byte becomes one wide character of the same value, with no code
  // page: the media platform narrows them back one to one, so a UTF-8 name
  // reaches the file system as it was sent.
  WCHAR widePath[sizeof FileName];
  for (size_t i = 0; i <= length; ++i) widePath[i] = static_cast<unsigned char>(FileName[i]);

  if (HRESULT rendered = pGraph->RenderFile(widePath, nullptr); FAILED(rendered)) {
    DebugTrace("pGraph->RenderFile failed\n");
    return Fail(rendered);
  }
  ChooseCover();
  if (!AddSampleGrabber()) {
    DebugTrace("AddSampleGrabber failed\n");
    return Fail(E_MEDIA_NO_VIDEO);
  }
  RemoveNonVideoBranches();
  if (FAILED(MyGrabber->SetBufferSamples(TRUE))) {
    DebugTrace("MyGrabber->SetBufferSamples failed\n");
    return Fail(E_FAIL);
  }
  if (FAILED(MyGrabber->SetOneShot(TRUE))) {
    DebugTrace("MyGrabber->SetOneShot failed\n");
    return Fail(E_FAIL);
  }
  if (FAILED(pGraph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&pEvent))) || !pEvent) {
    DebugTrace("pGraph->QueryInterface failed\n");
    return Fail(E_FAIL);
  }
  if (FAILED(pEvent->SetNotifyWindow(0, kGraphNotifyMessage, 0))) {
    DebugTrace("pEvent->SetNotifyWindow failed\n");
    return Fail(E_FAIL);
  }
  if (FAILED(pGraph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&pMediaControl))) ||
      !pMediaControl) {
    DebugTrace("pGraph->QueryInterface failed\n");
    return Fail(E_FAIL);
  }
  return 1;
}

bool TDirectShowThumbnailer::RunOnce() {
  if (FAILED(pMediaControl->Run())) {
    DebugTrace("pMediaControl->Run failed\n");
    return false;
  }
  LONG eventCode = 0;
  if (FAILED(pEvent->WaitForCompletion(static_cast<LONG>(INFINITE), &eventCode))) {
    DebugTrace("pEvent->WaitForCompletion failed\n");
    return false;
  }
  GrabFrameDX7();
  FitFrameWithin();
  return true;
}

int TDirectShowThumbnailer::ThumbnailFile(const char* path) {
  if (!OpenFile(path)) return 0;
  const LONGLONG start = Start ? StartTime() : 0;
  DebugTrace("ThumbnailFile 10\n");
  for (size_t i = 0; i < std::size(SeekTimes); ++i) {
    DeleteFrameBitmap();
    DebugTrace("ThumbnailFile 11\n");
    // The graph stays running between positions: the seek re-arms the end of
    // stream and the next run delivers the frame there.
    const bool pastEnd = SeekTo(WalkPosition(i, start));
    if (!RunOnce()) return Fail(E_FAIL);
    if (!IsTooDark()) return 1;
    // A walk from the caller's start that reached the end has its last
    // frame: every later position would show it again.
    if (Start && pastEnd) break;
  }
  // The last frame stands however dark it is, but only if there is one: the
  // caller reads its size and rows after a success.
  return Bits ? 1 : Fail(E_MEDIA_NO_PICTURE);
}

bool TDirectShowThumbnailer::SeekTo(LONGLONG position) {
  FramePosition = -1;
  if (!Seeking(*this)) return false;
  LONGLONG duration = 0;
  // A negative duration is as unknown as none: halving it would seek far past
  // the end.
  if (FAILED(pSeeking->GetDuration(&duration)) || duration < 0) return false;
  // At or past the end the fixed walk takes the middle of the clip; a caller
  // who asked for a time there (the end itself, 100 %) wants the last frame,
  // which a seek to the end shows.
  const bool pastEnd = duration <= position;
  if (pastEnd) position = Start ? duration : duration / 2;
  LONGLONG current = position;
  LONGLONG stop = position;
  if (SUCCEEDED(pSeeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, &stop,
                                       AM_SEEKING_AbsolutePositioning)))
    FramePosition = position;
  return pastEnd;
}

TDirectShowThumbnailer::Capture TDirectShowThumbnailer::CaptureAt(LONGLONG position, bool keyFrame) {
  DeleteFrameBitmap();
  FramePosition = -1;
  if (Seeking(*this)) {
    // Past the end a seek to the end itself shows the last frame.
    const LONGLONG duration = Duration();
    if (duration >= 0 && position > duration) position = duration;
    LONGLONG current = std::max<LONGLONG>(position, 0);
    LONGLONG stop = current;
    const DWORD how = AM_SEEKING_AbsolutePositioning | (keyFrame ? AM_SEEKING_SeekToKeyFrame : 0);
    if (SUCCEEDED(pSeeking->SetPositions(&current, how, &stop, AM_SEEKING_AbsolutePositioning)))
      FramePosition = current;
  }
  if (!RunOnce()) {
    Fail(E_FAIL);
    return Capture::kFailed;
  }
  if (!Bits) {
    // No frame, no size: rows asked for where nothing decoded are none.
    std::memset(&BitmapInfo, 0, sizeof BitmapInfo);
    return Capture::kNone;
  }
  // The frame's own time, which a key frame's differs from the position by;
  // a renderer that cannot tell leaves the position sought.
  LONGLONG shown = 0;
  if (SUCCEEDED(MyGrabber->GetBufferedTime(&shown)) && shown >= 0) FramePosition = shown;
  return Capture::kFrame;
}

LONGLONG TDirectShowThumbnailer::Duration() {
  LONGLONG duration = 0;
  if (!Seeking(*this) || FAILED(pSeeking->GetDuration(&duration)) || duration < 0) return -1;
  return duration;
}

void TDirectShowThumbnailer::CodecNames(char* video, char* audio, DWORD bytes) {
  if (bytes == 0) return;
  video[0] = audio[0] = '\0';
  ComPtr<IMediaDescription> description;
  if (pGraph && SUCCEEDED(pGraph->QueryInterface(IID_IMediaDescription, description.put_void())) && description)
    description->GetCodecNames(video, audio, bytes);
}

LONGLONG TDirectShowThumbnailer::WalkPosition(size_t n, LONGLONG start) const {
  return Start ? start + kStepsFromStart[n] : SeekTimes[n];
}

LONGLONG TDirectShowThumbnailer::StartTime() {
  if (!Start->fraction) return std::max<LONGLONG>(Start->value, 0);
  LONGLONG duration = 0;
  if (!Seeking(*this) || FAILED(pSeeking->GetDuration(&duration)) || duration <= 0) return 0;
  // Split so that no product overflows: the duration is below 2^60.
  const LONGLONG share = std::clamp<LONGLONG>(Start->value, 0, kMillionths);
  return duration / kMillionths * share + duration % kMillionths * share / kMillionths;
}
