// Thumbnail requests to the real server on real video files made by the
// ffmpeg tool: the replies, the rows against the frame ffmpeg decodes at the
// chosen position, the fixed sizes, failures, and the DirectX probe. CTest
// runs the requests twice: the files named, and, with THUMBNAIL_TEST_HANDED
// set, handed over to a locked server as the client library hands them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/server/server_process.h"
#include "tests/support/fixtures.h"

namespace {

constexpr int kGrabTimeoutMs = 20000;

bool Handed() { return std::getenv("THUMBNAIL_TEST_HANDED") != nullptr; }

// A server of the run's way: one that takes paths, or a locked one that
// takes files handed over.
class TestServer : public ServerProcess {
 public:
  TestServer() : ServerProcess(Handed() ? kHandOverArguments : std::vector<std::string>{"-com", "{R}", "{W}", "{E}"}) {
    if (Handed()) EXPECT_TRUE(Lock().has_value());
  }
};

// 320 x 240 at 50 fps, bright from the first frame.
std::string BrightVideo() {
  return Fixture("bright.mp4",
                 "-f lavfi -i testsrc2=size=320x240:rate=50:duration=3 -pix_fmt yuv420p -c:v libx264 -preset "
                 "ultrafast -g 25");
}

// 321 pixels wide: rows of 963 bytes, 964 in a padded DIB section.
std::string OddWidthVideo() {
  return Fixture("odd-321.mkv",
                 "-f lavfi -i testsrc2=size=320x240:rate=50:duration=2 -vf scale=321:240,setsar=1 -pix_fmt yuv444p "
                 "-c:v ffv1");
}

// Sends command 2; returns the reply values (one or four) after the event,
// which nothing may follow.
std::vector<uint32_t> Request(ServerProcess& server, const std::string& path, int32_t width, int32_t height) {
  wire::ParentChannel& channel = server.channel();
  wire::ThumbnailReply reply;
  std::string named = path;
  if (Handed()) {
    // What cannot be opened is handed over as nothing: the request then
    // names no file, as a missing path does.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_TRUE(server.HandOver(fd < 0 ? std::vector<int>{} : std::vector<int>{fd}).has_value());
    if (fd >= 0) ::close(fd);
    named.clear();
  }
  wire::ChannelResult result = channel.Send(wire::ThumbnailRequest{named, width, height, std::nullopt}, ServerProcess::In());
  if (result == wire::ChannelResult::kOk) result = channel.Receive(&reply, ServerProcess::In(kGrabTimeoutMs));
  if (result == wire::ChannelResult::kOk) result = channel.AwaitReplyEnd(ServerProcess::In(kGrabTimeoutMs));
  EXPECT_EQ(result, wire::ChannelResult::kOk);
  if (reply.result != 1) return {reply.result};
  return {reply.result, reply.width, reply.height, reply.bits};
}

// Sends command 3 and reads count rows of rowBytes each, then the event;
// nothing more may come.
std::vector<uint8_t> Lines(ServerProcess& server, uint32_t first, uint32_t count, size_t rowBytes) {
  std::vector<uint8_t> rows(count * rowBytes);
  EXPECT_EQ(server.channel().GetLines(first, count, rowBytes, rows.data(), ServerProcess::In(kGrabTimeoutMs)),
            wire::ChannelResult::kOk);
  return rows;
}

void End(ServerProcess& server) {
  EXPECT_EQ(server.channel().Send(wire::EndThumbnailRequest{}, ServerProcess::In()), wire::ChannelResult::kOk);
}

void ExpectAlive(ServerProcess& server) {
  wire::StatusReply status{0};
  EXPECT_EQ(server.channel().Ask(wire::StatusRequest{}, &status, ServerProcess::In()), wire::ChannelResult::kOk);
  EXPECT_EQ(status.status, 1u);
}

void Quit(ServerProcess& server) {
  EXPECT_TRUE(server.WriteByte(wire::kQuit));
  EXPECT_EQ(server.WaitExit(5000), 0);
  EXPECT_EQ(server.Output(), "");
}

// A native request's whole frame as a picture.
Picture Grab(ServerProcess& server, const std::string& path) {
  Picture p;
  std::vector<uint32_t> reply = Request(server, path, 0, 0);
  if (reply.size() != 4 || reply[0] != 1) {
    ADD_FAILURE() << "request failed";
    return p;
  }
  EXPECT_EQ(reply[3], 24u);
  p.width = static_cast<int>(reply[1]);
  p.height = static_cast<int>(reply[2]);
  p.bgr = Lines(server, 0, reply[2], reply[1] * 3);
  return p;
}

TEST(ThumbnailRequest, NativeSizeMatchesTheFrameAtTheFirstPosition) {
  const std::string video = BrightVideo();
  TestServer server;
  Picture frame = Grab(server, video);
  EXPECT_EQ(frame.width, 320);
  EXPECT_EQ(frame.height, 240);
  EXPECT_GT(Psnr(frame, ReferenceFrame(video, 0.3)), 30.0);
  End(server);
  ExpectAlive(server);
  Quit(server);
}

TEST(ThumbnailRequest, DarkStartIsSkippedToTheFirstBrightPosition) {
  // Black for the first second: the positions 0.3 s and 0.52 s are too dark.
  const std::string video = Fixture("dark-start.mp4",
                                    "-f lavfi -i testsrc2=size=320x240:rate=50:duration=3 -vf "
                                    "\"drawbox=x=0:y=0:w=iw:h=ih:color=black:t=fill:enable='lt(t,1)'\" "
                                    "-pix_fmt yuv420p -c:v libx264 -preset ultrafast -g 25");
  TestServer server;
  Picture frame = Grab(server, video);
  EXPECT_GT(Psnr(frame, ReferenceFrame(video, 1.5)), 30.0);
  End(server);
  Quit(server);
}

TEST(ThumbnailRequest, AllDarkFileStillGivesAFrame) {
  const std::string video = Fixture(
      "all-dark.mp4", "-f lavfi -i color=c=black:size=320x240:rate=50:duration=1 -pix_fmt yuv420p -c:v libx264");
  TestServer server;
  Picture frame = Grab(server, video);
  ASSERT_EQ(frame.bgr.size(), 320u * 240 * 3);
  for (uint8_t b : frame.bgr) ASSERT_LE(b, 20);
  End(server);
  Quit(server);
}

TEST(ThumbnailRequest, OddWidthRowsAreUnpaddedOnTheWire) {
  const std::string video = OddWidthVideo();
  TestServer server;
  Picture frame = Grab(server, video);
  EXPECT_EQ(frame.width, 321);
  EXPECT_GT(Psnr(frame, ReferenceFrame(video, 0.3)), 30.0);
  End(server);
  Quit(server);
}

TEST(ThumbnailRequest, RowRanges) {
  TestServer server;
  Picture frame = Grab(server, BrightVideo());
  ASSERT_EQ(frame.bgr.size(), 320u * 240 * 3);
  const size_t row = 960;
  EXPECT_TRUE(Lines(server, 0, 0, row).empty());
  EXPECT_EQ(Lines(server, 100, 20, row),
            std::vector<uint8_t>(frame.bgr.begin() + 100 * row, frame.bgr.begin() + 120 * row));
  EXPECT_EQ(Lines(server, 239, 1, row), std::vector<uint8_t>(frame.bgr.end() - row, frame.bgr.end()));
  // Rows past the bottom go out as zeros at full length.
  std::vector<uint8_t> expected(frame.bgr.end() - 2 * row, frame.bgr.end());
  expected.resize(4 * row, 0);
  EXPECT_EQ(Lines(server, 238, 4, row), expected);
  End(server);
  EXPECT_TRUE(Lines(server, 0, 2, 0).empty()) << "no frame once the request is closed";
  Quit(server);
}

TEST(ThumbnailRequest, FixedSizeEqualToTheFrameKeepsTheServer) {
  const std::string video = BrightVideo();
  TestServer server;
  EXPECT_EQ(Request(server, video, 320, 240), (std::vector<uint32_t>{1, 320, 240, 24}));
  Picture frame{320, 240, Lines(server, 0, 240, 960)};
  EXPECT_GT(Psnr(frame, ReferenceFrame(video, 0.3)), 30.0);
  End(server);
  ExpectAlive(server);
  Quit(server);
}

TEST(ThumbnailRequest, FixedSizesOtherThanTheFrameCutOrFillThenEndTheServer) {
  const std::string video = BrightVideo();
  Picture native;
  {
    TestServer server;
    native = Grab(server, video);
    Quit(server);
  }
  ASSERT_EQ(native.bgr.size(), 320u * 240 * 3);
  struct Case {
    uint32_t width, height;
  } cases[] = {{400, 240}, {200, 240}, {320, 300}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    TestServer server;
    EXPECT_EQ(Request(server, video, static_cast<int32_t>(c.width), static_cast<int32_t>(c.height)),
              (std::vector<uint32_t>{1, c.width, c.height, 24}));
    const std::vector<uint8_t> rows = Lines(server, 0, c.height, c.width * 3);
    std::vector<uint8_t> expected;
    for (uint32_t r = 0; r < c.height; ++r) {
      std::vector<uint8_t> line(c.width * 3, 0);
      if (r < 240) std::copy_n(native.bgr.begin() + r * 960, std::min<size_t>(960, c.width * 3), line.begin());
      expected.insert(expected.end(), line.begin(), line.end());
    }
    EXPECT_EQ(rows, expected);
    End(server);
    EXPECT_EQ(server.WaitExit(5000), 0) << "a frame of another size ends the server";
    EXPECT_EQ(server.Output(), "");
  }
}

TEST(ThumbnailRequest, FixedSizeOnAMissingFileSendsBlackRows) {
  TestServer server;
  EXPECT_EQ(Request(server, "/nonexistent/video.mp4", 64, 48), (std::vector<uint32_t>{1, 64, 48, 24}));
  EXPECT_EQ(Lines(server, 0, 48, 192), std::vector<uint8_t>(48 * 192, 0));
  End(server);
  EXPECT_EQ(server.WaitExit(5000), 0);
}

TEST(ThumbnailRequest, FailuresReplyZeroAndLeaveTheServerInStep) {
  const std::string junk = BytesFixture("junk.bin", "0123456789");
  const std::string empty = BytesFixture("empty.mp4", "");
  const std::string audio = Fixture("audio-only.wav", "-f lavfi -i sine=frequency=440:duration=1 -c:a pcm_s16le");
  const std::string folder = junk.substr(0, junk.rfind('/'));
  TestServer server;
  for (const std::string& path : {std::string("/nonexistent/video.mp4"), junk, empty, audio, folder}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Request(server, path, 0, 0), std::vector<uint32_t>{0});
    ExpectAlive(server);
  }
  // Still serving real requests afterwards.
  Picture frame = Grab(server, BrightVideo());
  EXPECT_EQ(frame.width, 320);
  End(server);
  Quit(server);
}

TEST(ThumbnailRequest, SecondRequestWhileOneIsOpen) {
  const std::string video = BrightVideo();
  const std::string odd = OddWidthVideo();
  TestServer server;
  EXPECT_EQ(Request(server, video, 0, 0), (std::vector<uint32_t>{1, 320, 240, 24}));
  Picture second = Grab(server, odd);
  EXPECT_EQ(second.width, 321);
  EXPECT_GT(Psnr(second, ReferenceFrame(odd, 0.3)), 30.0);
  End(server);
  ExpectAlive(server);
  Quit(server);
}

TEST(DirectXLevel, ReportsDirectX8AndTheFilterGraphTwice) {
  TestServer server;
  for (int round = 0; round < 2; ++round) {
    wire::DirectXLevelReply level;
    EXPECT_EQ(server.channel().Ask(wire::DirectXLevelRequest{}, &level, ServerProcess::In()),
              wire::ChannelResult::kOk);
    EXPECT_EQ(level, (wire::DirectXLevelReply{0x0800, 1}));
  }
  Quit(server);
}

}  // namespace
