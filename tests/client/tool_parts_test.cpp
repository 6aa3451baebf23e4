// The tool's own parts: fitting and scaling, URIs, output names, BMP.
#include <gtest/gtest.h>

#include "client/file_uri.h"
#include "client/image_encoders.h"
#include "client/image_scale.h"
#include "client/output_plan.h"
#include "protocol/wire.h"

namespace thumbnail {
namespace {

TEST(FitLongerEdge, KeepsTheAspect) {
  EXPECT_EQ(FitLongerEdge(1920, 1080, 256, true).height, 144);
  EXPECT_EQ(FitLongerEdge(1920, 1080, 256, true).width, 256);
  PictureSize portrait = FitLongerEdge(1080, 1920, 256, true);
  EXPECT_EQ(portrait.width, 144);
  EXPECT_EQ(portrait.height, 256);
  // A sliver keeps one pixel.
  EXPECT_EQ(FitLongerEdge(4000, 2, 100, true).height, 1);
}

TEST(FitLongerEdge, ZeroAndSmallFramesKeepTheirSize) {
  EXPECT_EQ(FitLongerEdge(321, 240, 0, true).width, 321);
  EXPECT_EQ(FitLongerEdge(320, 240, 512, true).width, 512);
  EXPECT_EQ(FitLongerEdge(320, 240, 512, false).width, 320);
  EXPECT_EQ(FitLongerEdge(320, 240, 256, false).width, 256);
}

Frame Flat(int width, int height, uint8_t b, uint8_t g, uint8_t r) {
  Frame frame{width, height, {}};
  for (int i = 0; i < width * height; ++i) frame.bgr.insert(frame.bgr.end(), {b, g, r});
  return frame;
}

TEST(ScaleFrame, OddWidthsKeepFlatColours) {
  // Widths that are not multiples of 16, where libswscale's vector code
  // runs past tightly packed rows.
  for (auto [w, h, tw, th] : {std::array{361, 241, 256, 171}, std::array{100, 30, 333, 99}}) {
    Frame scaled;
    ASSERT_TRUE(ScaleFrame(Flat(w, h, 30, 140, 220), tw, th, &scaled));
    ASSERT_EQ(scaled.bgr.size(), static_cast<size_t>(tw) * th * 3);
    for (size_t i = 0; i < scaled.bgr.size(); i += 3) {
      ASSERT_NEAR(scaled.bgr[i], 30, 2) << i;
      ASSERT_NEAR(scaled.bgr[i + 1], 140, 2) << i;
      ASSERT_NEAR(scaled.bgr[i + 2], 220, 2) << i;
    }
  }
}

TEST(ScaleFrame, ShrinkingAveragesInsteadOfPicking) {
  // One-pixel stripes of black and white become grey, not black or white.
  Frame stripes{64, 64, {}};
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) stripes.bgr.insert(stripes.bgr.end(), 3, x % 2 ? 255 : 0);
  Frame scaled;
  ASSERT_TRUE(ScaleFrame(stripes, 16, 16, &scaled));
  EXPECT_NEAR(scaled.bgr[8 * 16 * 3 + 8 * 3], 128, 8);
}

TEST(FileUri, DecodesFileUrisAndKeepsPlainPaths) {
  std::string path;
  ASSERT_TRUE(PathFromArgument("file:///home/u/My%20Video%C3%A9.mp4", &path));
  EXPECT_EQ(path, "/home/u/My Video\xC3\xA9.mp4");
  ASSERT_TRUE(PathFromArgument("file://localhost/a%2fb", &path));
  EXPECT_EQ(path, "/a/b");
  ASSERT_TRUE(PathFromArgument("clips/a%20b:c.mp4", &path));
  EXPECT_EQ(path, "clips/a%20b:c.mp4");
  EXPECT_FALSE(PathFromArgument("file://server/share/a.mp4", &path));
  EXPECT_FALSE(PathFromArgument("smb://server/a.mp4", &path));
  EXPECT_FALSE(PathFromArgument("file:///a%00b", &path));
  EXPECT_FALSE(PathFromArgument("file:///a%4", &path));
  EXPECT_FALSE(PathFromArgument("file:///a%zz", &path));
}

TEST(FileUri, EncodesWhatAUriCannotHold) {
  std::string odd = "/v/My Video #1 100%\xC3\xA9.mp4";
  EXPECT_EQ(FileUri(odd), "file:///v/My%20Video%20%231%20100%25%C3%A9.mp4");
  std::string back;
  ASSERT_TRUE(PathFromArgument(FileUri(odd), &back));
  EXPECT_EQ(back, odd);
}

ToolOptions Videos(std::vector<std::string> videos, std::string output = "") {
  ToolOptions options;
  options.videos = std::move(videos);
  options.output = std::move(output);
  return options;
}

TEST(PlanOutputs, PicturesAreNamedAfterTheirVideos) {
  std::vector<Job> jobs;
  std::string error;
  ASSERT_TRUE(PlanOutputs(Videos({"a/clip.one.mp4", "b/film"}, "/tmp/"), &jobs, &error));
  EXPECT_EQ(jobs[0].output, "/tmp/clip.one.png");
  EXPECT_EQ(jobs[1].output, "/tmp/film.png");
  ASSERT_TRUE(PlanOutputs(Videos({"a/x.mp4"}), &jobs, &error));
  EXPECT_EQ(jobs[0].output, "x.png");
}

TEST(PlanOutputs, TwoVideosWithOnePictureNameRefuseTheSecond) {
  std::vector<Job> jobs;
  std::string error;
  ASSERT_TRUE(PlanOutputs(Videos({"a/x.mp4", "b/x.mkv", "c/y.mp4"}, "/tmp"), &jobs, &error));
  EXPECT_TRUE(jobs[0].refused.empty());
  EXPECT_NE(jobs[1].refused.find("a/x.mp4"), std::string::npos) << jobs[1].refused;
  EXPECT_TRUE(jobs[2].refused.empty());
}

TEST(PlanOutputs, OnePictureTakesItsFormatFromItsName) {
  std::vector<Job> jobs;
  std::string error;
  ASSERT_TRUE(PlanOutputs(Videos({"v.mp4"}, "out/Shot.JPEG"), &jobs, &error));
  EXPECT_EQ(jobs[0].format, ImageFormat::kJpeg);
  EXPECT_FALSE(PlanOutputs(Videos({"v.mp4"}, "out/shot.gif"), &jobs, &error));
  EXPECT_FALSE(PlanOutputs(Videos({"v.mp4", "w.mp4"}, "shot.png"), &jobs, &error));
}

TEST(EncodeBmp, RowsBottomUpPaddedToFourBytes) {
  Frame frame{3, 2, {}};
  for (int i = 0; i < 18; ++i) frame.bgr.push_back(static_cast<uint8_t>(i + 1));
  std::vector<uint8_t> bmp;
  EncodeBmp(frame, &bmp);
  ASSERT_EQ(bmp.size(), 54u + 2 * 12);
  EXPECT_EQ(wire::DecodeNumber(&bmp[2]), bmp.size());
  EXPECT_EQ(wire::DecodeNumber(&bmp[10]), 54u);
  EXPECT_EQ(wire::DecodeNumber(&bmp[18]), 3u);
  EXPECT_EQ(wire::DecodeNumber(&bmp[22]), 2u);
  // The bottom row (10..18) comes first, then three bytes of padding.
  EXPECT_EQ(bmp[54], 10);
  EXPECT_EQ(bmp[62], 18);
  EXPECT_EQ(bmp[63], 0);
  EXPECT_EQ(bmp[66], 1);
}

}  // namespace
}  // namespace thumbnail
