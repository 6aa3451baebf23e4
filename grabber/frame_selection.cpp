#include <cstring>
#include <iterator>

#include "grabber/thumbnailer.h"
#include "platform/trace.h"

namespace {

// The positions tried in turn, in media time (100 ns units): the first whose
// frame is not too dark wins, and the eighth is kept however dark it is.
constexpr DWORD SeekTimes[8] = {3000000, 5200000, 15000000, 20000000, 30000000, 70000000, 120000000, 200000000};

constexpr LONG kGraphNotifyMessage = WM_APP + 1;

}  // namespace

int TDirectShowThumbnailer::ThumbnailFile(const char* path) {
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                              IID_IGraphBuilder, reinterpret_cast<void**>(&pGraph))) ||
      !pGraph) {
    DebugTrace("TDirectShowThumbnailer::ThumbnailFile E1\n");
    return 0;
  }
  // A path that does not fit is refused rather than cut, which would open
  // another file.
  size_t length = path ? strnlen(path, sizeof FileName) : sizeof FileName;
  if (length >= sizeof FileName) {
    DebugTrace("TDirectShowThumbnailer::ThumbnailFile path too long\n");
    return 0;
  }
  std::memcpy(FileName, path, length + 1);
  DeleteFrameBitmap();

  // Each byte becomes one wide character of the same value, with no code
  // page: the media platform narrows them back one to one, so a UTF-8 name
  // reaches the file system as it was sent.
  WCHAR widePath[sizeof FileName];
  for (size_t i = 0; i <= length; ++i) widePath[i] = static_cast<unsigned char>(FileName[i]);

  if (FAILED(pGraph->RenderFile(widePath, nullptr))) {
    DebugTrace("pGraph->RenderFile failed\n");
    return 0;
  }
  if (!AddSampleGrabber()) {
    DebugTrace("AddSampleGrabber failed\n");
    return 0;
  }
  RemoveNonVideoBranches();
  if (FAILED(MyGrabber->SetBufferSamples(TRUE))) {
    DebugTrace("MyGrabber->SetBufferSamples failed\n");
    return 0;
  }
  if (FAILED(MyGrabber->SetOneShot(TRUE))) {
    DebugTrace("MyGrabber->SetOneShot failed\n");
    return 0;
  }
  if (FAILED(pGraph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&pEvent))) || !pEvent) {
    DebugTrace("pGraph->QueryInterface failed\n");
    return 0;
  }
  if (FAILED(pEvent->SetNotifyWindow(0, kGraphNotifyMessage, 0))) {
    DebugTrace("pEvent->SetNotifyWindow failed\n");
    return 0;
  }
  if (FAILED(pGraph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&pMediaControl))) ||
      !pMediaControl) {
    DebugTrace("pGraph->QueryInterface failed\n");
    return 0;
  }

  DebugTrace("ThumbnailFile 10\n");
  for (size_t i = 0; i < std::size(SeekTimes); ++i) {
    DeleteFrameBitmap();
    DebugTrace("ThumbnailFile 11\n");
    // The graph stays running between positions: the seek re-arms the end of
    // stream and the next run delivers the frame there.
    SeekTo(SeekTimes[i]);
    if (FAILED(pMediaControl->Run())) {
      DebugTrace("pMediaControl->Run failed\n");
      return 0;
    }
    LONG eventCode = 0;
    if (FAILED(pEvent->WaitForCompletion(static_cast<LONG>(INFINITE), &eventCode))) {
      DebugTrace("pEvent->WaitForCompletion failed\n");
      return 0;
    }
    GrabFrameDX7();
    if (!IsTooDark()) return 1;
  }
  // The last frame stands however dark it is, but only if there is one: the
  // caller reads its size and rows after a success.
  return Bits ? 1 : 0;
}

void TDirectShowThumbnailer::SeekTo(DWORD position) {
  // Once obtained, the seeking interface serves every later position.
  if (!pSeeking && pGraph && FAILED(pGraph->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&pSeeking))))
    pSeeking = nullptr;
  if (!pSeeking) return;
  LONGLONG duration = 0;
  // A negative duration is as unknown as none: halving it would seek far past
  // the end.
  if (FAILED(pSeeking->GetDuration(&duration)) || duration < 0) return;
  // At or past the end the middle of the clip stands in.
  if (duration <= static_cast<LONGLONG>(position)) position = static_cast<DWORD>(duration / 2);
  LONGLONG current = position;
  LONGLONG stop = position;
  pSeeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning);
}
