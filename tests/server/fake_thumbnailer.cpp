#include "tests/server/fake_thumbnailer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

ThumbnailerScript NextGrab;
int ThumbnailersAlive = 0;
int GrabCalls = 0;
int GraphReleases = 0;
std::string LastGrabPath;
std::optional<WalkStart> LastGrabStart;

void ResetThumbnailerFake() {
  NextGrab = ThumbnailerScript{};
  ThumbnailersAlive = 0;
  GrabCalls = 0;
  GraphReleases = 0;
  LastGrabPath.clear();
  LastGrabStart.reset();
}

TDirectShowThumbnailer::TDirectShowThumbnailer()
    : BitmapInfo{},
      Bits(nullptr),
      Bitmap(nullptr),
      FileName{},
      pGraph(nullptr),
      pSeeking(nullptr),
      pMediaControl(nullptr),
      pEvent(nullptr),
      pGrabFilter(nullptr),
      MyGrabber(nullptr),
      ColorspaceConverter(nullptr) {
  ++ThumbnailersAlive;
}

TDirectShowThumbnailer::~TDirectShowThumbnailer() {
  delete[] Bits;
  --ThumbnailersAlive;
}

void TDirectShowThumbnailer::ReleaseGraph() { ++GraphReleases; }

int TDirectShowThumbnailer::ThumbnailFile(const char* path) {
  ++GrabCalls;
  LastGrabPath = path;
  LastGrabStart = Start;
  Failure = NextGrab.failure;
  std::snprintf(FailureCodec, sizeof FailureCodec, "%s", NextGrab.codec.c_str());
  FramePosition = NextGrab.position;
  FromCover = NextGrab.from_cover;
  if (NextGrab.on_grab) NextGrab.on_grab();
  BitmapInfo.bmiHeader.biWidth = NextGrab.width;
  BitmapInfo.bmiHeader.biHeight = NextGrab.height;
  BitmapInfo.bmiHeader.biBitCount = NextGrab.bit_count;
  if (NextGrab.with_bits && NextGrab.width > 0 && NextGrab.height != 0) {
    const size_t padded = (static_cast<size_t>(NextGrab.width) * 3 + 3) & ~size_t{3};
    const size_t stride = NextGrab.stride ? NextGrab.stride : padded;
    const size_t rows = static_cast<size_t>(std::abs(NextGrab.height));
    Bits = new BYTE[stride * rows];
    for (size_t m = 0; m < rows; ++m)
      for (size_t x = 0; x < stride; ++x) Bits[m * stride + x] = FramePixel(m, x);
  }
  return NextGrab.result;
}
