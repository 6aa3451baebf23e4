// The frame a person looks at: HDR and wide-gamut pictures come back with
// the colours and brightness of the SDR picture they were made from,
// interlaced motion without its comb of fields, mirrored video mirrored.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>

#include "tests/platform/media/graph_harness.h"

namespace media_test {
namespace {

// testsrc2 softened a little: its hard colour edges alone, through 4:2:0,
// cost more than the conversion under test.
constexpr char kScene[] = "-f lavfi -i testsrc2=size=320x240:rate=25:duration=2 ";
constexpr char kSoftened[] = "format=gbrp,gblur=sigma=1.5";
constexpr double kAt = 0.48;

// The SDR picture every colour fixture is made from, losslessly kept.
std::string Original() { return Fixture("scene-gbrp.mkv", std::string(kScene) + "-vf " + kSoftened + " -c:v ffv1"); }

// The scene carried into another transfer and BT.2020 the way a grading tool
// does it: SDR white at BT.2408's reference white, 203 cd/m².
std::string Carried(const std::string& transfer, const std::string& encoder) {
  return std::string(kScene) +
         "-vf " + kSoftened + ",zscale=tin=bt709:pin=bt709:min=gbr:rin=full:t=" + transfer +
         ":p=bt2020:m=bt2020nc:r=limited:npl=203,format=yuv420p10le " + encoder +
         " -color_primaries bt2020 -color_trc " + transfer + " -colorspace bt2020nc";
}

constexpr char kHevc[] = "-c:v libx265 -preset ultrafast -x265-params log-level=none:crf=16 -g 25";
constexpr char kAv1[] = "-c:v libaom-av1 -cpu-used 8 -row-mt 1 -crf 20 -g 25";
constexpr char kVp9[] = "-c:v libvpx-vp9 -profile:v 2 -deadline realtime -cpu-used 8 -crf 20 -b:v 0 -g 25";

struct ColourCase {
  const char* name;
  std::string recipe;
  double minPsnr;
};

void PrintTo(const ColourCase& c, std::ostream* os) { *os << c.name; }

class ViewedColour : public testing::TestWithParam<ColourCase> {};

// Caught: HDR samples converted as if they were SDR BT.709 (washed out,
// PQ far too dark), BT.2020 primaries shown as BT.709 ones (desaturated).
TEST_P(ViewedColour, LooksLikeTheSdrPictureItWasMadeFrom) {
  const ColourCase& c = GetParam();
  std::string path = Fixture(c.name, c.recipe);
  GraphHarness h;
  ASSERT_TRUE(SUCCEEDED(h.Render(path)));
  ASSERT_TRUE(h.Splice());
  Picture ours = h.FrameAt(kAt);
  Picture original = ReferenceFrame(Original(), kAt);
  ASSERT_EQ(ours.width, original.width);
  EXPECT_GE(Psnr(ours, original), c.minPsnr);
}

INSTANTIATE_TEST_SUITE_P(
    Transfers, ViewedColour,
    testing::Values(ColourCase{"pq-hevc.mkv", Carried("smpte2084", kHevc), 22.0},
                    ColourCase{"hlg-hevc.mkv", Carried("arib-std-b67", kHevc), 22.0},
                    ColourCase{"pq-av1.mkv", Carried("smpte2084", kAv1), 22.0},
                    ColourCase{"hlg-av1.mkv", Carried("arib-std-b67", kAv1), 22.0},
                    ColourCase{"pq-vp9.webm", Carried("smpte2084", kVp9), 22.0},
                    ColourCase{"hlg-vp9.webm", Carried("arib-std-b67", kVp9), 22.0},
                    ColourCase{"bt2020-sdr-hevc.mkv", Carried("bt2020-10", kHevc), 25.0}),
    CaseName<ColourCase>);

// Fast sideways motion, so that the two fields of a frame differ.
constexpr char kScrolling[] = "-f lavfi -i testsrc2=size=320x240:rate=50:duration=2 -vf scroll=horizontal=0.02";

// The mean difference between vertically neighbouring pixels: a comb of two
// fields doubles it and more.
double RowRoughness(const Picture& p) {
  double sum = 0;
  for (int y = 0; y + 1 < p.height; ++y)
    for (int x = 0; x < p.width * 3; ++x)
      sum += std::abs(p.bgr[(y * p.width) * 3 + x] - p.bgr[((y + 1) * p.width) * 3 + x]);
  return sum / (static_cast<double>(p.height - 1) * p.width * 3);
}

struct InterlacedCase {
  const char* name;
  std::string recipe;
};

void PrintTo(const InterlacedCase& c, std::ostream* os) { *os << c.name; }

class InterlacedVideo : public testing::TestWithParam<InterlacedCase> {};

// Caught: a frame of two fields delivered as it is, with moving edges
// combed.
TEST_P(InterlacedVideo, ShowsNoCombOnMovingContent) {
  std::string progressive = Fixture("scrolling.mkv", std::string(kScrolling) + ",format=gbrp -c:v ffv1");
  std::string path = Fixture(GetParam().name, std::string(kScrolling) + "," + GetParam().recipe);
  GraphHarness h;
  ASSERT_TRUE(SUCCEEDED(h.Render(path)));
  ASSERT_TRUE(h.Splice());
  Picture ours = h.FrameAt(1.0);
  ASSERT_EQ(ours.height, 240);
  EXPECT_LE(RowRoughness(ours), 1.5 * RowRoughness(ReferenceFrame(progressive, 1.0)));
}

INSTANTIATE_TEST_SUITE_P(
    FieldOrders, InterlacedVideo,
    testing::Values(
        InterlacedCase{"interlaced-tff.mpg", "interlace=scan=tff -c:v mpeg2video -q:v 2 -flags +ildct+ilme -top 1"},
        InterlacedCase{"interlaced-bff.mpg", "interlace=scan=bff -c:v mpeg2video -q:v 2 -flags +ildct+ilme -top 0"},
        InterlacedCase{"interlaced-h264.mkv",
                       "interlace=scan=tff -c:v libx264 -preset veryfast -x264-params interlaced=1:tff=1 "
                       "-pix_fmt yuv420p -field_order tt"}),
    CaseName<InterlacedCase>);

// A movie's first track header with its display matrix replaced: the
// ffmpeg tool writes turns only, cameras and editors also write flips.
std::string WithDisplayMatrix(const std::string& path, const int32_t matrix[9]) {
  std::ifstream in(path, std::ios::binary);
  std::string movie((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t tkhd = movie.find("tkhd");
  // Version 0: version and flags, two times, the track id, four reserved
  // bytes, the duration, eight reserved bytes, layer, group, volume and two
  // reserved bytes come before the matrix.
  const size_t at = tkhd + 4 + 40;
  if (tkhd == std::string::npos || at + 36 > movie.size()) return "";
  for (int i = 0; i < 9; ++i)
    for (int b = 0; b < 4; ++b) movie[at + 4 * i + b] = static_cast<char>(static_cast<uint32_t>(matrix[i]) >> (24 - 8 * b));
  return movie;
}

// Where the pixel at (x, y) of the shown picture comes from in the coded
// one, for a coded picture of w x h.
using SourceOf = std::function<std::pair<int, int>(int x, int y, int w, int h)>;

struct MirrorCase {
  const char* name;
  int32_t matrix[9];
  SourceOf source;
  bool sideways;
};

void PrintTo(const MirrorCase& c, std::ostream* os) { *os << c.name; }

class MirroredVideo : public testing::TestWithParam<MirrorCase> {};

// Caught: a display matrix that flips as well as turns applied as a turn
// only (a mirror shown as a half turn, a transpose as a quarter turn).
TEST_P(MirroredVideo, IsShownMirrored) {
  const MirrorCase& c = GetParam();
  std::string plain = Fixture("upright.mp4", std::string(kScene) + "-c:v libx264 -preset veryfast -g 25 -pix_fmt yuv420p");
  std::string movie = WithDisplayMatrix(plain, c.matrix);
  ASSERT_FALSE(movie.empty());
  std::string path = BytesFixture(std::string(c.name) + ".mp4", movie);
  GraphHarness h;
  ASSERT_TRUE(SUCCEEDED(h.Render(path)));
  ASSERT_TRUE(h.Splice());
  Picture ours = h.FrameAt(kAt);
  Picture coded = ReferenceFrame(plain, kAt);
  Picture expected;
  expected.width = c.sideways ? coded.height : coded.width;
  expected.height = c.sideways ? coded.width : coded.height;
  expected.bgr.resize(coded.bgr.size());
  for (int y = 0; y < expected.height; ++y)
    for (int x = 0; x < expected.width; ++x) {
      auto [sx, sy] = c.source(x, y, coded.width, coded.height);
      for (int k = 0; k < 3; ++k)
        expected.bgr[(y * expected.width + x) * 3 + k] = coded.bgr[(sy * coded.width + sx) * 3 + k];
    }
  EXPECT_GE(Psnr(ours, expected), 35.0);
}

constexpr int32_t kOne = 1 << 16;
constexpr int32_t kW = 1 << 30;

INSTANTIATE_TEST_SUITE_P(
    Flips, MirroredVideo,
    testing::Values(
        MirrorCase{"mirrored", {-kOne, 0, 0, 0, kOne, 0, 0, 0, kW},
                   [](int x, int y, int w, int) { return std::make_pair(w - 1 - x, y); }, false},
        MirrorCase{"upside-down-mirror", {kOne, 0, 0, 0, -kOne, 0, 0, 0, kW},
                   [](int x, int y, int, int h) { return std::make_pair(x, h - 1 - y); }, false},
        MirrorCase{"transposed", {0, kOne, 0, kOne, 0, 0, 0, 0, kW},
                   [](int x, int y, int, int) { return std::make_pair(y, x); }, true},
        MirrorCase{"anti-transposed", {0, -kOne, 0, -kOne, 0, 0, 0, 0, kW},
                   [](int x, int y, int w, int h) { return std::make_pair(w - 1 - y, h - 1 - x); }, true}),
    CaseName<MirrorCase>);

}  // namespace
}  // namespace media_test
