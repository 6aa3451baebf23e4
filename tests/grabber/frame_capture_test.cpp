#include <gtest/gtest.h>

#include <cstring>

#include "fake_graph.h"
#include "grabber/thumbnailer.h"
#include "platform/gdi/bitmap.h"

namespace {

// A frame of the given geometry whose bytes the test owns, measured without a
// bitmap behind it.
struct Measured {
  int tooDark;
  std::vector<std::string> traces;
};

Measured Measure(LONG width, LONG height, WORD bitCount, std::vector<BYTE> bytes) {
  TraceLog log;
  TDirectShowThumbnailer t;
  t.BitmapInfo.bmiHeader.biWidth = width;
  t.BitmapInfo.bmiHeader.biHeight = height;
  t.BitmapInfo.bmiHeader.biBitCount = bitCount;
  t.Bits = bytes.data();
  Measured m{t.IsTooDark(), log.texts};
  t.Bits = nullptr;
  return m;
}

TEST(IsTooDark, BrightnessMeasureAtItsEdges) {
  struct Case {
    const char* what;
    LONG width, height;
    std::vector<BYTE> bytes;
    unsigned measure;
    int tooDark;
  };
  std::vector<BYTE> oneWhite(4 * 4 * 3, 0);
  oneWhite[5 * 3] = oneWhite[5 * 3 + 1] = oneWhite[5 * 3 + 2] = 255;
  std::vector<BYTE> twoRows(4 * 2 * 3, 0);
  std::fill(twoRows.begin() + 12, twoRows.end(), 16);  // top row; the bottom row is first in memory
  // Runs of 21 bytes: a block of sixteen summed at once and a tail of five,
  // neither of which may be lost or counted twice.
  std::vector<BYTE> unevenRuns(7 * 2 * 3);
  for (size_t i = 0; i < unevenRuns.size(); ++i) unevenRuns[i] = static_cast<BYTE>(i * 37 % 256);
  const Case cases[] = {
      {"all 7", 4, 2, std::vector<BYTE>(24, 7), 63, 1},
      {"all 8", 4, 2, std::vector<BYTE>(24, 8), 72, 0},
      {"one white pixel", 4, 4, oneWhite, 143, 0},
      {"two rows", 4, 2, twoRows, 72, 0},
      {"runs of a block and a tail", 7, 2, unevenRuns, 1066, 0},
      {"all 255", 4, 2, std::vector<BYTE>(24, 255), 2295, 0},
      {"negative height", 4, -2, std::vector<BYTE>(24, 255), 0, 1},
      {"zero width", 0, 2, std::vector<BYTE>(24, 255), 0, 1},
      {"negative width", -4, 2, std::vector<BYTE>(24, 255), 0, 1},
  };
  for (const Case& c : cases) {
    Measured m = Measure(c.width, c.height, 24, c.bytes);
    EXPECT_EQ(m.tooDark, c.tooDark) << c.what;
    EXPECT_EQ(m.traces, std::vector<std::string>{"too dark : " + std::to_string(c.measure) + " "}) << c.what;
  }
}

TEST(IsTooDark, BrightFramesTooLargeForThirtyTwoBitSumsStillMeasure) {
  // One row whose byte sum passes 2^32, and a column whose running total does.
  Measured wide = Measure(6000000, 1, 24, std::vector<BYTE>(18000000, 255));
  EXPECT_EQ(wide.traces, std::vector<std::string>{"too dark : 2295 "});
  Measured tall = Measure(1, 2000000, 24, std::vector<BYTE>(6000000, 255));
  EXPECT_EQ(tall.traces, std::vector<std::string>{"too dark : 2295 "});
}

TEST(IsTooDark, OtherDepthsPassAndNoFrameIsTooDark) {
  for (WORD bits : {WORD{16}, WORD{32}}) {
    Measured m = Measure(4, 2, bits, std::vector<BYTE>(32, 0));
    EXPECT_EQ(m.tooDark, 0) << bits;
    EXPECT_TRUE(m.traces.empty());
  }
  TraceLog log;
  TDirectShowThumbnailer t;
  EXPECT_EQ(t.BitmapInfo.bmiHeader.biWidth, 0);  // nothing captured reports 0 x 0
  EXPECT_EQ(t.BitmapInfo.bmiHeader.biHeight, 0);
  EXPECT_EQ(t.IsTooDark(), 1);
  EXPECT_TRUE(log.texts.empty());
}

std::vector<BYTE> Ramp(size_t n) {
  std::vector<BYTE> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<BYTE>(i + 1);
  return v;
}

// Captures what the renderer buffered into a thumbnailer that the test then
// inspects; the renderer's reference goes with the thumbnailer.
class GrabFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    renderer = world.AddRenderer();
    thumbnailer = std::make_unique<TDirectShowThumbnailer>();
    renderer->AddRef();
    thumbnailer->MyGrabber = renderer;
  }
  void TearDown() override {
    thumbnailer.reset();
    world.ExpectAllReleased();
  }
  std::vector<BYTE> Pixels() const {
    return std::vector<BYTE>(thumbnailer->Bits, thumbnailer->Bits + BitmapPixelBytes(thumbnailer->Bitmap));
  }

  FakeWorld world;
  FakeSampleRenderer* renderer = nullptr;
  std::unique_ptr<TDirectShowThumbnailer> thumbnailer;
};

