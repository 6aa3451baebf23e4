// Precise seeks in the containers whose timestamps mislead a naive seek:
// transport and program streams (seeks land after the key frame, non-zero
// start times), AVI with B-frames (decoding times only), Matroska's coarse
// time base, a file with no index to seek by; and positions past the last
// video frame.
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

std::string ContainerTestName(const testing::TestParamInfo<Container>& info) {
  std::string n = info.param.name;
  for (char& ch : n)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n;
}

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
                    // Matroska with no index at all (VC-2 blocks give the
                    // demuxer none): no seek works, not even to the start.
                    Container{"seek-vc2-noindex.mkv", std::string(kMotion) + "-c:v vc2 -b:v 5M"},
                    Container{"seek-h264-25tb.mp4", std::string(kMotion) + "-c:v libx264 -preset veryfast -g 30 "
                                                                           "-pix_fmt yuv420p -video_track_timescale 50"}),
    ContainerTestName);

// One group of pictures for the whole file, so that every later position is
// reached by decoding on from the one before: each must still give the frame
// a seek gives, also one and a half frames on, where the picture decoded just
// past the last stop is the one shown.
class ForwardPositions : public testing::TestWithParam<Container> {};

TEST_P(ForwardPositions, GiveTheFramesOfAPreciseSeek) {
  std::string path = Fixture(GetParam().name, GetParam().recipe);
  // Position, and the start of the 20 ms frame shown there.
  const std::pair<double, double> steps[] = {{0.3, 0.3},   {0.33, 0.32}, {0.37, 0.36}, {0.41, 0.4},
                                             {0.5, 0.5},   {0.75, 0.74}, {1.13, 1.12}, {1.13, 1.12},
                                             {2.5, 2.5},   {2.97, 2.96}, {0.1, 0.1},   {0.6, 0.6}};
  // A one-shot renderer stops the graph at the first frame; otherwise the
  // graph runs until the decoder has passed the stop, and the picture it
  // decoded there is the next position's.
  for (bool oneShot : {true, false}) {
    GraphHarness h;
    ASSERT_TRUE(SUCCEEDED(h.Render(path)));
    ASSERT_TRUE(h.Splice());
    h.grabber()->SetOneShot(oneShot ? TRUE : FALSE);
    for (auto [position, shown] : steps) {
      EXPECT_GE(Psnr(h.FrameAt(position), ReferenceFrame(path, shown)), 35.0)
          << "at " << position << (oneShot ? " one shot" : " to the stop");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    OneGroup, ForwardPositions,
    testing::Values(Container{"forward-h264.mp4", std::string(kMotion) + "-c:v libx264 -preset veryfast -g 250 -bf 3 "
                                                                         "-pix_fmt yuv420p"},
                    Container{"forward-h264-nob.mkv", std::string(kMotion) + "-c:v libx264 -preset veryfast -g 50 "
                                                                             "-bf 0 -pix_fmt yuv420p"},
                    // Cues for the first key frame only: an index that ends
                    // before every later position.
                    Container{"forward-h264-onekey.mkv", std::string(kMotion) + "-c:v libx264 -preset veryfast "
                                                                                "-g 250 -bf 3 -pix_fmt yuv420p"},
                    Container{"forward-mpeg4.avi", std::string(kMotion) + "-c:v mpeg4 -q:v 2 -bf 2 -g 250"},
                    Container{"forward-vp9.webm", std::string(kMotion) + "-c:v libvpx-vp9 -deadline realtime -g 50 "
                                                                         "-cpu-used 8 -b:v 1M"}),
    ContainerTestName);

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
