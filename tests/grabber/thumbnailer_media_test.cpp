// The grabber over the real media platform, on files made by the ffmpeg tool.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "grabber/interface_batch.h"
#include "grabber/media_type.h"
#include "grabber/thumbnailer.h"
#include "platform/com/com_runtime.h"
#include "platform/media/graph/media_classes.h"
#include "tests/support/fixtures.h"

namespace {

class MediaThumbnailer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterMediaClasses(); }
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
};

// The thumbnailer's frame as top-down rows of width * 3 bytes.
Picture FrameOf(const TDirectShowThumbnailer& t) {
  Picture pic;
  const BITMAPINFOHEADER& h = t.BitmapInfo.bmiHeader;
  if (!t.Bits || h.biBitCount != 24 || h.biHeight <= 0) return pic;
  pic.width = h.biWidth;
  pic.height = h.biHeight;
  size_t row = static_cast<size_t>(pic.width) * 3;
  size_t stride = (row + 3) / 4 * 4;
  for (int y = pic.height - 1; y >= 0; --y)
    pic.bgr.insert(pic.bgr.end(), t.Bits + y * stride, t.Bits + y * stride + row);
  return pic;
}

// Calls `each` with the connection type of every connected pin of the graph.
void ForEachConnection(IGraphBuilder* graph, const std::function<void(const AM_MEDIA_TYPE&)>& each) {
  ComPtr<IEnumFilters> filters;
  ASSERT_TRUE(SUCCEEDED(graph->EnumFilters(filters.put())));
  InterfaceBatch<IBaseFilter, 100> batch;
  ASSERT_TRUE(SUCCEEDED(batch.Fetch(filters.get())));
  for (ULONG i = 0; i < batch.size(); ++i) {
    ComPtr<IEnumPins> pins;
    ASSERT_TRUE(SUCCEEDED(batch.Take(i)->EnumPins(pins.put())));
    InterfaceBatch<IPin, 100> pinBatch;
    ASSERT_TRUE(SUCCEEDED(pinBatch.Fetch(pins.get())));
    for (ULONG j = 0; j < pinBatch.size(); ++j) {
      AM_MEDIA_TYPE type{};
      if (pinBatch.Take(j)->ConnectionMediaType(&type) == S_OK) each(type);
      FreeMediaType(type);
    }
  }
}

size_t Connections(IGraphBuilder* graph, const GUID& majortype) {
  size_t n = 0;
  ForEachConnection(graph, [&](const AM_MEDIA_TYPE& type) { n += type.majortype == majortype; });
  return n;
}

TEST_F(MediaThumbnailer, ADarkStartGivesTheFirstBrightPosition) {
  // Black for one second, then a test picture: 0.3 s and 0.52 s are too dark,
  // 1.5 s is the frame chosen.
  const std::string video = Fixture(
      "dark-start.mp4",
      "-f lavfi -i color=c=black:s=320x240:r=50:d=1 -f lavfi -i testsrc2=s=320x240:r=50:d=2 "
      "-filter_complex '[0:v][1:v]concat=n=2:v=1[v]' -map '[v]' -pix_fmt yuv420p -c:v libx264 -g 25");
  TDirectShowThumbnailer t;
  ASSERT_EQ(t.ThumbnailFile(video.c_str()), 1);
  EXPECT_EQ(t.IsTooDark(), 0);
  Picture reference = ReferenceFrame(video, 1.5);
  ASSERT_EQ(reference.width, 320);
  EXPECT_GE(Psnr(FrameOf(t), reference), 35.0);
  EXPECT_LT(Psnr(FrameOf(t), ReferenceFrame(video, 2.0)), Psnr(FrameOf(t), reference));
}

// Caught: the six positions past the end of a one-second clip (each half
// its duration) giving another frame than seeking there gives, when the
// frame there is given again instead of being decoded again.
TEST_F(MediaThumbnailer, AShortClipDarkThroughoutGivesTheFrameAtHalfItsDuration) {
  const std::string video =
      Fixture("dark-short.mp4",
              "-f lavfi -i testsrc2=s=320x240:r=50:d=1 -vf lutyuv=y=16+val/64:u=128:v=128 -pix_fmt yuv420p "
              "-c:v libx264 -bf 3 -g 50");
  TDirectShowThumbnailer t;
  ASSERT_EQ(t.ThumbnailFile(video.c_str()), 1);
  EXPECT_EQ(t.IsTooDark(), 1);
  const Picture half = ReferenceFrame(video, 0.5);
  ASSERT_EQ(half.width, 320);
  EXPECT_GE(Psnr(FrameOf(t), half), 35.0);
  EXPECT_GT(Psnr(FrameOf(t), half), Psnr(FrameOf(t), ReferenceFrame(video, 0.52)));
  EXPECT_GT(Psnr(FrameOf(t), half), Psnr(FrameOf(t), ReferenceFrame(video, 0.48)));
}

