// Files that are missing, broken or hostile: RenderFile fails cleanly or the
// graph delivers what it can, nothing hangs, and nothing but the named file
// is ever opened.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/platform/media/graph_harness.h"

namespace media_test {
namespace {

std::string Good() {
  return Fixture("bad-base.mp4",
                 "-f lavfi -i testsrc2=size=320x240:rate=50:duration=2 -f lavfi -i sine=duration=2 -c:v libx264 "
                 "-preset veryfast -g 25 -pix_fmt yuv420p -c:a aac -movflags +faststart -shortest");
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void ExpectRefused(const std::string& path) {
  GraphHarness h;
  EXPECT_TRUE(FAILED(h.Render(path))) << path;
  EXPECT_TRUE(Describe(h.graph()).empty()) << path;
}

// Renders what it can; when a video branch exists, runs it at a few
// positions and expects every wait to end.
void ExpectNoHang(const std::string& path) {
  GraphHarness h;
  if (FAILED(h.Render(path))) return;
  if (!h.Splice()) return;
  for (double t : {0.0, 0.3, 1.5, 5.0}) EXPECT_TRUE(h.RunAt(t)) << path << " at " << t;
}

TEST(BadInput, UnreadableFilesAreRefused) {
  ExpectRefused(std::string(FIXTURE_DIR) + "/no-such-file.mp4");
  ExpectRefused(BytesFixture("empty.mp4", ""));
  ExpectRefused(BytesFixture("junk.mp4", std::string("\x13\x37\x00\xff junk", 10)));
  ExpectRefused(BytesFixture("text.mp4", "This is not a video file at all, only some words.\n"));
  ExpectRefused(FIXTURE_DIR);  // a directory
}

TEST(BadInput, AFifoIsRefusedWithoutBlocking) {
  std::string fifo = std::string(FIXTURE_DIR) + "/fifo-" + std::to_string(::getpid()) + ".mp4";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ExpectRefused(fifo);
  ::unlink(fifo.c_str());
}

TEST(BadInput, PicturesTooLargeForABitmapAreNotRendered) {
  // A raw stream that claims 40000 x 40000 pixels.
  std::string path = BytesFixture("huge.y4m", "YUV4MPEG2 W40000 H40000 F25:1 Ip A1:1 C420jpeg\nFRAME\n" +
                                                  std::string(4096, '\x80'));
  ExpectRefused(path);
}

TEST(BadInput, AudioOnlyRendersWithoutVideo) {
  std::string path = Fixture("audio-only.m4a", "-f lavfi -i sine=duration=1 -c:a aac");
  GraphHarness h;
  ASSERT_EQ(h.Render(path), S_OK);
  std::vector<FilterView> filters = Describe(h.graph());
  ASSERT_EQ(filters.size(), 3u);
  EXPECT_EQ(filters[1].name, L"Audio Decoder");
  EXPECT_EQ(filters[2].name, L"Audio Renderer");
  EXPECT_FALSE(FindFilter(h.graph(), L"Video Decoder"));
  EXPECT_FALSE(h.Splice());
}

TEST(BadInput, CoverArtIsAOneFrameVideoStream) {
  std::string cover = Fixture("cover.png", "-f lavfi -i testsrc2=size=160x120 -frames:v 1");
  std::string path = Fixture("with-cover.mp3", "-f lavfi -i sine=duration=3 -i " + ShellQuote(cover) +
                                                   " -map 0 -map 1 -c:a libmp3lame -c:v png -disposition:v attached_pic");
  GraphHarness h;
  ASSERT_TRUE(SUCCEEDED(h.Render(path)));
  ASSERT_TRUE(h.Splice());
  Picture reference = ReferenceFrame(cover, 0);
  for (double t : {0.3, 2.0}) EXPECT_GE(Psnr(h.FrameAt(t), reference), 35.0) << "at " << t;
}

TEST(BadInput, TruncatedAndCorruptFilesEndEveryWait) {
  std::string good = ReadAll(Good());
  ASSERT_GT(good.size(), 1000u);
  std::string annexB = ReadAll(Fixture("bad-base.h264",
                                       "-f lavfi -i testsrc2=size=320x240:rate=50:duration=2 -c:v libx264 "
                                       "-preset veryfast -g 25 -pix_fmt yuv420p -f h264"));
  ExpectNoHang(BytesFixture("truncated-half.h264", annexB.substr(0, annexB.size() / 2)));
  ExpectNoHang(BytesFixture("truncated-half.mp4", good.substr(0, good.size() / 2)));
  ExpectNoHang(BytesFixture("truncated-head.mp4", good.substr(0, 2000)));
  std::string flipped = good;
  for (size_t i = flipped.size() / 10; i < flipped.size(); i += 997) flipped[i] = static_cast<char>(flipped[i] ^ 0x5A);
  ExpectNoHang(BytesFixture("bit-flipped.mp4", flipped));
}

TEST(BadInput, PathsAreFileNamesNotProtocols) {
  std::string good = Good();
  ExpectRefused("file:" + good);
  ExpectRefused("concat:" + good + "|" + good);
  ExpectRefused("subfile,,start,0,end,0,,:" + good);
  ExpectRefused("pipe:0");
  // A file whose name looks like a protocol is still a file.
  std::string dir = std::string(FIXTURE_DIR) + "/http:";
  ::mkdir(dir.c_str(), 0700);
  std::string odd = dir + "/copy.mp4";
  { std::ofstream(odd, std::ios::binary) << ReadAll(good); }
  GraphHarness h;
  EXPECT_EQ(h.Render(odd), S_OK);
}

class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 4);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Listener() { ::close(fd_); }
  int port() const { return port_; }
  bool Contacted() const {
    int c = ::accept(fd_, nullptr, nullptr);
    if (c >= 0) ::close(c);
    return c >= 0;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST(BadInput, FilesThatPointElsewhereOpenNothingElse) {
  std::string good = Good();
  Listener listener;
  std::string url = "http://127.0.0.1:" + std::to_string(listener.port()) + "/v.mp4";
  const std::pair<const char*, std::string> crafted[] = {
      {"playlist.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\n" + good + "\n#EXTINF:2,\n" + url +
                            "\n#EXT-X-ENDLIST\n"},
      {"list.ffconcat", "ffconcat version 1.0\nfile '" + good + "'\nfile '" + url + "'\n"},
      {"manifest.mpd", "<?xml version=\"1.0\"?><MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\" type=\"static\" "
                       "mediaPresentationDuration=\"PT2S\"><Period><AdaptationSet><Representation id=\"1\" "
                       "bandwidth=\"1\" mimeType=\"video/mp4\"><BaseURL>" +
                           url + "</BaseURL></Representation></AdaptationSet></Period></MPD>\n"},
      {"refs.sdp", "v=0\no=- 0 0 IN IP4 127.0.0.1\ns=x\nc=IN IP4 127.0.0.1\nt=0 0\nm=video " +
                       std::to_string(listener.port()) + " RTP/AVP 96\na=rtpmap:96 H264/90000\n"},
  };
  for (const auto& [name, text] : crafted) {
    std::string path = BytesFixture(name, text);
    GraphHarness h;
    HRESULT hr = h.Render(path);
    EXPECT_TRUE(FAILED(hr)) << name;
    EXPECT_FALSE(listener.Contacted()) << name;
  }
}

}  // namespace
}  // namespace media_test
