// Where in a video, and why a file gave no picture: the client and the tool
// against the real server, on files made by the ffmpeg tool.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "client/thumbnail_client.h"
#include "tests/client/picture_files.h"
#include "tests/support/fixtures.h"

namespace thumbnail {
namespace {

ClientOptions RealServer() { return ClientOptions{THUMBNAIL_SERVER_PATH}; }

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// 20 s of a still red logo, then 40 s of blue content.
std::string LogoThenContent() {
  return Fixture("logo-then-content.mp4",
                 "-f lavfi -i color=c=red:s=64x48:r=5:d=20 -f lavfi -i color=c=blue:s=64x48:r=5:d=40 "
                 "-filter_complex [0][1]concat=n=2:v=1 -pix_fmt yuv420p");
}

// A picture mostly blue, or mostly red, by its middle pixel (blue first).
bool Blue(const Frame& f) {
  size_t middle = (static_cast<size_t>(f.height / 2) * f.width + f.width / 2) * 3;
  return f.bgr.size() > middle + 2 && f.bgr[middle] > 150 && f.bgr[middle + 2] < 100;
}

TEST(ThumbnailTool, TimeAsAShareSkipsALongLogo) {
  std::string folder = ScratchFolder("tool time share");
  Frame logo, content;
  ASSERT_EQ(RunTool("-q -s 0 -o " + ShellQuote(folder + "/logo.png") + " " + ShellQuote(LogoThenContent())), 0);
  ASSERT_TRUE(ReadPng(folder + "/logo.png", &logo));
  EXPECT_FALSE(Blue(logo)) << "without -t the first 20 s are all the walk sees";
  std::string errors;
  ASSERT_EQ(RunTool("-q -s 0 -t 50% -o " + ShellQuote(folder + "/content.png") + " " +
                        ShellQuote(LogoThenContent()), &errors), 0) << errors;
  ASSERT_TRUE(ReadPng(folder + "/content.png", &content));
  EXPECT_TRUE(Blue(content));
}

TEST(ThumbnailTool, TimeGivesTheFrameShownThen) {
  std::string folder = ScratchFolder("tool time");
  std::string video = WideVideo();
  std::string errors;
  ASSERT_EQ(RunTool("-q --json -s 0 -t 0:00:01.5 -o " + ShellQuote(folder + "/at.png") + " " + ShellQuote(video),
                    &errors), 0)
      << errors;
  EXPECT_NE(errors.find("\"position\":1.5,\"cover\":false"), std::string::npos) << errors;
  Frame at;
  ASSERT_TRUE(ReadPng(folder + "/at.png", &at));
  Picture shown{at.width, at.height, at.bgr};
  EXPECT_GT(Psnr(shown, ReferenceFrame(video, 1.5)), 30);
  EXPECT_LT(Psnr(shown, ReferenceFrame(video, 0.3)), 30) << "the fixed walk's first frame is another one";
}

// Caught: the end of the video (-t 100%, or a time past it) gave the middle
// of the video, which a user asking for the end never wants.
TEST(ThumbnailTool, TheEndGivesTheLastFrame) {
  std::string video = Fixture("content-then-end-card.mp4",
                              "-f lavfi -i color=c=blue:s=64x48:r=5:d=10 -f lavfi -i color=c=red:s=64x48:r=5:d=1 "
                              "-filter_complex [0][1]concat=n=2:v=1 -pix_fmt yuv420p");
  std::string folder = ScratchFolder("tool end");
  for (const char* time : {"100%", "10:00"}) {
    SCOPED_TRACE(time);
    std::string out;
    ASSERT_EQ(RunTool(std::string("-q --json -s 0 -t ") + time + " -o " + ShellQuote(folder + "/end.png") + " " +
                          ShellQuote(video), &out), 0) << out;
    Frame end;
    ASSERT_TRUE(ReadPng(folder + "/end.png", &end));
    EXPECT_FALSE(Blue(end)) << "the middle of the video, not its end";
    EXPECT_NE(out.find("\"position\":11"), std::string::npos) << out;
  }
}

// A video with an embedded green cover: its frames are red.
std::string GreenCover() { return Fixture("cover-green.png", "-f lavfi -i color=c=green:s=64x48 -frames:v 1"); }

std::string VideoWithCover() {
  return Fixture("with-cover.mp4", "-f lavfi -i color=c=red:s=64x48:r=5:d=3 -i " + ShellQuote(GreenCover()) +
                                       " -map 0 -map 1 -c:v:0 libx264 -pix_fmt yuv420p -c:v:1 png"
                                       " -disposition:v:1 attached_pic");
}

bool Green(const Frame& f) {
  size_t middle = (static_cast<size_t>(f.height / 2) * f.width + f.width / 2) * 3;
  return f.bgr.size() > middle + 2 && f.bgr[middle + 1] > 100 && f.bgr[middle + 2] < 60;
}

TEST(ThumbnailTool, PreferCoverTakesTheEmbeddedPictureAndOnlyWhenAsked) {
  std::string folder = ScratchFolder("tool cover");
  std::string errors;
  ASSERT_EQ(RunTool("-q --json -s 0 -m -o " + ShellQuote(folder + "/cover.png") + " " + ShellQuote(VideoWithCover()),
                    &errors), 0) << errors;
  EXPECT_NE(errors.find("\"position\":null,\"cover\":true"), std::string::npos) << errors;
  ASSERT_EQ(RunTool("-q -s 0 -o " + ShellQuote(folder + "/frame.png") + " " + ShellQuote(VideoWithCover())), 0);
  ASSERT_EQ(RunTool("-q --json -s 0 --prefer-cover -o " + ShellQuote(folder + "/plain.png") + " " +
                    ShellQuote(WideVideo()), &errors), 0) << "a file without a cover still gives its frame";
  EXPECT_NE(errors.find("\"position\":0.3,\"cover\":false"), std::string::npos) << errors;
  Frame cover, frame, plain;
  ASSERT_TRUE(ReadPng(folder + "/cover.png", &cover));
  ASSERT_TRUE(ReadPng(folder + "/frame.png", &frame));
  ASSERT_TRUE(ReadPng(folder + "/plain.png", &plain));
  EXPECT_TRUE(Green(cover));
  EXPECT_FALSE(Green(frame));
  // Caught: a song's album art, the only picture it has, was reported as a
  // frame of a video.
  std::string song = Fixture("song-with-cover.mp3", "-f lavfi -i sine=duration=1 -i " +
                                                        ShellQuote(GreenCover()) +
                                                        " -map 0 -map 1 -c:v png -disposition:v attached_pic");
  ASSERT_EQ(RunTool("-q --json -s 0 -o " + ShellQuote(folder + "/song.png") + " " + ShellQuote(song), &errors), 0)
      << errors;
  EXPECT_NE(errors.find("\"position\":null,\"cover\":true"), std::string::npos) << errors;
  EXPECT_GT(Psnr(Picture{plain.width, plain.height, plain.bgr}, ReferenceFrame(WideVideo(), 0.3)), 30);
}

// Each reason the server tells, reached by a file that really has that
// fault; they all used to be one "not a video".
TEST(ThumbnailClient, EachFaultyFileGetsItsOwnReason) {
  struct Case {
    const char* what;
    std::function<std::string()> file;
    Failure failure;
    const char* says;
  };
  const Case cases[] = {
      {"text", [] { return BytesFixture("reason-text.mp4", "just some words\n"); }, Failure::kNotMedia, "not a video"},
      {"audio only", [] { return Fixture("reason-audio.m4a", "-f lavfi -i sine=duration=1"); },
       Failure::kNoVideoStream, "no video stream"},
      {"encrypted",
       [] {
         return Fixture("reason-encrypted.mp4",
                        "-f lavfi -i testsrc=size=64x48:duration=1 -c:v libx264 -encryption_scheme cenc-aes-ctr "
                        "-encryption_key 00112233445566778899aabbccddeeff "
                        "-encryption_kid 00112233445566778899aabbccddeeff");
       },
       Failure::kEncrypted, "encrypted"},
      {"truncated after its header",
       [] {
         std::string whole = Bytes(Fixture("reason-whole.mp4",
                                            "-f lavfi -i testsrc=size=64x48:duration=2 -c:v libx264 "
                                            "-movflags +faststart"));
         return BytesFixture("reason-truncated.mp4", whole.substr(0, whole.find("mdat") + 200));
       },
       Failure::kDamaged, "nothing"},
      // Caught: a recording or download without its index yet was "not a
      // video file", and its user deleted it.
      {"still being written",
       [] {
         std::string whole = Bytes(Fixture("reason-index-last.mp4",
                                            "-f lavfi -i testsrc=size=64x48:duration=2 -c:v libx264"));
         return BytesFixture("reason-unfinished.mp4", whole.substr(0, whole.find("moov") / 2));
       },
       Failure::kIncomplete, "may still be being written"},
      {"unknown codec",
       [] {
         std::string mjpeg = Fixture("reason-mjpeg.avi", "-f lavfi -i testsrc=size=64x48:duration=1 -c:v mjpeg");
         std::string bytes = Bytes(mjpeg);
         for (size_t at; (at = bytes.find("MJPG")) != std::string::npos;) bytes.replace(at, 4, "QQQQ");
         return BytesFixture("reason-fourcc.avi", bytes);
       },
       Failure::kCodecUnavailable, "QQQQ"},
      {"picture too large",
       [] {
         // Raw pictures take their size from the container alone: 16000 x
         // 16000 with pixels 5:2 wide is 40000 x 16000 once shown.
         std::string raw = Fixture("reason-raw.mkv",
                                   "-f lavfi -i testsrc=size=320x256:rate=2:duration=1 -c:v rawvideo "
                                   "-pix_fmt gray -aspect 5:2");
         std::string bytes = Bytes(raw);
         bytes.replace(bytes.find(std::string("\xb0\x82\x01\x40", 4)), 4, std::string("\xb0\x82\x3e\x80", 4));
         bytes.replace(bytes.find(std::string("\xba\x82\x01\x00", 4)), 4, std::string("\xba\x82\x3e\x80", 4));
         return BytesFixture("reason-huge.mkv", bytes);
       },
       Failure::kTooLarge, "too large"},
  };
  ThumbnailClient client(RealServer());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Frame frame;
    Status status = client.Thumbnail(c.file(), &frame);
    EXPECT_EQ(status.failure, c.failure) << status.reason;
    EXPECT_NE(status.reason.find(c.says), std::string::npos) << status.reason;
  }
}

TEST(ThumbnailTool, AFailingFileGetsItsReasonInItsLineAndInJson) {
  std::string audio = Fixture("reason-audio.m4a", "-f lavfi -i sine=duration=1");
  std::string out;
  EXPECT_EQ(RunTool("-q --json -o " + ShellQuote(ScratchFolder("tool reason")) + " " + ShellQuote(audio),
                    &out),
            1);
  EXPECT_NE(out.find(": has no video stream"), std::string::npos) << out;
  EXPECT_NE(out.find("\"reason\":\"has no video stream\""), std::string::npos) << out;
}

}  // namespace
}  // namespace thumbnail
