#include "grabber/thumbnailer.h"

#include <cstring>

#include "platform/gdi/bitmap.h"

TDirectShowThumbnailer::TDirectShowThumbnailer()
    : Bits(nullptr),
      Bitmap(nullptr),
      pGraph(nullptr),
      pSeeking(nullptr),
      pMediaControl(nullptr),
      pEvent(nullptr),
      pGrabFilter(nullptr),
      MyGrabber(nullptr),
      ColorspaceConverter(nullptr) {
  // A thumbnailer that never captured reports a 0 x 0 frame, not stack bytes.
  std::memset(&BitmapInfo, 0, sizeof BitmapInfo);
  std::memset(FileName, 0, sizeof FileName);
}

TDirectShowThumbnailer::~TDirectShowThumbnailer() {
  // The graph is released first and neither stopped nor paused: it owns the
  // filters, and the members below are only further references on them.
  DeleteFrameBitmap();
  ReleaseGraph();
}

void TDirectShowThumbnailer::ReleaseGraph() {
  SafeRelease(pGraph);
  SafeRelease(pGrabFilter);
  SafeRelease(pSeeking);
  SafeRelease(pMediaControl);
  SafeRelease(pEvent);
  SafeRelease(MyGrabber);
  SafeRelease(ColorspaceConverter);
}

void TDirectShowThumbnailer::DeleteFrameBitmap() {
  if (Bitmap) {
    DeleteObject(Bitmap);
    Bitmap = nullptr;
  }
  Bits = nullptr;
}
