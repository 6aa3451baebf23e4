// Files handed over to the real server: every way a hand-over can be wrong
// gets its reason and leaves no descriptor behind, a locked server takes no
// path, and a read budget ends a request within it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "protocol/messages.h"
#include "tests/hostile/thumbnail_request.h"
#include "tests/support/fixtures.h"

#include <iterator>

namespace {

std::string SmallVideo() {
  return Fixture("handed-small.mp4", "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 -c:v libx264 -pix_fmt yuv420p");
}

// The index at the end, as the ffmpeg tool writes MP4 by default: a reader
// must go to the end before it can read a frame. Noise keeps the pictures
// large, so that the first one alone is beyond the budget below.
std::string IndexAtTheEnd() {
  return Fixture("handed-index-last.mp4",
                 "-f lavfi -i testsrc=size=640x480:rate=25:duration=4,noise=alls=60:allf=t -c:v libx264 "
                 "-preset ultrafast -g 250 -pix_fmt yuv420p");
}

uint32_t LastReason(ServerProcess& server) {
  wire::FailureReply reply;
  EXPECT_EQ(server.channel().Ask(wire::FailureRequest{}, &reply, ServerProcess::In()), wire::ChannelResult::kOk);
  return reply.reason;
}

wire::ReadTallyReply Tally(ServerProcess& server) {
  wire::ReadTallyReply reply;
  EXPECT_EQ(server.channel().Ask(wire::ReadTallyRequest{}, &reply, ServerProcess::In()), wire::ChannelResult::kOk);
  return reply;
}

// Descriptors the test opened for one case, closed when it ends.
struct Opened {
  std::vector<int> fds;
  ~Opened() {
    for (int fd : fds) ::close(fd);
  }
};

// Catches: a descriptor the server cannot read taken as the next request's
// file, a message with several descriptors or one cut short acted on, and
// any descriptor of a refused hand-over left open in the server (the
// descriptor count after every case is the one before).
TEST(HandedFile, EveryWrongHandOverIsRefusedAndClosed) {
  const std::string video = SmallVideo();
  const std::string dir = ::testing::TempDir();
  const struct {
    const char* name;
    std::function<void(Opened&)> open;
    uint32_t reason;
  } kCases[] = {
      {"a pipe", [](Opened& o) { int p[2]; ASSERT_EQ(::pipe(p), 0); o.fds = {p[0]}; ::close(p[1]); }, wire::kUnreadable},
      {"a folder", [&](Opened& o) { o.fds = {::open(dir.c_str(), O_RDONLY | O_DIRECTORY)}; }, wire::kUnreadable},
      {"a socket", [](Opened& o) { int s[2]; ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, s), 0); o.fds = {s[0], s[1]}; o.fds.pop_back(); ::close(s[1]); }, wire::kUnreadable},
      {"a device", [](Opened& o) { o.fds = {::open("/dev/zero", O_RDONLY)}; }, wire::kUnreadable},
      {"a write-only file", [&](Opened& o) { o.fds = {::open(video.c_str(), O_WRONLY)}; }, wire::kUnreadable},
      {"a name without access (O_PATH)", [&](Opened& o) { o.fds = {::open(video.c_str(), O_PATH)}; }, wire::kUnreadable},
      {"no descriptor", [](Opened&) {}, wire::kNotHandedOver},
      {"two files", [&](Opened& o) { o.fds = {::open(video.c_str(), O_RDONLY), ::open(video.c_str(), O_RDONLY)}; }, wire::kNotHandedOver},
      {"more than the message has room for", [&](Opened& o) { for (int i = 0; i < 6; ++i) o.fds.push_back(::open(video.c_str(), O_RDONLY)); }, wire::kNotHandedOver},
  };
  ServerProcess server(kHandOverArguments);
  ASSERT_TRUE(ServerAnswersStatus(server));
  const int before = OpenDescriptors(server.pid());
  for (const auto& c : kCases) {
    Opened opened;
    c.open(opened);
    for (int fd : opened.fds) ASSERT_GE(fd, 0) << c.name;
    EXPECT_EQ(server.HandOver(opened.fds), c.reason) << c.name;
    EXPECT_EQ(OpenDescriptors(server.pid()), before) << c.name << " left a descriptor in the server";
    // An empty path with nothing held names no file.
    EXPECT_EQ(RequestThumbnail(server, "").kind, RequestOutcome::kFailed) << c.name;
  }
  Opened good;
  good.fds = {::open(video.c_str(), O_RDONLY)};
  EXPECT_EQ(server.HandOver(good.fds), wire::kNoFailure);
  EXPECT_EQ(RequestThumbnail(server, "").kind, RequestOutcome::kPicture);
  EXPECT_EQ(OpenDescriptors(server.pid()), before) << "the handed file outlived its request";
}

