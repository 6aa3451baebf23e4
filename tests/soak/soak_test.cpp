// The soak: one server, many requests over good and bad videos, native and
// fixed size. Every reply must be right (the same picture each time for a
// good file, the failure reply for a bad one), the server's resident memory
// must stay within 10 % of its size after the first thousand requests, and
// it must hold no more descriptors at the end than after the first request.
// Every other request hands its file over instead of naming it, so that a
// handed descriptor the server keeps shows in the count.
// Run by `make soak` (SOAK_REQUESTS overrides the count), not by `make test`.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/hostile/thumbnail_request.h"
#include "tests/support/fixtures.h"

namespace {

struct SoakFile {
  std::string path;
  bool good;
  int width;
  int height;
};

std::vector<SoakFile> SoakFiles() {
  const std::string good = Fixture("soak-h264.mp4", "-f lavfi -i testsrc=size=160x120:rate=25:duration=3 "
                                                    "-c:v libx264 -pix_fmt yuv420p");
  const std::string audio = Fixture("soak-mpeg4-audio.mkv",
                                    "-f lavfi -i testsrc=size=161x97:rate=25:duration=3 -f lavfi -i sine=duration=3 "
                                    "-c:v mpeg4 -c:a aac -shortest");
  const std::string ts = Fixture("soak-mpeg2.ts", "-f lavfi -i testsrc=size=176x144:rate=25:duration=3 -c:v mpeg2video");
  const std::string audioOnly = Fixture("soak-audio-only.m4a", "-f lavfi -i sine=duration=2 -c:a aac");
  const std::string junk = BytesFixture("soak-junk.mp4", "ten bytes!");
  std::string truncated;
  RunCommand("head -c 4000 " + ShellQuote(good), &truncated);
  return {
      {good, true, 160, 120},
      {audio, true, 161, 97},
      {ts, true, 176, 144},
      {audioOnly, false, 0, 0},
      {junk, false, 0, 0},
      {BytesFixture("soak-truncated.mp4", truncated), false, 0, 0},
      {"/nonexistent/soak.mp4", false, 0, 0},
  };
}

int Requests() {
  const char* text = std::getenv("SOAK_REQUESTS");
  return text ? std::max(1000, std::atoi(text)) : 10000;
}

TEST(Soak, TenThousandRequestsKeepMemoryDescriptorsAndReplies) {
  const std::vector<SoakFile> files = SoakFiles();
  const int requests = Requests();
  ServerProcess server(kHandOverArguments);
  std::map<std::string, std::vector<uint8_t>> pictures;
  long baselineRss = 0, minRss = 0, maxRss = 0;
  int baselineFds = -1;

  for (int i = 0; i < requests; ++i) {
    const SoakFile& file = files[i % files.size()];
    // Good files alternate between native and fixed size at their own size;
    // a fixed request of a bad file would end the server by design.
    const bool fixed = file.good && (i / files.size()) % 2 == 1;
    std::string path = file.path;
    if (i % 2 == 1) {
      // A file that is not there is handed over as nothing at all.
      const int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
      ASSERT_TRUE(server.HandOver(fd < 0 ? std::vector<int>{} : std::vector<int>{fd}).has_value()) << "request " << i;
      if (fd >= 0) ::close(fd);
      path.clear();
    }
    RequestOutcome outcome =
        fixed ? RequestThumbnail(server, path, file.width, file.height) : RequestThumbnail(server, path);
    if (!file.good) {
      ASSERT_EQ(outcome.kind, RequestOutcome::kFailed) << "request " << i << " " << file.path << ": "
                                                       << KindName(outcome.kind);
    } else {
      ASSERT_EQ(outcome.kind, RequestOutcome::kPicture) << "request " << i << " " << file.path << ": "
                                                        << KindName(outcome.kind);
      ASSERT_EQ(outcome.width, file.width);
      ASSERT_EQ(outcome.height, file.height);
      auto known = pictures.emplace(file.path, outcome.rows);
      ASSERT_EQ(outcome.rows, known.first->second) << "request " << i << " " << file.path;
    }
    // The status reply comes after the close of the request, so the video
    // is no longer open when the descriptors are counted.
    if (i == 0) {
      ASSERT_TRUE(ServerAnswersStatus(server));
      baselineFds = OpenDescriptors(server.pid());
    }
    if ((i + 1) % 1000 == 0) {
      const long rss = ResidentKib(server.pid());
      if (i + 1 == 1000) baselineRss = minRss = maxRss = rss;
      minRss = std::min(minRss, rss);
      maxRss = std::max(maxRss, rss);
      std::printf("soak: %d requests, resident %ld KiB, %d descriptors\n", i + 1, rss, OpenDescriptors(server.pid()));
      std::fflush(stdout);
    }
  }
  ASSERT_TRUE(ServerAnswersStatus(server));
  const int endFds = OpenDescriptors(server.pid());
  std::printf("soak: resident after 1000 requests %ld KiB, range %ld to %ld KiB (%+.1f%% .. %+.1f%%); descriptors %d "
              "after the first request, %d at the end\n",
              baselineRss, minRss, maxRss, 100.0 * (minRss - baselineRss) / baselineRss,
              100.0 * (maxRss - baselineRss) / baselineRss, baselineFds, endFds);
  EXPECT_LE(maxRss, baselineRss * 11 / 10);
  EXPECT_GE(minRss, baselineRss * 9 / 10);
  EXPECT_EQ(endFds, baselineFds);

  server.WriteByte(wire::kQuit);
  EXPECT_EQ(server.WaitExit(kPastTheWatchdogMs), 0);
  EXPECT_EQ(server.Output(), "");
}

}  // namespace
