// Files and paths that point elsewhere: playlists, manifests, concat scripts,
// a QuickTime data reference, a linked Matroska segment, image-sequence
// patterns and protocol prefixes aimed at another readable video and at a
// TCP port on this machine. The server must take the path as the one local
// file it names and nothing else: the other video is never opened (inotify
// sees every open), nothing connects to the port, the request gets the
// failure reply or the file's own picture, and the server carries on. Handed over to
// a locked server, the same files leave the other video unnamed in every
// call the server makes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/messages.h"
#include "tests/hostile/thumbnail_request.h"
#include "tests/support/fixtures.h"

namespace {

std::string Be(uint32_t value, int bytes) {
  std::string out;
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift & 0xff);
  return out;
}

// A QuickTime movie whose only track keeps its media in another file: the
// movie's data reference becomes a Mac alias record naming target both by
// absolute path and one level up and down from the movie (so a reader that
// follows references finds it either way). movie is one the ffmpeg tool wrote
// with its media zeroed (MovieWithZeroedMedia), so following the reference
// gives the target's pictures and not following it leaves nothing to decode.
std::string AliasReferenceMovie(std::string movie, const std::string& target) {
  // Zeroed media cannot hold the names searched for.
  const size_t moovName = movie.find("moov");
  const size_t dref = moovName == std::string::npos ? std::string::npos : movie.find("dref", moovName);
  if (moovName < 4 || dref == std::string::npos) return "";
  const size_t moov = moovName - 4;
  const size_t start = dref - 4;

  const std::string name = target.substr(target.rfind('/') + 1);
  std::string alias = std::string(10, '\0') + '\0' + std::string(27, '\0') + std::string(12, '\0') +
                      static_cast<char>(name.size()) + name + std::string(63 - name.size(), '\0') +
                      std::string(16, '\0') + Be(1, 2) + Be(1, 2) + std::string(16, '\0');
  alias += Be(2, 2) + Be(static_cast<uint32_t>(target.size()), 2) + target + std::string(target.size() % 2, '\0');
  alias += Be(0xffff, 2) + Be(0, 2);
  const std::string entry = Be(static_cast<uint32_t>(12 + alias.size()), 4) + "alis" + Be(0, 4) + alias;
  const std::string box = Be(static_cast<uint32_t>(16 + entry.size()), 4) + "dref" + Be(0, 4) + Be(1, 4) + entry;
  const uint32_t oldSize = BigEndian32(movie, start);
  const uint32_t grown = static_cast<uint32_t>(box.size()) - oldSize;

  // Every box that holds the reference grows by as much.
  for (size_t begin = moov, end = movie.size(); begin < end;) {
    size_t at = begin;
    while (at < end && !(at <= start && start < at + BigEndian32(movie, at))) at += BigEndian32(movie, at);
    if (at >= end || at == start) break;
    const uint32_t size = BigEndian32(movie, at);
    movie.replace(at, 4, Be(size + grown, 4));
    begin = at + 8;
    end = at + size;
  }
  movie.replace(start, oldSize, box);
  return movie;
}

// A Matroska file linked to the segments before and after it, both named
// `neighbour` (a file in the same folder, as linked segments are found),
// with made-up segment ids. The links go in place of the space the ffmpeg
// tool keeps free after the seek head, as a second Info element and a
// filler, so that no position in the file moves.
std::string LinkedSegmentMatroska(std::string file, const std::string& neighbour) {
  const size_t segment = file.find("\x18\x53\x80\x67");
  const size_t filler = segment == std::string::npos ? segment : file.find('\xEC', segment);
  // The filler: its id, an 8-byte size, the bytes it keeps free.
  if (filler == std::string::npos || file[filler + 1] != '\x01') return "";
  const size_t room = 9 + BigEndian32(file, filler + 5);
  auto element = [](const std::string& id, const std::string& data) {
    return id + static_cast<char>(0x80 | data.size()) + data;
  };
  const std::string uid(16, '\x42');
  const std::string links = element("\x3C\x83\xAB", neighbour) + element("\x3C\xB9\x23", uid) +
                            element("\x3E\x83\xBB", neighbour) + element("\x3E\xB9\x23", uid);
  const std::string info = element("\x15\x49\xA9\x66", links);
  if (links.size() > 126 || info.size() + 2 > room) return "";
  const std::string rest = element("\xEC", std::string(room - info.size() - 2, '\0'));
  file.replace(filler, room, info + rest);
  return file;
}

struct Case {
  std::string name;
  std::string path;      // what the parent asks for
  std::string contents;  // written to path first, unless empty
  // A file that is a video of its own gives its own picture.
  RequestOutcome::Kind outcome = RequestOutcome::kFailed;
};

class ForeignReferenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "foreign-" + std::to_string(::getpid());
    ASSERT_EQ(RunCommand("rm -rf " + ShellQuote(dir_) + " && mkdir -p " + ShellQuote(dir_)), 0);
    // Private copies: other tests may open the shared fixtures at any time.
    other_ = dir_ + "/other.mov";
    otherImage_ = dir_ + "/other1.png";
    const std::string red = Fixture("foreign-red.mov", "-f lavfi -i color=red:size=160x120:rate=25:duration=2 "
                                                       "-c:v libx264 -pix_fmt yuv420p");
    redWithoutMedia_ = MovieWithZeroedMedia(red);
    const std::string blue = Fixture("foreign-blue.mkv", "-f lavfi -i color=blue:size=160x120:rate=25:duration=1 "
                                                         "-c:v libx264 -pix_fmt yuv420p");
    std::ifstream in(blue, std::ios::binary);
    linkedBlue_ = LinkedSegmentMatroska(std::string(std::istreambuf_iterator<char>(in), {}), "other.mov");
    ASSERT_FALSE(linkedBlue_.empty());
    ASSERT_FALSE(AliasReferenceMovie(redWithoutMedia_, other_).empty());
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

  // The failure reply, or the file's own picture: blue, never the other
  // file's red.
  static void ExpectOwnOutcome(const Case& c, const RequestOutcome& outcome) {
    EXPECT_EQ(outcome.kind, c.outcome) << c.name << ": " << KindName(outcome.kind);
    if (outcome.kind != RequestOutcome::kPicture || outcome.rows.size() < 3) return;
    EXPECT_GT(outcome.rows[0], 200) << c.name << ": blue";
    EXPECT_LT(outcome.rows[2], 60) << c.name << ": red";
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
        {"QuickTime external reference to the other file", dir_ + "/alias.mov", AliasReferenceMovie(redWithoutMedia_, other_)},
        {"Matroska segment linked to the other file", dir_ + "/linked.mkv", linkedBlue_, RequestOutcome::kPicture},
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
  std::string redWithoutMedia_;
  std::string linkedBlue_;
  std::string port_;
  int watch_ = -1;
  int listener_ = -1;
};

// The crafted external reference is one a reader can follow: the ffmpeg tool,
// told to, takes the other video's red picture through it.
TEST_F(ForeignReferenceTest, TheCraftedQuickTimeReferenceLeadsToTheOtherFile) {
  const std::string alias = dir_ + "/alias.mov";
  std::ofstream(alias, std::ios::binary) << AliasReferenceMovie(redWithoutMedia_, other_);
  std::string pixel;
  ASSERT_EQ(RunCommand("ffmpeg -nostdin -loglevel quiet -enable_drefs 1 -i " + ShellQuote(alias) +
                           " -frames:v 1 -f rawvideo -pix_fmt rgb24 - | head -c 3 | od -An -tu1",
                       &pixel),
            0);
  std::istringstream values(pixel);
  int r = 0, g = 0, b = 0;
  ASSERT_TRUE(values >> r >> g >> b) << pixel;
  EXPECT_GT(r, 200);
  EXPECT_LT(g, 40);
  EXPECT_LT(b, 40);
  EXPECT_TRUE(OtherWasOpened());
}

TEST_F(ForeignReferenceTest, OnlyTheNamedFileIsEverRead) {
  ServerProcess server;
  for (const Case& c : Cases()) {
    if (!c.contents.empty()) std::ofstream(c.path, std::ios::binary) << c.contents;
    RequestOutcome outcome = RequestThumbnail(server, c.path);
    ExpectOwnOutcome(c, outcome);
    EXPECT_FALSE(OtherWasOpened()) << c.name;
    EXPECT_FALSE(SomethingConnected()) << c.name;
    if (outcome.kind == RequestOutcome::kServerEnded || outcome.kind == RequestOutcome::kStuck) return;
    ASSERT_TRUE(ServerAnswersStatus(server)) << c.name;
  }
  // The watch and the other video work: asked for by its own name, it is
  // opened and thumbnailed.
  EXPECT_EQ(RequestThumbnail(server, other_).kind, RequestOutcome::kPicture);
  EXPECT_TRUE(OtherWasOpened());
  server.WriteByte(wire::kQuit);
  EXPECT_EQ(server.WaitExit(kPastTheWatchdogMs), 0);
  EXPECT_EQ(server.Output(), "");
}

// Handed over to a locked server, each crafted file gives a reason, and the
// other file is never so much as named in a call of the server: strace sees
// every file call of every thread, failed ones too. With Landlock and with
// the seccomp rule alone, as on a kernel without Landlock.
TEST_F(ForeignReferenceTest, LockedServerNeverNamesAnotherFile) {
  for (bool landlock : {true, false}) {
    const std::string trace = dir_ + (landlock ? "/trace-landlock" : "/trace-seccomp");
    const std::vector<std::string> strace = UnderStrace(trace, "%file,socket,connect");
    if (strace.empty()) GTEST_SKIP() << "strace is not installed";
    std::vector<std::string> arguments = kHandOverArguments;
    if (!landlock) arguments.push_back("-nolandlock");
    {
      ServerProcess server(arguments, strace);
      ASSERT_TRUE(server.Lock().has_value());
      for (const Case& c : Cases()) {
        // A name alone hands nothing over.
        if (c.contents.empty()) continue;
        std::ofstream(c.path, std::ios::binary) << c.contents;
        const int fd = ::open(c.path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(server.HandOver({fd}), wire::kNoFailure) << c.name;
        ::close(fd);
        const RequestOutcome outcome = RequestThumbnail(server, "");
        ExpectOwnOutcome(c, outcome);
        EXPECT_FALSE(OtherWasOpened()) << c.name;
        EXPECT_FALSE(SomethingConnected()) << c.name;
        ASSERT_TRUE(ServerAnswersStatus(server)) << c.name;
      }
      server.WriteByte(wire::kQuit);
      EXPECT_EQ(server.WaitExit(kPastTheWatchdogMs), 0);
    }
    std::ifstream in(trace);
    const std::string calls((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(calls.empty()) << "strace wrote nothing";
    EXPECT_EQ(calls.find(other_), std::string::npos) << (landlock ? "Landlock: " : "seccomp alone: ") << calls;
    EXPECT_EQ(calls.find(otherImage_), std::string::npos);
    EXPECT_EQ(calls.find("socket("), std::string::npos);
  }
}

}  // namespace