// Catches: a locked server that still opens a path, a lock that breaks the
// decoding of a handed file, and reads told wrong (more than the file, or
// none).
TEST(HandedFile, LockedServerReadsOnlyWhatItIsHanded) {
  const std::string video = SmallVideo();
  for (bool landlock : {true, false}) {
    std::vector<std::string> arguments = kHandOverArguments;
    if (!landlock) arguments.push_back("-nolandlock");
    ServerProcess server(arguments);
    const std::optional<uint32_t> abi = server.Lock();
    ASSERT_TRUE(abi.has_value()) << "the seccomp rule was refused";
    if (!landlock) EXPECT_EQ(*abi, 0u) << "Landlock entered though forced off";

    EXPECT_EQ(RequestThumbnail(server, video).kind, RequestOutcome::kFailed);
    EXPECT_EQ(LastReason(server), wire::kPathRefused);

    Opened opened;
    opened.fds = {::open(video.c_str(), O_RDONLY)};
    ASSERT_EQ(server.HandOver(opened.fds), wire::kNoFailure);
    EXPECT_EQ(RequestThumbnail(server, "").kind, RequestOutcome::kPicture) << "landlock " << landlock;
    struct stat st;
    ASSERT_EQ(::stat(video.c_str(), &st), 0);
    const wire::ReadTallyReply tally = Tally(server);
    EXPECT_GT(tally.bytes(), 0u);
    EXPECT_LE(tally.bytes(), static_cast<uint64_t>(st.st_size)) << "a small file is read once at most";
    EXPECT_EQ(tally.budgetSpent, 0u);
  }
}

// Catches: a library that opens a file of its own in the middle of a
// request (the C library's character-set converters, which the MPEG-TS
// demuxer asks for a broadcast's service name), which a locked server
// refuses and the request loses. strace sees every open the server tries.
TEST(HandedFile, NothingIsOpenedAfterTheLock) {
  const std::string trace = ::testing::TempDir() + "late-opens-" + std::to_string(::getpid());
  const std::vector<std::string> strace = UnderStrace(trace);
  if (strace.empty()) GTEST_SKIP() << "strace is not installed";
  const std::vector<std::string> videos = {
      Fixture("handed-service.ts", "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 -c:v mpeg2video "
                                   "-metadata service_name=Nachrichten -metadata service_provider=Sender"),
      Fixture("handed-theora.ogv", "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 -f lavfi -i sine=duration=1 "
                                   "-c:v libtheora -c:a libvorbis -metadata title=Titel"),
      SmallVideo(),
  };
  {
    ServerProcess server(kHandOverArguments, strace);
    ASSERT_TRUE(server.Lock().has_value());
    for (const std::string& video : videos) {
      Opened opened;
      opened.fds = {::open(video.c_str(), O_RDONLY)};
      ASSERT_EQ(server.HandOver(opened.fds), wire::kNoFailure);
      EXPECT_EQ(RequestThumbnail(server, "").kind, RequestOutcome::kPicture) << video;
    }
    server.WriteByte(wire::kQuit);
    EXPECT_EQ(server.WaitExit(kPastTheWatchdogMs), 0);
  }
  std::ifstream in(trace);
  std::string line, refused;
  while (std::getline(in, line))
    if (line.find("EACCES") != std::string::npos) refused += line + "\n";
  EXPECT_EQ(refused, "") << "opened after the lock";
  ::unlink(trace.c_str());
}

