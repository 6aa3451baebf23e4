// Damaged videos through the real server: truncations at ten points and
// deterministic bit flips of a few fixtures. Every request must get its reply
// (a picture, or 0) or the server must end with exit code 0 within the
// watchdog's time, silently; a new server must then work as before. Each
// runs twice: the files named by path, and handed over to a locked server.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "tests/hostile/thumbnail_request.h"
#include "tests/support/fixtures.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
// Each grab is several times slower under the sanitizers.
constexpr int kBitFlipVariants = 24;
#else
constexpr int kBitFlipVariants = 120;
#endif
constexpr int kTruncations = 10;

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A small deterministic generator, so that a failing variant can be made again.
struct Lcg {
  uint64_t state;
  uint32_t Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state >> 33);
  }
};

struct HostileFixture {
  const char* name;
  const char* recipe;
};

// Containers whose damage takes different roads through the demuxers and
// decoders: an index at the end, a packetised stream, an interleaved index,
// a block-laced container with audio.
const HostileFixture kFixtures[] = {
    {"hostile-h264.mp4",
     "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -c:v libx264 -pix_fmt yuv420p -g 10 -bf 2"},
    {"hostile-mpeg2.ts", "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -c:v mpeg2video -g 10"},
    {"hostile-mpeg4.avi", "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -c:v mpeg4 -bf 1"},
    {"hostile-vp8-audio.webm",
     "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -f lavfi -i sine=duration=2 -c:v libvpx -b:v 200k "
     "-c:a libvorbis -shortest"},
};

class HostileFileTest : public ::testing::TestWithParam<std::tuple<HostileFixture, bool>> {
 protected:
  void SetUp() override {
    const HostileFixture& fixture = std::get<0>(GetParam());
    handed_ = std::get<1>(GetParam());
    source_ = Fixture(fixture.name, fixture.recipe);
    bytes_ = ReadBytes(source_);
    ASSERT_GT(bytes_.size(), 1000u);
    scratch_ = ::testing::TempDir() + "hostile-" + std::to_string(::getpid()) + "-" + fixture.name;
    StartServer();
    RequestOutcome intact = Request(source_);
    ASSERT_EQ(intact.kind, RequestOutcome::kPicture) << KindName(intact.kind);
    intact_ = intact.rows;
  }
  void TearDown() override {
    ::unlink(scratch_.c_str());
    if (server_) EndServer();
  }

  void StartServer() {
    if (!handed_) {
      server_ = std::make_unique<ServerProcess>();
      return;
    }
    server_ = std::make_unique<ServerProcess>(kHandOverArguments);
    ASSERT_TRUE(server_->Lock().has_value());
  }

  // The file named, or handed over to the locked server.
  RequestOutcome Request(const std::string& path, int32_t width = 0, int32_t height = 0) {
    if (!handed_) return RequestThumbnail(*server_, path, width, height);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0) << path;
    const std::optional<uint32_t> held = server_->HandOver({fd});
    ::close(fd);
    // A server that ended on the file before is seen as such by the request.
    if (held) EXPECT_EQ(*held, wire::kNoFailure) << path;
    return RequestThumbnail(*server_, "", width, height);
  }

  // Quits the server and checks that it ended as every server must.
  void EndServer() {
    server_->WriteByte(wire::kQuit);
    ExpectSilentEnd("at quit");
    server_.reset();
  }
  void ExpectSilentEnd(const std::string& what) {
    EXPECT_EQ(server_->WaitExit(kPastTheWatchdogMs), 0) << what;
    EXPECT_EQ(server_->Output(), "") << what;
  }

  // One damaged file: the request gets its reply, or the server ends with 0
  // and a new one grabs the intact file as before.
  void Check(const std::vector<uint8_t>& damaged, const std::string& what, bool fixedSize) {
    WriteBytes(scratch_, damaged);
    RequestOutcome outcome = fixedSize ? Request(scratch_, 160, 120) : Request(scratch_);
    ASSERT_NE(outcome.kind, RequestOutcome::kStuck) << what;
    ASSERT_NE(outcome.kind, RequestOutcome::kMalformed) << what;
    if (outcome.kind == RequestOutcome::kPicture && fixedSize) {
      // The frame may have come out at another size: the server then ends
      // at the close of the request, which the status command shows.
      if (ServerAnswersStatus(*server_)) return;
      outcome.kind = RequestOutcome::kServerEnded;
    }
    if (outcome.kind != RequestOutcome::kServerEnded) return;
    ExpectSilentEnd(what);
    StartServer();
    RequestOutcome fresh = Request(source_);
    ASSERT_EQ(fresh.kind, RequestOutcome::kPicture) << "a new server after " << what;
    EXPECT_EQ(fresh.rows, intact_) << "a new server after " << what;
  }

  std::string source_;
  std::string scratch_;
  std::vector<uint8_t> bytes_;
  std::vector<uint8_t> intact_;
  std::unique_ptr<ServerProcess> server_;
  bool handed_ = false;
};

TEST_P(HostileFileTest, TruncationsGetAReplyOrASilentEnd) {
  for (int k = 1; k <= kTruncations; ++k) {
    const size_t length = bytes_.size() * k / (kTruncations + 1);
    std::vector<uint8_t> cut(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(length));
    Check(cut, "truncated to " + std::to_string(length) + " bytes", k % 2 == 0);
    if (HasFatalFailure()) return;
  }
}

TEST_P(HostileFileTest, BitFlipsGetAReplyOrASilentEnd) {
  Lcg random{0x5eed0000u + bytes_.size()};
  for (int variant = 0; variant < kBitFlipVariants; ++variant) {
    std::vector<uint8_t> damaged = bytes_;
    // Headers hold the fields that size allocations and steer parsing: half
    // the variants flip bits in the first kilobyte only.
    const size_t span = variant % 2 ? damaged.size() : std::min<size_t>(damaged.size(), 1024);
    const int flips = 1 + static_cast<int>(random.Next() % 8);
    std::string what = "variant " + std::to_string(variant) + ", bits";
    for (int f = 0; f < flips; ++f) {
      const size_t at = random.Next() % span;
      const int bit = static_cast<int>(random.Next() % 8);
      damaged[at] ^= static_cast<uint8_t>(1u << bit);
      what += " " + std::to_string(at) + ":" + std::to_string(bit);
    }
    Check(damaged, what, variant % 3 == 0);
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, HostileFileTest, ::testing::Combine(::testing::ValuesIn(kFixtures), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<HostileFixture, bool>>& info) {
                           std::string name;
                           for (const char* c = std::get<0>(info.param).name; *c; ++c)
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           return name + (std::get<1>(info.param) ? "_handed" : "_named");
                         });

}  // namespace
