// The picture the graph delivers at a position is the one the ffmpeg tool
// shows there, for each kind of stream a decoder meets.
#include <gtest/gtest.h>

#include "tests/platform/media/graph_harness.h"

namespace media_test {
namespace {

constexpr char kMotion[] = "-f lavfi -i testsrc2=size=320x240:rate=50:duration=3 ";

std::string H264() {
  return Fixture("plain-h264.mp4", std::string(kMotion) + "-c:v libx264 -preset veryfast -g 40 -pix_fmt yuv420p");
}

std::string Anamorphic() {
  return Fixture("sar43-h264.mp4", std::string(kMotion) + "-vf setsar=4/3 -c:v libx264 -preset veryfast -g 40");
}

struct Case {
  const char* name;
  std::string recipe;
  GUID decoderSubtype;
  int width;
  int height;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class DecodedPicture : public testing::TestWithParam<Case> {};

TEST_P(DecodedPicture, MatchesTheReferenceFrameAtEachPosition) {
  const Case& c = GetParam();
  std::string path = Fixture(c.name, c.recipe);
  GraphHarness h;
  ASSERT_TRUE(SUCCEEDED(h.Render(path)));
  ASSERT_TRUE(h.Splice());
  EXPECT_EQ(h.decoderSubtype(), c.decoderSubtype);
  EXPECT_EQ(h.usedConverter(), c.decoderSubtype != MEDIASUBTYPE_RGB24);
  for (double t : {0.3, 1.52, 0.0}) {
    Picture ours = h.FrameAt(t);
    EXPECT_EQ(ours.width, c.width) << "at " << t;
    EXPECT_EQ(ours.height, c.height) << "at " << t;
    EXPECT_GE(Psnr(ours, ReferenceFrame(path, t)), 35.0) << "at " << t;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, DecodedPicture,
    testing::Values(
        Case{"h264.mp4", std::string(kMotion) + "-c:v libx264 -preset veryfast -g 40 -pix_fmt yuv420p",
             MEDIASUBTYPE_IYUV, 320, 240},
        Case{"hevc8.mp4", std::string(kMotion) + "-c:v libx265 -preset ultrafast -x265-params log-level=none -g 40 "
                                                 "-pix_fmt yuv420p",
             MEDIASUBTYPE_IYUV, 320, 240},
        Case{"hevc10.mkv", std::string(kMotion) + "-c:v libx265 -preset ultrafast -x265-params log-level=none -g 40 "
                                                  "-pix_fmt yuv420p10le",
             MEDIASUBTYPE_IYUV, 320, 240},
        Case{"vp9.webm", std::string(kMotion) + "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -g 40 -b:v 1M",
             MEDIASUBTYPE_IYUV, 320, 240},
        Case{"mpeg4.avi", std::string(kMotion) + "-c:v mpeg4 -q:v 2 -bf 2 -g 40", MEDIASUBTYPE_IYUV, 320, 240},
        Case{"mpeg2.ts", std::string(kMotion) + "-c:v mpeg2video -q:v 2 -bf 2 -g 15 -f mpegts", MEDIASUBTYPE_IYUV,
             320, 240},
        Case{"mjpeg.avi", std::string(kMotion) + "-c:v mjpeg -q:v 2 -pix_fmt yuvj422p", MEDIASUBTYPE_YUY2, 320, 240},
        Case{"bgr24.avi", std::string(kMotion) + "-c:v rawvideo -pix_fmt bgr24", MEDIASUBTYPE_RGB24, 320, 240},
        Case{"bgra.avi", std::string(kMotion) + "-c:v rawvideo -pix_fmt bgra", MEDIASUBTYPE_RGB32, 320, 240},
        Case{"yuyv.avi", std::string(kMotion) + "-c:v rawvideo -pix_fmt yuyv422", MEDIASUBTYPE_YUY2, 320, 240},
        Case{"palette.gif", std::string(kMotion) + "-c:v gif", MEDIASUBTYPE_RGB32, 320, 240},
        Case{"yuv444.mp4", std::string(kMotion) + "-c:v libx264 -preset veryfast -g 40 -pix_fmt yuv444p",
             MEDIASUBTYPE_RGB24, 320, 240},
        Case{"odd-width.mp4",
             "-f lavfi -i testsrc2=size=362x242:rate=50:duration=3 -c:v libx264 -preset veryfast -g 40 "
             "-pix_fmt yuv420p",
             MEDIASUBTYPE_IYUV, 362, 242},
        // The muxer keeps a rotation only when the stream is copied.
        Case{"rotated.mp4", "-i " + ShellQuote(H264()) + " -c copy -metadata:s:v:0 rotate=90", MEDIASUBTYPE_IYUV,
             240, 320},
        Case{"upside-down.mp4", "-i " + ShellQuote(H264()) + " -c copy -metadata:s:v:0 rotate=180",
             MEDIASUBTYPE_IYUV, 320, 240},
        Case{"rotated-anamorphic.mp4", "-i " + ShellQuote(Anamorphic()) + " -c copy -metadata:s:v:0 rotate=270",
             MEDIASUBTYPE_RGB24, 180, 320},
        Case{"anamorphic.mp4", "-i " + ShellQuote(Anamorphic()) + " -c copy", MEDIASUBTYPE_RGB24, 426, 240},
        Case{"full-range.mp4",
             std::string(kMotion) + "-vf scale=out_range=full -c:v libx264 -preset veryfast -g 40 -pix_fmt yuvj420p "
                                    "-color_range pc",
             MEDIASUBTYPE_IYUV, 320, 240},
        Case{"bt709.mp4",
             std::string(kMotion) + "-vf scale=out_color_matrix=bt709 -c:v libx264 -preset veryfast -g 40 "
                                    "-colorspace bt709 -color_primaries bt709 -color_trc bt709",
             MEDIASUBTYPE_IYUV, 320, 240},
        // The BT.2020 matrix alone: wider primaries and HDR transfers are
        // the viewing tests' part.
        Case{"bt2020-matrix.mkv",
             std::string(kMotion) + "-vf scale=out_color_matrix=bt2020 -c:v libx265 -preset ultrafast "
                                    "-x265-params log-level=none -g 40 -pix_fmt yuv420p10le -colorspace bt2020nc "
                                    "-color_primaries bt709 -color_trc bt709",
             MEDIASUBTYPE_IYUV, 320, 240}),
    CaseName<Case>);

}  // namespace
}  // namespace media_test