TEST_F(GrabFrame, CopiesTheHeaderAndTheSample) {
  TraceLog log;
  renderer->Deliver(4, 2, Ramp(24));
  thumbnailer->GrabFrameDX7();
  BITMAPINFO expected{};
  std::memcpy(&expected.bmiHeader, renderer->connected_format.data() + 48, sizeof(BITMAPINFOHEADER));
  EXPECT_EQ(0, std::memcmp(&thumbnailer->BitmapInfo, &expected, sizeof expected));
  ASSERT_NE(thumbnailer->Bits, nullptr);
  EXPECT_EQ(Pixels(), Ramp(24));
  EXPECT_EQ(renderer->copy_sizes, std::vector<LONG>{24});
  std::vector<std::string> steps;
  for (int i = 1; i <= 6; ++i) steps.push_back("TDirectShowThumbnailer::GrabFrameDX7 " + std::to_string(i) + "\n");
  EXPECT_EQ(log.texts, steps);
}

TEST_F(GrabFrame, CopyIsBoundedByThePaddedBitmap) {
  struct Case {
    LONG width, height;
    size_t sample;
    LONG asked;  // the size the renderer is asked to copy
  };
  const Case cases[] = {
      {5, 2, 32, 32},     // rows of 15 bytes padded to 16: the whole picture arrives
      {4, 2, 1000, 24},   // a sample larger than the bitmap fills the bitmap only
      {4, 2, 10, 10},     // a smaller sample fills its own size, the rest stays zero
      {4, -2, 1000, 24},  // a top-down frame is bounded by its rows too
  };
  for (const Case& c : cases) {
    renderer->Deliver(c.width, c.height, Ramp(c.sample));
    renderer->copy_sizes.clear();
    thumbnailer->DeleteFrameBitmap();
    thumbnailer->GrabFrameDX7();
    ASSERT_NE(thumbnailer->Bits, nullptr);
    EXPECT_EQ(renderer->copy_sizes, std::vector<LONG>{c.asked}) << c.width << "x" << c.height;
    std::vector<BYTE> expected = Ramp(c.sample);
    expected.resize(BitmapPixelBytes(thumbnailer->Bitmap), 0);
    EXPECT_EQ(Pixels(), expected) << c.width << "x" << c.height;
  }
}

TEST_F(GrabFrame, NoFrameWithoutAWholeVideoHeader) {
  struct Case {
    const char* what;
    std::function<void(FakeSampleRenderer&)> setup;
    const char* trace;
  };
  const Case cases[] = {
      {"no media type", [](FakeSampleRenderer& r) { r.get_media_type_hr = E_FAIL; },
       "MyGrabber->get_MediaType failed\n"},
      {"no format block", [](FakeSampleRenderer& r) { r.connected_format.clear(); }, "!pVideoHeader\n"},
      {"another format type", [](FakeSampleRenderer& r) { r.connected.formattype = FORMAT_WaveFormatEx; },
       "!pVideoHeader\n"},
      {"a short block", [](FakeSampleRenderer& r) { r.connected_format.resize(87); }, "!pVideoHeader\n"},
      {"a bitmap that cannot be made", [](FakeSampleRenderer& r) { r.Deliver(0, 2, Ramp(24)); }, nullptr},
  };
  for (const Case& c : cases) {
    renderer->Deliver(4, 2, Ramp(24));
    renderer->get_media_type_hr = S_OK;
    c.setup(*renderer);
    TraceLog log;
    thumbnailer->GrabFrameDX7();
    EXPECT_EQ(thumbnailer->Bits, nullptr) << c.what;
    EXPECT_EQ(thumbnailer->Bitmap, nullptr) << c.what;
    EXPECT_TRUE(renderer->copy_sizes.empty()) << c.what;
    if (c.trace) {
      EXPECT_TRUE(log.Has(c.trace)) << c.what;
    }
    EXPECT_EQ(thumbnailer->IsTooDark(), 1) << c.what;
  }
}

// Caught: no sample, or a picture the renderer could not make when it was
// read, passing for a black frame (sent as the thumbnail at the last
// position).
TEST_F(GrabFrame, NoBufferedSampleLeavesNoFrame) {
  for (bool atCopy : {false, true}) {
    TraceLog log;
    renderer->Deliver(4, 2, Ramp(24));
    renderer->copy_sizes.clear();
    renderer->size_hr = atCopy ? S_OK : E_FAIL;
    renderer->copy_hr = atCopy ? E_OUTOFMEMORY : S_OK;
    thumbnailer->GrabFrameDX7();
    EXPECT_EQ(thumbnailer->Bits, nullptr) << atCopy;
    EXPECT_EQ(thumbnailer->Bitmap, nullptr) << atCopy;
    EXPECT_EQ(renderer->copy_sizes.size(), atCopy ? 1u : 0u);
    EXPECT_TRUE(log.Has("MyGrabber->GetCurrentBuffer failed\n")) << atCopy;
    EXPECT_EQ(thumbnailer->IsTooDark(), 1) << atCopy;
  }
}

}  // namespace
