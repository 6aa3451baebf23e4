#include <gtest/gtest.h>

#include "platform/media/media_classes.h"
#include "tests/platform/media/graph_harness.h"

namespace media_test {
namespace {

std::string H264WithAudio() {
  return Fixture("graph-h264-aac.mp4",
                 "-f lavfi -i testsrc2=size=320x240:rate=50:duration=3 -f lavfi -i sine=frequency=440:duration=3 "
                 "-c:v libx264 -preset veryfast -pix_fmt yuv420p -g 50 -bf 2 -c:a aac -shortest");
}

TEST(FilterGraph, RenderFileBuildsSourceDecodersAndRenderers) {
  std::string path = H264WithAudio();
  GraphHarness h;
  ASSERT_EQ(h.Render(path), S_OK);
  std::vector<FilterView> filters = Describe(h.graph());
  ASSERT_EQ(filters.size(), 5u);
  EXPECT_EQ(filters[0].name, Wide(path));
  ASSERT_EQ(filters[0].pins.size(), 2u);
  EXPECT_EQ(filters[0].pins[0].dir, PINDIR_OUTPUT);
  EXPECT_TRUE(filters[0].pins[0].connected);
  EXPECT_EQ(filters[0].pins[0].major, MEDIATYPE_Video);
  EXPECT_EQ(filters[0].pins[0].sub, FourccGuid('a', 'v', 'c', '1'));
  EXPECT_EQ(filters[0].pins[1].major, MEDIATYPE_Audio);

  std::vector<std::wstring> names;
  for (auto& f : filters) names.push_back(f.name);
  EXPECT_EQ(names[1], L"Video Decoder");
  EXPECT_EQ(names[2], L"Video Renderer");
  EXPECT_EQ(names[3], L"Audio Decoder");
  EXPECT_EQ(names[4], L"Audio Renderer");
  ASSERT_EQ(filters[1].pins.size(), 2u);
  EXPECT_EQ(filters[1].pins[0].dir, PINDIR_INPUT);
  EXPECT_EQ(filters[1].pins[1].dir, PINDIR_OUTPUT);
  EXPECT_EQ(filters[1].pins[1].major, MEDIATYPE_Video);
  EXPECT_EQ(filters[1].pins[1].sub, MEDIASUBTYPE_IYUV);
  EXPECT_EQ(filters[2].pins.size(), 1u);
  EXPECT_TRUE(filters[2].pins[0].connected);
}

TEST(FilterGraph, SplicedYuvDecoderGivesTheFrameAtEachSeek) {
  std::string path = H264WithAudio();
  GraphHarness h;
  ASSERT_EQ(h.Render(path), S_OK);
  ASSERT_TRUE(h.Splice());
  EXPECT_TRUE(h.usedConverter());
  // Eight seeks in one running graph, out of order, each the right frame.
  for (double t : {0.3, 0.52, 1.5, 2.0, 0.0, 2.98, 1.0, 0.04}) {
    Picture ours = h.FrameAt(t);
    Picture reference = ReferenceFrame(path, t);
    EXPECT_GE(Psnr(ours, reference), 35.0) << "at " << t;
  }
}

}  // namespace
}  // namespace media_test
