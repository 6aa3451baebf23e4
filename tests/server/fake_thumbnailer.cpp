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
std::vector<CaptureCall> Captures;
ULONG LastLongerEdge = 0;

void ResetThumbnailerFake() {
  NextGrab = ThumbnailerScript{};
  ThumbnailersAlive = 0;
  GrabCalls = 0;
  GraphReleases = 0;
  LastGrabPath.clear();
  LastGrabStart.reset();
  Captures.clear();
  LastLongerEdge = 0;
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

// What every opening of a file records and leaves, as scripted.
static void Opened(TDirectShowThumbnailer& t, const char* path) {
  ++GrabCalls;
  LastGrabPath = path;
  LastLongerEdge = t.LongerEdge;
  t.Failure = NextGrab.failure;
  std::snprintf(t.FailureCodec, sizeof t.FailureCodec, "%s", NextGrab.codec.c_str());
  t.FromCover = NextGrab.from_cover;
}

int TDirectShowThumbnailer::ThumbnailFile(const char* path) {
  Opened(*this, path);
  LastGrabStart = Start;
  FramePosition = NextGrab.position;
  if (NextGrab.on_grab) NextGrab.on_grab();
  GrabFrameDX7();
  return NextGrab.result;
}

void TDirectShowThumbnailer::DeleteFrameBitmap() {
  delete[] Bits;
  Bits = nullptr;
}

// The scripted frame, made anew.
void TDirectShowThumbnailer::GrabFrameDX7() {
  DeleteFrameBitmap();
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
}

int TDirectShowThumbnailer::OpenFile(const char* path) {
  Opened(*this, path);
  ShownWidth = NextGrab.width;
  ShownHeight = NextGrab.height;
  return NextGrab.result;
}

TDirectShowThumbnailer::Capture TDirectShowThumbnailer::CaptureAt(LONGLONG position, bool keyFrame) {
  Captures.push_back({position, keyFrame});
  DeleteFrameBitmap();
  const Capture outcome = NextGrab.capture ? NextGrab.capture(position, keyFrame) : Capture::kFrame;
  if (outcome == Capture::kFailed) Failure = NextGrab.failure;
  if (outcome != Capture::kFrame) return outcome;
  FramePosition = NextGrab.frame_time ? NextGrab.frame_time(position, keyFrame) : position;
  GrabFrameDX7();
  return outcome;
}

LONGLONG TDirectShowThumbnailer::Duration() { return NextGrab.duration; }

void TDirectShowThumbnailer::CodecNames(char* video, char* audio, DWORD bytes) {
  std::snprintf(video, bytes, "h264");
  std::snprintf(audio, bytes, "%s", "");
}