// Caught: a 10-bit HDR decoder output that the grabber does not take (no
// pin qualifies, so the file fails), or that reaches the frame unmapped.
TEST_F(MediaThumbnailer, AnHdrVideoGivesItsSceneInSdr) {
  const std::string scene = "-f lavfi -i testsrc2=s=320x240:r=25:d=2 -vf format=gbrp,gblur=sigma=1.5";
  const std::string original = Fixture("hdr-scene.mkv", scene + " -c:v ffv1");
  const std::string video = Fixture(
      "hdr-pq.mkv", scene +
                        ",zscale=tin=bt709:pin=bt709:min=gbr:rin=full:t=smpte2084:p=bt2020:m=bt2020nc:r=limited:"
                        "npl=203,format=yuv420p10le -c:v libx265 -preset ultrafast -x265-params log-level=none:crf=16 "
                        "-color_primaries bt2020 -color_trc smpte2084 -colorspace bt2020nc");
  TDirectShowThumbnailer t;
  ASSERT_EQ(t.ThumbnailFile(video.c_str()), 1);
  EXPECT_GE(Psnr(FrameOf(t), ReferenceFrame(original, 0.28)), 22.0);
}

TEST_F(MediaThumbnailer, RowsThatNeedPaddingArriveWhole) {
  // 322 pixels make rows of 966 bytes, padded to 968 in the bitmap. In 4:2:0
  // the converter's fast path works in groups of 8 pixels, which 322 is not.
  for (const char* format : {"yuv444p", "yuv420p"}) {
    SCOPED_TRACE(format);
    const std::string video = Fixture(std::string("padded-322-") + format + ".mkv",
                                      std::string("-f lavfi -i testsrc2=s=322x240:r=50:d=1 -pix_fmt ") + format +
                                          " -c:v ffv1");
    TDirectShowThumbnailer t;
    ASSERT_EQ(t.ThumbnailFile(video.c_str()), 1);
    EXPECT_EQ(t.BitmapInfo.bmiHeader.biWidth, 322);
    EXPECT_GE(Psnr(FrameOf(t), ReferenceFrame(video, 0.3)), 35.0);
  }
}

TEST_F(MediaThumbnailer, TheAudioBranchIsGoneAfterThePrune) {
  const std::string video = Fixture(
      "with-audio.mp4",
      "-f lavfi -i testsrc2=s=320x240:r=50:d=2 -f lavfi -i sine=f=440:d=2 -pix_fmt yuv420p -c:v libx264 -c:a aac");
  {
    ComPtr<IGraphBuilder> rendered;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                           rendered.put_void())));
    std::wstring wide(video.begin(), video.end());
    ASSERT_TRUE(SUCCEEDED(rendered->RenderFile(wide.c_str(), nullptr)));
    ASSERT_GT(Connections(rendered.get(), MEDIATYPE_Audio), 0u);
  }
  TDirectShowThumbnailer t;
  ASSERT_EQ(t.ThumbnailFile(video.c_str()), 1);
  EXPECT_EQ(Connections(t.pGraph, MEDIATYPE_Audio), 0u);
  EXPECT_GT(Connections(t.pGraph, MEDIATYPE_Video), 0u);
  EXPECT_GE(Psnr(FrameOf(t), ReferenceFrame(video, 0.3)), 35.0);
}

TEST_F(MediaThumbnailer, AFileThatCannotBeRenderedFails) {
  const std::string junk = BytesFixture("junk.bin", "0123456789");
  TDirectShowThumbnailer t;
  EXPECT_EQ(t.ThumbnailFile(junk.c_str()), 0);
  EXPECT_EQ(t.Bits, nullptr);
}

// A movie whose every sample is zeros: the graph builds and runs, but no
// position yields a picture, and that is a failure, not a black frame.
TEST_F(MediaThumbnailer, AFileWithNothingDecodableFails) {
  const std::string movie = MovieWithZeroedMedia(Fixture(
      "nothing-decodable.mp4", "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -c:v libx264 -pix_fmt yuv420p"));
  ASSERT_FALSE(movie.empty());
  const std::string zeroed = BytesFixture("nothing-decodable.mp4", movie);

  TDirectShowThumbnailer t;
  EXPECT_EQ(t.ThumbnailFile(zeroed.c_str()), 0);
  EXPECT_EQ(t.Bits, nullptr);
  EXPECT_EQ(t.Bitmap, nullptr);
}

// The inputs the media fuzzer found faults with, each named for its fault.
// The sanitizer build stops at the first undefined behaviour, so there this
// fails if a fault comes back; everywhere a frame, when one comes, has the
// size its header says and nothing is left allocated.
TEST_F(MediaThumbnailer, FuzzerFindingsGiveAFrameOrFailCleanly) {
  size_t inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(FUZZ_REGRESSIONS_DIR)) {
    ++inputs;
    SCOPED_TRACE(entry.path().filename().string());
    {
      TDirectShowThumbnailer t;
      if (t.ThumbnailFile(entry.path().c_str()) == 1) {
        ASSERT_NE(t.Bits, nullptr);
        EXPECT_EQ(t.BitmapInfo.bmiHeader.biBitCount, 24);
      }
    }
    EXPECT_EQ(TaskMemOutstanding(), 0u);
  }
  EXPECT_GE(inputs, 3u);
}

}  // namespace
