// The client library against the real server process.
#include "client/image_scale.h"
#include "client/thumbnail_client.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "tests/client/picture_files.h"
#include "tests/support/fixtures.h"

namespace thumbnail {
namespace {

std::string TestVideo() {
  return Fixture("client-testsrc.mp4", "-f lavfi -i testsrc=size=320x240:rate=50:duration=3 -pix_fmt yuv420p");
}

ClientOptions RealServer() { return ClientOptions{THUMBNAIL_SERVER_PATH}; }

Picture AsPicture(const Frame& frame) { return Picture{frame.width, frame.height, frame.bgr}; }

// Waits until the server's command pipe holds a command it has not taken:
// the request has gone out.
void AwaitPendingCommand(pid_t server) {
  int fd = ::open(("/proc/" + std::to_string(server) + "/fd/3").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  int waiting = 0;
  for (int i = 0; i < 2000 && waiting == 0; ++i) {
    ::ioctl(fd, FIONREAD, &waiting);
    if (waiting == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ::close(fd);
  ASSERT_GT(waiting, 0);
}

TEST(ThumbnailClient, NativeFrameIsTheFrameAtTheFirstPosition) {
  ThumbnailClient client(RealServer());
  Frame frame;
  Status status = client.Thumbnail(TestVideo(), &frame);
  ASSERT_TRUE(status.ok()) << status.reason;
  EXPECT_EQ(frame.width, 320);
  EXPECT_EQ(frame.height, 240);
  ASSERT_EQ(frame.bgr.size(), 320u * 240 * 3);
  EXPECT_GT(Psnr(AsPicture(frame), ReferenceFrame(TestVideo(), 0.3)), 30);
}

// Catches: a client that still names paths to its server by default (a
// crafted file could then lead it to others), paths and handed files giving
// different pictures, a budget that never reaches the server, and a tally
// told for a file the server never got.
TEST(ThumbnailClient, FilesAreHandedToALockedServerWithinTheirBudget) {
  ThumbnailClient client(RealServer());
  Confinement confinement;
  ASSERT_TRUE(client.GetConfinement(&confinement).ok());
  EXPECT_TRUE(confinement.locked);
  Frame handed, named;
  ASSERT_TRUE(client.Thumbnail(TestVideo(), &handed).ok());
  ReadTally tally;
  ASSERT_TRUE(client.GetReadTally(&tally).ok());
  EXPECT_GT(tally.bytes, 0u);

  ClientOptions paths = RealServer();
  paths.hand_over_files = false;
  ThumbnailClient by_name(paths);
  ASSERT_TRUE(by_name.GetConfinement(&confinement).ok());
  EXPECT_FALSE(confinement.locked);
  ASSERT_TRUE(by_name.Thumbnail(TestVideo(), &named).ok());
  EXPECT_EQ(handed.bgr, named.bgr);

  EXPECT_EQ(client.Thumbnail("/nonexistent.mp4", &handed).failure, Failure::kNoSuchFile);
  ASSERT_TRUE(client.GetReadTally(&tally).ok());
  EXPECT_EQ(tally.bytes, 0u) << "the tally of the file before";

  ClientOptions frugal = RealServer();
  frugal.max_read_bytes = 4096;
  ThumbnailClient limited(frugal);
  const Status status = limited.Thumbnail(TestVideo(), &handed);
  EXPECT_EQ(status.failure, Failure::kTooCostly) << status.reason;
  EXPECT_EQ(status.reason, "reading it would cost too much");
  ASSERT_TRUE(limited.GetReadTally(&tally).ok());
  EXPECT_LE(tally.bytes, 4096u);
}

TEST(ThumbnailClient, StatusAndDirectXLevelOnOneServer) {
  ThumbnailClient client(RealServer());
  ASSERT_TRUE(client.GetStatus().ok());
  pid_t server = client.server_pid();
  DirectXLevel level;
  Status status = client.GetDirectXLevel(&level);
  ASSERT_TRUE(status.ok()) << status.reason;
  EXPECT_EQ(level.level, 0x0800u);
  EXPECT_TRUE(level.filter_graph_available);
  EXPECT_EQ(client.server_pid(), server);
}

TEST(ThumbnailClient, FilesThatAreNoVideosFailWithTheirReason) {
  std::string folder = ScratchFolder("not-videos");
  ThumbnailClient client(RealServer());
  Frame frame;
  EXPECT_EQ(client.Thumbnail(folder + "/missing.mp4", &frame).failure, Failure::kNoSuchFile);
  EXPECT_EQ(client.Thumbnail(folder, &frame).failure, Failure::kNotAFile);
  EXPECT_EQ(client.Thumbnail("/dev/zero", &frame).failure, Failure::kNotAFile);
  // Checked here, before a server is asked.
  EXPECT_EQ(client.server_pid(), 0);

  Status junk = client.Thumbnail(BytesFixture("client-junk.mp4", "0123456789"), &frame);
  EXPECT_EQ(junk.failure, Failure::kNotMedia) << junk.reason;
  pid_t server = client.server_pid();
  EXPECT_NE(server, 0);
  ASSERT_TRUE(client.Thumbnail(TestVideo(), &frame).ok());
  EXPECT_EQ(client.server_pid(), server);
}

TEST(ThumbnailClient, FixedSizeOfTheFramesOwnSizeKeepsTheServer) {
  ThumbnailClient client(RealServer());
  Frame native, fixed;
  ASSERT_TRUE(client.Thumbnail(TestVideo(), &native).ok());
  pid_t server = client.server_pid();
  ASSERT_TRUE(client.ThumbnailAtSize(TestVideo(), 320, 240, &fixed).ok());
  EXPECT_EQ(fixed.bgr, native.bgr);
  EXPECT_EQ(client.server_pid(), server);
}

// Caught: a picture of a size was the top-left corner of the frame, and a
// file with no frame came back as a black picture under a success.
TEST(ThumbnailClient, PictureOfASizeIsTheWholeFrameScaledOrAFailure) {
  ThumbnailClient client(RealServer());
  Frame native;
  ASSERT_TRUE(client.Thumbnail(TestVideo(), &native).ok());
  struct Case {
    int width, height;
    int left, top;  // where the 4:3 frame lies in the picture; black around it
    int shown_width, shown_height;
  };
  for (Case c : {Case{160, 90, 20, 0, 120, 90}, Case{100, 120, 0, 22, 100, 75}, Case{64, 48, 0, 0, 64, 48}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    Frame picture, expected;
    Status status = client.ThumbnailAtSize(TestVideo(), c.width, c.height, &picture);
    ASSERT_TRUE(status.ok()) << status.reason;
    ASSERT_EQ(picture.width, c.width);
    ASSERT_EQ(picture.height, c.height);
    // The server makes the frame within the box's longer edge (scaled before
    // its colours are converted, as the ffmpeg tool scales), and the
    // library fits that into the box.
    Frame within;
    ASSERT_TRUE(client.ThumbnailWithin(TestVideo(), std::max(c.width, c.height), &within).ok());
    EXPECT_EQ(std::max(within.width, within.height), std::min(std::max(c.width, c.height), native.width));
    ASSERT_TRUE(ScaleFrame(within, c.shown_width, c.shown_height, &expected));
    Frame shown{c.shown_width, c.shown_height, {}};
    for (int y = 0; y < c.shown_height; ++y) {
      auto row = picture.bgr.begin() + (static_cast<ptrdiff_t>(c.top + y) * c.width + c.left) * 3;
      shown.bgr.insert(shown.bgr.end(), row, row + c.shown_width * 3);
    }
    EXPECT_GT(Psnr(AsPicture(shown), AsPicture(expected)), 40) << "the whole frame, scaled";
    size_t bars = 0;
    for (uint8_t byte : picture.bgr) bars += byte == 0;
    EXPECT_GE(bars, static_cast<size_t>(c.width * c.height - c.shown_width * c.shown_height) * 3);
  }
  const std::string junk = BytesFixture("client-junk.mp4", "0123456789");
  const std::string audio = Fixture("client-audio.m4a", "-f lavfi -i sine=duration=1");
  for (const std::string& nothing : {junk, audio}) {
    Frame frame;
    Status status = client.ThumbnailAtSize(nothing, 64, 48, &frame);
    EXPECT_FALSE(status.ok()) << nothing;
    EXPECT_FALSE(status.reason.empty());
    EXPECT_TRUE(frame.bgr.empty());
  }
}

TEST(ThumbnailClient, ServerKilledMidRequestFailsThatRequestOnly) {
  ThumbnailClient client(RealServer());
  ASSERT_TRUE(client.GetStatus().ok());
  pid_t server = client.server_pid();
  ::kill(server, SIGSTOP);
  Status during;
  std::thread request([&] {
    Frame frame;
    during = client.Thumbnail(TestVideo(), &frame);
  });
  AwaitPendingCommand(server);
  ::kill(server, SIGKILL);
  request.join();
  EXPECT_EQ(during.failure, Failure::kServerCrashed);
  EXPECT_NE(during.reason.find("SIGKILL"), std::string::npos) << during.reason;
  EXPECT_FALSE(ProcessExists(server));

  Frame frame;
  ASSERT_TRUE(client.Thumbnail(TestVideo(), &frame).ok());
  EXPECT_NE(client.server_pid(), server);
}

TEST(ThumbnailClient, StuckServerTimesOutAndIsReplaced) {
  ClientOptions options = RealServer();
  // Long enough for a server under the sanitizers on a loaded machine to
  // start and answer; the stopped one is still cut off.
  options.reply_timeout_ms = 2000;
  ThumbnailClient client(options);
  ASSERT_TRUE(client.GetStatus().ok());
  pid_t server = client.server_pid();
  ::kill(server, SIGSTOP);
  Frame frame;
  Status status = client.Thumbnail(TestVideo(), &frame);
  EXPECT_EQ(status.failure, Failure::kTimedOut) << status.reason;
  EXPECT_FALSE(ProcessExists(server));
  EXPECT_TRUE(client.Thumbnail(TestVideo(), &frame).ok());
}

std::string LinkOf(pid_t pid, const std::string& fd) {
  char target[4096];
  std::string link = "/proc/" + std::to_string(pid) + "/fd/" + fd;
  ssize_t n = ::readlink(link.c_str(), target, sizeof target);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : "";
}

TEST(ThumbnailClient, NoChildAndNoDescriptorOutliveTheClient) {
  std::string before = OpenDescriptors(::getpid());
  // A descriptor the host program left inheritable must not reach the child.
  std::string marker = ScratchFolder("descriptors") + "/marker";
  int inheritable = ::open(marker.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(inheritable, 0);
  pid_t server = 0;
  {
    ThumbnailClient client(RealServer());
    Frame frame;
    ASSERT_TRUE(client.Thumbnail(TestVideo(), &frame).ok());
    server = client.server_pid();
    EXPECT_EQ(LinkOf(server, "0"), "/dev/null");
    EXPECT_EQ(LinkOf(server, "1"), "/dev/null");
    EXPECT_EQ(LinkOf(server, "2").rfind("pipe:", 0), 0u) << "what a server that cannot start says";
    EXPECT_EQ(LinkOf(server, "3").rfind("pipe:", 0), 0u);
    EXPECT_EQ(LinkOf(server, "4").rfind("pipe:", 0), 0u);
    EXPECT_EQ(LinkOf(server, "5"), "anon_inode:[eventfd]");
    std::string ours = LinkOf(::getpid(), std::to_string(inheritable));
    std::string theirs = OpenDescriptors(server);
    for (size_t at = 0, end; at < theirs.size(); at = end + 1) {
      end = theirs.find(' ', at);
      if (end == std::string::npos) end = theirs.size();
      EXPECT_NE(LinkOf(server, theirs.substr(at, end - at)), ours);
    }
    // A server that went away is replaced, and its descriptors go with it.
    ::kill(server, SIGKILL);
    for (int i = 0; i < 200 && !client.Thumbnail(TestVideo(), &frame).ok(); ++i) {
    }
    EXPECT_NE(client.server_pid(), server);
    server = client.server_pid();
  }
  ::close(inheritable);
  EXPECT_FALSE(ProcessExists(server));
  EXPECT_EQ(OpenDescriptors(::getpid()), before);
}

TEST(ThumbnailClient, PathLongerThanTheChannelCarries) {
  std::string folder = ScratchFolder("long-path");
  std::string deep = folder;
  while (deep.size() < 300) deep += "/" + std::string(60, 'd');
  ASSERT_EQ(RunCommand("mkdir -p " + ShellQuote(deep) + " && cp " + ShellQuote(TestVideo()) + " " +
                       ShellQuote(deep + "/video.mp4")),
            0);
  ThumbnailClient client(RealServer());
  Frame frame;
  Status status = client.Thumbnail(deep + "/video.mp4", &frame);
  ASSERT_TRUE(status.ok()) << status.reason;
  EXPECT_EQ(frame.width, 320);
}

// The one test that waits out the server's own ten idle seconds.
TEST(ThumbnailClient, IdleEndOfTheServerIsHidden) {
  ClientOptions options = RealServer();
  options.restart_after_idle_ms = 60000;  // let the server end by itself
  ThumbnailClient client(options);
  Frame frame;
  ASSERT_TRUE(client.Thumbnail(TestVideo(), &frame).ok());
  pid_t first = client.server_pid();
  std::this_thread::sleep_for(std::chrono::milliseconds(11500));
  Status status = client.Thumbnail(TestVideo(), &frame);
  ASSERT_TRUE(status.ok()) << status.reason;
  EXPECT_NE(client.server_pid(), first);
  EXPECT_FALSE(ProcessExists(first));
}

}  // namespace
}  // namespace thumbnail
