// The `thumbnail` tool as a user runs it, on the real server.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "tests/client/picture_files.h"
#include "tests/support/fixtures.h"

namespace {

using thumbnail::Frame;

TEST(ThumbnailTool, WideVideoAt256IsLongerEdge256) {
  std::string folder = ScratchFolder("tool-sizes");
  ASSERT_EQ(RunTool("-s 256 -o " + ShellQuote(folder + "/w.png") + " " + ShellQuote(WideVideo())), 0);
  Frame png;
  ASSERT_TRUE(ReadPng(folder + "/w.png", &png));
  EXPECT_EQ(png.width, 256);
  EXPECT_EQ(png.height, 144);

  ASSERT_EQ(RunTool("-s 256 -o " + ShellQuote(folder + "/w.jpg") + " " + ShellQuote(WideVideo())), 0);
  Frame jpeg;
  ASSERT_TRUE(ReadJpeg(folder + "/w.jpg", &jpeg));
  EXPECT_EQ(jpeg.width, 256);
  EXPECT_EQ(jpeg.height, 144);
  // Both show the same picture.
  EXPECT_GT(Psnr(Picture{png.width, png.height, png.bgr}, Picture{jpeg.width, jpeg.height, jpeg.bgr}), 25);

  // The walk's frame at 0.3 s, at the video's own size.
  ASSERT_EQ(RunTool("--walk -s 0 -o " + ShellQuote(folder + "/own.png") + " " + ShellQuote(WideVideo())), 0);
  Frame own;
  ASSERT_TRUE(ReadPng(folder + "/own.png", &own));
  EXPECT_EQ(own.width, 320);
  EXPECT_EQ(own.height, 180);
  EXPECT_GT(Psnr(Picture{own.width, own.height, own.bgr}, ReferenceFrame(WideVideo(), 0.3)), 30);

  ASSERT_EQ(RunTool("-s 64 -f bmp -o " + ShellQuote(folder) + " " + ShellQuote(WideVideo())), 0);
  std::ifstream bmp(folder + "/" + WideVideo().substr(WideVideo().rfind('/') + 1) + ".bmp", std::ios::binary);
  char magic[2] = {};
  bmp.read(magic, 2);
  EXPECT_EQ(std::string(magic, 2), "BM");
}

TEST(ThumbnailTool, ThumbnailerModeWritesTheStandardTextChunks) {
  std::string folder = ScratchFolder("tool thumbnailer");
  std::string video = folder + "/my clip.mp4";
  ASSERT_EQ(RunCommand("cp " + ShellQuote(WideVideo()) + " " + ShellQuote(video)), 0);
  std::string uri = "file://" + folder + "/my%20clip.mp4";
  for (char& c : uri.replace(0, 7, "")) c = c == ' ' ? '\x01' : c;  // the folder has a blank too
  std::string encoded;
  for (char c : uri) encoded += c == '\x01' ? std::string("%20") : std::string(1, c);
  uri = "file://" + encoded;

  std::string errors;
  ASSERT_EQ(RunTool("--thumbnailer -s 128 " + ShellQuote(uri) + " " + ShellQuote(folder + "/t.png"), &errors), 0)
      << errors;
  Frame frame;
  std::map<std::string, std::string> text;
  ASSERT_TRUE(ReadPng(folder + "/t.png", &frame, &text));
  EXPECT_EQ(frame.width, 128);
  EXPECT_EQ(frame.height, 72);
  struct stat st;
  ASSERT_EQ(::stat(video.c_str(), &st), 0);
  EXPECT_EQ(text["Thumb::URI"], uri);
  EXPECT_EQ(text["Thumb::MTime"], std::to_string(st.st_mtime));
  EXPECT_EQ(text["Thumb::Size"], std::to_string(st.st_size));
  EXPECT_EQ(text["Software"].rfind("thumbnail ", 0), 0u);

  // A plain path gets the URI made for it; a frame smaller than the size
  // is not enlarged.
  ASSERT_EQ(RunTool("--thumbnailer -s 1024 " + ShellQuote(video) + " " + ShellQuote(folder + "/p.png"), &errors), 0)
      << errors;
  ASSERT_TRUE(ReadPng(folder + "/p.png", &frame, &text));
  EXPECT_EQ(text["Thumb::URI"], uri);
  EXPECT_EQ(frame.width, 320);

  EXPECT_EQ(RunTool("--thumbnailer -s 128 smb://host/v.mp4 " + ShellQuote(folder + "/s.png"), &errors), 1);
  EXPECT_EQ(CountLines(errors), 1) << errors;
}

// Caught: a picture renamed over the output file that the consumer made and
// holds open (XFCE's tumbler), which then reads an empty file.
TEST(ThumbnailTool, ThumbnailerModeFillsTheFileItsConsumerMade) {
  std::string folder = ScratchFolder("tool thumbnailer in place");
  std::string output = folder + "/made-by-consumer.png";
  int held = ::open(output.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(held, 0);
  std::string errors;
  EXPECT_EQ(RunTool("--thumbnailer -s 64 " + ShellQuote(WideVideo()) + " " + ShellQuote(output), &errors), 0) << errors;
  char magic[8] = {};
  EXPECT_EQ(::pread(held, magic, sizeof magic, 0), 8);
  EXPECT_EQ(std::string(magic + 1, 3), "PNG");
  ::close(held);
}

// A bad option gets one line and a pointer to --help, not the whole usage
// text, and exit status 2.
TEST(ThumbnailTool, BadOptionsGetOneLineAndExit2) {
  std::string errors;
  for (std::string arguments :
       {"", "-x v.mp4", "-s", "--size", "-s -1 v.mp4", "-s big v.mp4", "-j 0 v.mp4", "-Q 0 v.mp4",
        "--quality 101 v.mp4", "-f gif v.mp4", "-o out.gif v.mp4", "-o - a.mp4 b.mp4", "--thumbnailer in.mp4",
        "--bogus v.mp4", "--shard 3/3 v.mp4", "--shard x v.mp4", "--cache-size large v.mp4",
        "--cache --cache-size huge v.mp4", "--json -o - v.mp4", "--files-from /nonexistent/list"}) {
    EXPECT_EQ(RunTool(arguments, &errors), 2) << arguments;
    EXPECT_EQ(CountLines(errors), 2) << arguments << "\n" << errors;
    EXPECT_EQ(errors.rfind("thumbnail: ", 0), 0u) << arguments;
    EXPECT_NE(errors.find("Try 'thumbnail --help'"), std::string::npos) << arguments;
    EXPECT_EQ(errors.find("Usage: thumbnail"), std::string::npos) << arguments;
  }
  // Options that were silently ignored or taken another way, and the
  // habits of other thumbnailers' users: each is a clear line that names
  // what to do instead.
  const std::pair<const char*, const char*> kMisfires[] = {
      {"--cache -s 300 v.mp4", "--cache-size"},
      {"--cache --tree v.mp4", "--tree does not go with --cache"},
      {"--cache --strip-extension v.mp4", "--strip-extension does not go"},
      {"--cache -f jpg v.mp4", "-f does not go"},
      {"-f jpg -o x.png v.mp4", "-f jpg contradicts the extension of x.png"},
      {"-0 v.mp4", "-0 goes with --files-from"},
      {"--retry-failed v.mp4", "--retry-failed goes with --cache"},
      {"-q 8 v.mp4", "-Q 1 to 100"},
      {"-i v.mp4", "without -i"},
      {"-v", "--version"},
      {"-c png v.mp4", "format is -f"},
  };
  for (const auto& [arguments, says] : kMisfires) {
    EXPECT_EQ(RunTool(arguments, &errors), 2) << arguments;
    EXPECT_EQ(CountLines(errors), 2) << arguments << "\n" << errors;
    EXPECT_NE(errors.find(says), std::string::npos) << arguments << "\n" << errors;
  }
  for (std::string help : {"--help", "-h"}) {
    EXPECT_EQ(RunTool(help, &errors), 0);
    EXPECT_NE(errors.find("Usage: thumbnail"), std::string::npos);
    EXPECT_NE(errors.find("THUMBNAIL_SERVER"), std::string::npos);
  }
  EXPECT_EQ(RunTool("--version", &errors), 0);
  EXPECT_EQ(errors.rfind("thumbnail ", 0), 0u);
  // Caught: the server printed nothing for a person who ran it by hand.
  EXPECT_EQ(RunCommand(ShellQuote(THUMBNAIL_SERVER_PATH) + " --help", &errors), 0);
  EXPECT_EQ(errors.rfind("Usage: thumbnail-server -com", 0), 0u) << errors;
}

TEST(ThumbnailTool, BatchWritesTheGoodAndReportsTheBad) {
  std::string folder = ScratchFolder("tool-batch");
  std::string videos = folder + "/videos";
  ASSERT_EQ(RunCommand("mkdir -p " + ShellQuote(videos + "/folder.mp4")), 0);
  std::string good2 = TallVideo();
  std::string junk = BytesFixture("tool-junk.mp4", "ten bytes!");
  std::string truncated = folder + "/videos/truncated.mp4";
  ASSERT_EQ(RunCommand("head -c 3000 " + ShellQuote(WideVideo()) + " > " + ShellQuote(truncated)), 0);
  std::string missing = videos + "/missing.mp4";
  std::string out = folder + "/out";
  // A picture already there for a bad video stays as it was.
  ASSERT_EQ(RunCommand("mkdir -p " + ShellQuote(out) + " && echo keep > " + ShellQuote(out + "/truncated.mp4.png")), 0);

  std::string errors;
  int status = RunTool("-q -j 2 -o " + ShellQuote(out) + " " + ShellQuote(WideVideo()) + " " + ShellQuote(missing) +
                           " " + ShellQuote(videos + "/folder.mp4") + " " + ShellQuote(junk) + " " + ShellQuote(good2) +
                           " " + ShellQuote(truncated),
                       &errors);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(CountLines(errors), 4) << errors;
  for (const std::string& bad : {missing, videos + "/folder.mp4", junk, truncated})
    EXPECT_NE(errors.find("thumbnail: " + bad + ": "), std::string::npos) << bad << "\n" << errors;
  std::string wide_name = WideVideo().substr(WideVideo().rfind('/') + 1);
  std::string tall_name = good2.substr(good2.rfind('/') + 1);
  wide_name += ".png";
  tall_name += ".png";
  // Nothing but the two pictures and the old file: no temporary left over.
  std::vector<std::string> expected = {wide_name, tall_name, "truncated.mp4.png"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ListFolder(out), expected[0] + " " + expected[1] + " " + expected[2]);
  Frame tall;
  ASSERT_TRUE(ReadPng(out + "/" + tall_name, &tall));
  EXPECT_EQ(tall.width, 144);
  EXPECT_EQ(tall.height, 256);
  std::ifstream kept(out + "/truncated.mp4.png");
  std::string line;
  std::getline(kept, line);
  EXPECT_EQ(line, "keep");

  EXPECT_EQ(RunTool("-q -o " + ShellQuote(out) + " " + ShellQuote(WideVideo()), &errors), 0);
  EXPECT_EQ(errors, "");
}

TEST(ThumbnailTool, CrashingServerLeavesNoPicture) {
  std::string folder = ScratchFolder("tool-crash");
  std::string errors;
  EXPECT_EQ(RunTool("-o " + ShellQuote(folder + "/c.png") + " " + ShellQuote(WideVideo()), &errors,
                    "THUMBNAIL_SERVER=" + ShellQuote(FAKE_SERVER_PATH) + " THUMBNAIL_FAKE_MODE=crash"),
            1);
  EXPECT_EQ(errors, "thumbnail: " + WideVideo() + ": the server crashed on it\n");
  EXPECT_EQ(ListFolder(folder), "");
}

}  // namespace
