// The frame a person looks at: HDR and wide-gamut pictures come back with
// the colours and brightness of the SDR picture they were made from,
// interlaced motion without its comb of fields, mirrored video mirrored.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

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
    [](const testing::TestParamInfo<ColourCase>& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

}  // namespace
}  // namespace media_test