// Catches: a budget that is only checked after the whole file was read, a
// spent budget told as damage, and a budget that outlives its request.
TEST(HandedFile, BudgetEndsTheRequestWithinIt) {
  const std::string video = IndexAtTheEnd();
  ServerProcess server(kHandOverArguments);
  constexpr uint64_t kBudget = 64 * 1024;
  Opened opened;
  opened.fds = {::open(video.c_str(), O_RDONLY)};
  ASSERT_EQ(server.HandOver(opened.fds, kBudget), wire::kNoFailure);
  EXPECT_EQ(RequestThumbnail(server, "").kind, RequestOutcome::kFailed);
  EXPECT_EQ(LastReason(server), wire::kTooCostly);
  const wire::ReadTallyReply tally = Tally(server);
  EXPECT_LE(tally.bytes(), kBudget);
  EXPECT_EQ(tally.budgetSpent, 1u);

  ASSERT_EQ(server.HandOver(opened.fds), wire::kNoFailure);
  EXPECT_EQ(RequestThumbnail(server, "").kind, RequestOutcome::kPicture) << "the next file has no budget";
  EXPECT_GT(Tally(server).seeks, 0u) << "the index at the end is reached by a seek";
}

// A 2 GiB movie whose index is at its end: the media of IndexAtTheEnd(),
// then a hole of zeros up to 2 GiB inside its media box, then its index.
// The hole takes no room on the disk; a reader that goes through the file
// rather than to its index reads 2 GiB.
std::string TwoGibWithIndexLast(const std::string& dir) {
  std::ifstream in(IndexAtTheEnd(), std::ios::binary);
  const std::string movie((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t mdat = movie.find("mdat") - 4, moov = movie.find("moov") - 4;
  if (mdat >= moov || BigEndian32(movie, mdat) != moov - mdat) return "";
  constexpr uint64_t kTotal = uint64_t{2} << 30;
  const uint64_t hole = kTotal - movie.size();
  const uint32_t grown = static_cast<uint32_t>(moov - mdat + hole);
  std::string head = movie.substr(0, moov);
  for (int i = 0; i < 4; ++i) head[mdat + i] = static_cast<char>(grown >> (24 - 8 * i));
  const std::string path = dir + "two-gib-" + std::to_string(::getpid()) + ".mp4";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return "";
  const std::string index = movie.substr(moov);
  const bool written = ::pwrite(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
                       ::pwrite(fd, index.data(), index.size(), static_cast<off_t>(moov + hole)) ==
                           static_cast<ssize_t>(index.size());
  ::close(fd);
  return written ? path : "";
}

// Catches: a budget that holds only for small files, a reader that walks
// a large file to its index instead of going there: 8 MiB of a 2 GiB file
// give the picture or the reason, and never more than 8 MiB is read.
TEST(HandedFile, EightMibOfATwoGibFileAreEnough) {
  const std::string video = TwoGibWithIndexLast(::testing::TempDir());
  ASSERT_FALSE(video.empty());
  ServerProcess server(kHandOverArguments);
  constexpr uint64_t kBudget = uint64_t{8} << 20;
  Opened opened;
  opened.fds = {::open(video.c_str(), O_RDONLY)};
  ::unlink(video.c_str());
  ASSERT_EQ(server.HandOver(opened.fds, kBudget), wire::kNoFailure);
  const RequestOutcome outcome = RequestThumbnail(server, "");
  if (outcome.kind == RequestOutcome::kFailed) EXPECT_EQ(LastReason(server), wire::kTooCostly);
  else EXPECT_EQ(outcome.kind, RequestOutcome::kPicture) << KindName(outcome.kind);
  EXPECT_LE(Tally(server).bytes(), kBudget);
}

}  // namespace
