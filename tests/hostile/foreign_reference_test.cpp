// Files and paths that point elsewhere: playlists, manifests, concat scripts,
// image-sequence patterns and protocol prefixes aimed at another readable
// video and at a TCP port on this machine. The server must take the path as
// the one local file it names and nothing else: the other video is never
// opened (inotify sees every open), nothing connects to the port, the
// request gets the failure reply, and the server carries on.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include "tests/hostile/thumbnail_request.h"
#include "tests/support/fixtures.h"

namespace {

struct Case {
  std::string name;
  std::string path;      // what the parent asks for
  std::string contents;  // written to path first, unless empty
};

class ForeignReferenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "foreign-" + std::to_string(::getpid());
    ASSERT_EQ(RunCommand("rm -rf " + ShellQuote(dir_) + " && mkdir -p " + ShellQuote(dir_)), 0);
    // Private copies: other tests may open the shared fixtures at any time.
    other_ = dir_ + "/other.mp4";
    otherImage_ = dir_ + "/other1.png";
    const std::string red = Fixture("foreign-red.mp4", "-f lavfi -i color=red:size=160x120:rate=25:duration=2 "
                                                       "-c:v libx264 -pix_fmt yuv420p");
    ASSERT_EQ(RunCommand("cp " + ShellQuote(red) + " " + ShellQuote(other_)), 0);
    ASSERT_EQ(RunCommand("ffmpeg -nostdin -loglevel error -y -i " + ShellQuote(red) + " -frames:v 1 " +
                         ShellQuote(otherImage_)),
              0);

    watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch_, 0);
    for (const std::string& path : {other_, otherImage_})
      ASSERT_GE(::inotify_add_watch(watch_, path.c_str(), IN_OPEN | IN_ACCESS), 0);

    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener_, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener_, 8), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length), 0);
    port_ = std::to_string(ntohs(address.sin_port));
  }
  void TearDown() override {
    if (watch_ >= 0) ::close(watch_);
    if (listener_ >= 0) ::close(listener_);
    RunCommand("rm -rf " + ShellQuote(dir_));
  }

  bool OtherWasOpened() {
    char events[4096];
    return ::read(watch_, events, sizeof events) > 0;
  }
  bool SomethingConnected() {
    int connection = ::accept(listener_, nullptr, nullptr);
    if (connection < 0) return errno != EAGAIN && errno != EWOULDBLOCK;
    ::close(connection);
    return true;
  }

  std::vector<Case> Cases() {
    const std::string url = "http://127.0.0.1:" + port_ + "/video.mp4";
    const std::string hls = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:0\n#EXTINF:2.0,\n";
    auto mpd = [](const std::string& base) {
      return "<?xml version=\"1.0\"?>\n<MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\" type=\"static\" "
             "mediaPresentationDuration=\"PT2S\" minBufferTime=\"PT1S\" "
             "profiles=\"urn:mpeg:dash:profile:isoff-on-demand:2011\"><Period><AdaptationSet mimeType=\"video/mp4\">"
             "<Representation id=\"1\" bandwidth=\"100000\" width=\"160\" height=\"120\" codecs=\"avc1.64000c\">"
             "<BaseURL>" +
             base + "</BaseURL><SegmentBase/></Representation></AdaptationSet></Period></MPD>\n";
    };
    return {
        {"HLS playlist naming the other file", dir_ + "/file.m3u8", hls + other_ + "\n#EXT-X-ENDLIST\n"},
        {"HLS playlist naming the port", dir_ + "/net.m3u8", hls + url + "\n#EXT-X-ENDLIST\n"},
        {"DASH manifest naming the other file", dir_ + "/file.mpd", mpd("file://" + other_)},
        {"DASH manifest naming the port", dir_ + "/net.mpd", mpd(url)},
        {"concat script naming the other file", dir_ + "/file.ffconcat", "ffconcat version 1.0\nfile '" + other_ + "'\n"},
        {"concat script naming the port", dir_ + "/net.ffconcat", "ffconcat version 1.0\nfile '" + url + "'\n"},
        {"image sequence pattern", dir_ + "/other%d.png", ""},
        {"concat: prefix", "concat:" + other_ + "|" + other_, ""},
        {"file: prefix", "file:" + other_, ""},
        {"subfile: prefix", "subfile:,start,0,end,0,:" + other_, ""},
        {"cache: prefix", "cache:" + other_, ""},
        {"async: prefix", "async:" + other_, ""},
        {"pipe: prefix", "pipe:0", ""},
        {"http: URL", url, ""},
        {"tcp: URL", "tcp://127.0.0.1:" + port_, ""},
    };
  }

  std::string dir_;
  std::string other_;
  std::string otherImage_;
  std::string port_;
  int watch_ = -1;
  int listener_ = -1;
};

TEST_F(ForeignReferenceTest, OnlyTheNamedFileIsEverRead) {
  ServerProcess server;
  for (const Case& c : Cases()) {
    if (!c.contents.empty()) std::ofstream(c.path, std::ios::binary) << c.contents;
    RequestOutcome outcome = RequestThumbnail(server, c.path);
    EXPECT_EQ(outcome.kind, RequestOutcome::kFailed) << c.name << ": " << KindName(outcome.kind);
    EXPECT_FALSE(OtherWasOpened()) << c.name;
    EXPECT_FALSE(SomethingConnected()) << c.name;
    if (outcome.kind == RequestOutcome::kServerEnded || outcome.kind == RequestOutcome::kStuck) return;
    ASSERT_TRUE(ServerAnswersStatus(server)) << c.name;
  }
  // The watch and the other video work: asked for by its own name, it is
  // opened and thumbnailed.
  EXPECT_EQ(RequestThumbnail(server, other_).kind, RequestOutcome::kPicture);
  EXPECT_TRUE(OtherWasOpened());
  server.WriteByte(1);
  EXPECT_EQ(server.WaitExit(kPastTheWatchdogMs), 0);
  EXPECT_EQ(server.Output(), "");
}

}  // namespace
