// Precise seeks in the containers whose timestamps mislead a naive seek:
// transport and program streams (seeks land after the key frame, non-zero
// start times), AVI with B-frames (decoding times only), Matroska's coarse
// time base; and positions past the last video frame.
#include <gtest/gtest.h>

#include "tests/platform/media/graph_harness.h"

namespace media_test {
namespace {

constexpr char kMotion[] = "-f lavfi -i testsrc2=size=320x240:rate=50:duration=3 ";

struct Container {
  const char* name;
  std::string recipe;
};

void PrintTo(const Container& c, std::ostream* os) { *os << c.name; }

class SeekAccuracy : public testing::TestWithParam<Container> {};

TEST_P(SeekAccuracy, EveryPositionInOneRunningGraph) {
  std::string path = Fixture(GetParam().name, GetParam().recipe);
  GraphHarness h;
  ASSERT_TRUE(SUCCEEDED(h.Render(path)));
  ASSERT_TRUE(h.Splice());
  Picture last = ReferenceFrame(path, 2.98);
  for (double t : {0.3, 0.52, 1.5, 2.0, 0.04, 2.98, 1.0, 0.0}) {
    EXPECT_GE(Psnr(h.FrameAt(t), ReferenceFrame(path, t)), 35.0) << "at " << t;
  }
  // Past the end of the video: its last frame.
  EXPECT_GE(Psnr(h.FrameAt(7.0), last), 35.0);
  EXPECT_GE(Psnr(h.FrameAt(1.2), ReferenceFrame(path, 1.2)), 35.0);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, SeekAccuracy,
    testing::Values(Container{"seek-mpeg2.ts", std::string(kMotion) + "-c:v mpeg2video -q:v 2 -bf 2 -g 12 -f mpegts"},
                    Container{"seek-h264.ts", std::string(kMotion) + "-c:v libx264 -preset veryfast -g 30 -bf 3 "
                                                                     "-pix_fmt yuv420p -f mpegts"},
                    Container{"seek-mpeg2.mpg", std::string(kMotion) + "-c:v mpeg2video -q:v 2 -bf 2 -g 12 -f vob"},
                    Container{"seek-mpeg4-bframes.avi", std::string(kMotion) + "-c:v mpeg4 -q:v 2 -bf 2 -g 30"},
                    Container{"seek-h264-bframes.avi",
                              std::string(kMotion) + "-c:v libx264 -preset veryfast -g 30 -bf 3 -pix_fmt yuv420p"},
                    Container{"seek-h264.mkv",
                              std::string(kMotion) + "-c:v libx264 -preset veryfast -g 30 -bf 3 -pix_fmt yuv420p"},
                    Container{"seek-h264-25tb.mp4", std::string(kMotion) + "-c:v libx264 -preset veryfast -g 30 "
                                                                           "-pix_fmt yuv420p -video_track_timescale 50"}),
    [](const testing::TestParamInfo<Container>& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

std::string ShortVideoLongAudio() {
  return Fixture("short-video.mp4",
                 "-f lavfi -i testsrc2=size=320x240:rate=50:duration=1 -f lavfi -i sine=duration=3 "
                 "-c:v libx264 -preset veryfast -g 25 -pix_fmt yuv420p -c:a aac");
}

TEST(SeekAccuracy, VideoShorterThanAudioGivesItsLastFrame) {
  std::string path = ShortVideoLongAudio();
  GraphHarness h;
  ASSERT_EQ(h.Render(path), S_OK);
  ASSERT_TRUE(h.Splice());
  Picture last = ReferenceFrame(path, 0.98);
  EXPECT_GE(Psnr(h.FrameAt(2.0), last), 35.0);
  EXPECT_GE(Psnr(h.FrameAt(0.5), ReferenceFrame(path, 0.5)), 35.0);
}

TEST(SeekAccuracy, BetweenFrameBoundariesTheFrameShownThere) {
  std::string path = Fixture("seek-h264.mkv", std::string(kMotion) + "-c:v libx264 -preset veryfast -g 30 -bf 3 "
                                                                     "-pix_fmt yuv420p");
  GraphHarness h;
  ASSERT_EQ(h.Render(path), S_OK);
  ASSERT_TRUE(h.Splice());
  // The frame whose interval covers the position, not the next one.
  EXPECT_GE(Psnr(h.FrameAt(0.31), ReferenceFrame(path, 0.30)), 35.0);
  EXPECT_GE(Psnr(h.FrameAt(1.5399), ReferenceFrame(path, 1.52)), 35.0);
  EXPECT_LT(Psnr(h.FrameAt(0.31), ReferenceFrame(path, 0.32)), 35.0);
}

TEST(SeekAccuracy, DurationIsTheFilesInMediaTime) {
  std::string path = ShortVideoLongAudio();
  GraphHarness h;
  ASSERT_EQ(h.Render(path), S_OK);
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(h.graph()->QueryInterface(IID_IMediaSeeking, seeking.put_void()), S_OK);
  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_NEAR(static_cast<double>(duration), 3e7, 2e5);
  EXPECT_EQ(seeking->GetDuration(nullptr), E_POINTER);
}

}  // namespace
}  // namespace media_test
