// The media source over a file handed over rather than named: it reads that
// descriptor at its own offsets, counts every byte and move, stops at the
// budget, and takes a file that shrinks under it as one that ends there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include "platform/dshow/media_failure.h"
#include "platform/kernel/handed_file.h"
#include "platform/media/source/demuxer_input.h"
#include "tests/support/fixtures.h"

namespace {

std::string Video() {
  return Fixture("handed-input.mkv", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 -c:v libx264 -preset "
                                     "veryfast -g 25 -pix_fmt yuv420p");
}

// The whole file read packet by packet: the bytes the demuxer asked for.
uint64_t ReadToTheEnd(media::DemuxerInput& input) {
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(input.format(), packet) >= 0) av_packet_unref(packet);
  av_packet_free(&packet);
  return handed_file::Tally().bytes;
}

// A private copy: the test shrinks it.
std::string Copy(const std::string& path) {
  const std::string copy = ::testing::TempDir() + "handed-input-" + std::to_string(::getpid()) + ".mkv";
  EXPECT_EQ(RunCommand("cp " + ShellQuote(path) + " " + ShellQuote(copy)), 0);
  return copy;
}

// Catches: a handed descriptor read at the shared offset (the parent's
// reads or a second demuxer would move it), a tally that misses bytes or
// counts the same byte twice, a block of the file read again where the
// demuxer goes back (its probe, then the start), and a descriptor kept in
// the slot after the source took it.
TEST(HandedInput, ReadsTheWholeFileOnceAndCountsIt) {
  const std::string video = Video();
  struct stat st;
  ASSERT_EQ(::stat(video.c_str(), &st), 0);
  const int fd = ::open(video.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::lseek(fd, 12345, SEEK_SET), 12345) << "an offset the source must not start from";
  handed_file::Hold(fd, 0);
  media::DemuxerInput input;
  ASSERT_EQ(input.Open(""), S_OK);
  uint64_t budget = 1;
  EXPECT_EQ(handed_file::Take(&budget), -1) << "the source owns the descriptor now";
  const uint64_t bytes = ReadToTheEnd(input);
  EXPECT_GE(bytes, static_cast<uint64_t>(st.st_size) * 9 / 10);
  EXPECT_LE(bytes, static_cast<uint64_t>(st.st_size)) << "a part of the file was read twice";
  ASSERT_LE(st.st_size, 2 << 20) << "the test needs a file the kept blocks hold whole";
  EXPECT_EQ(input.Reopen(), true);
  EXPECT_EQ(ReadToTheEnd(input), bytes) << "a new demuxer read the file again";
  EXPECT_FALSE(handed_file::Tally().budgetSpent);
}

// Catches: a budget checked only once a read has gone past it, and one
// that does not hold for the reads a reopening makes.
TEST(HandedInput, NothingIsReadPastTheBudget) {
  const int fd = ::open(Video().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  constexpr uint64_t kBudget = 100000;
  handed_file::Hold(fd, kBudget);
  media::DemuxerInput input;
  ASSERT_EQ(input.Open(""), S_OK);
  EXPECT_LE(ReadToTheEnd(input), kBudget);
  EXPECT_TRUE(handed_file::Tally().budgetSpent);
  // A new demuxer is served from the blocks already read, or fails: it
  // reads nothing past the budget either way.
  input.Reopen();
  EXPECT_LE(handed_file::Tally().bytes, kBudget);
}

// Catches: a file that shrinks while it is read taken as an error that
// never ends, or read past its new end.
TEST(HandedInput, AFileThatShrinksEndsWhereItNowEnds) {
  const std::string copy = Copy(Video());
  const int fd = ::open(copy.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  handed_file::Hold(::dup(fd), 0);
  media::DemuxerInput input;
  ASSERT_EQ(input.Open(""), S_OK);
  struct stat st;
  ASSERT_EQ(::fstat(fd, &st), 0);
  ASSERT_EQ(::ftruncate(fd, st.st_size / 3), 0);
  ::close(fd);
  ::unlink(copy.c_str());
  AVPacket* packet = av_packet_alloc();
  int packets = 0;
  while (av_read_frame(input.format(), packet) >= 0 && packets < 100000) {
    ++packets;
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  EXPECT_LT(packets, 100000) << "the reads never ended";
  EXPECT_LE(handed_file::Tally().bytes, static_cast<uint64_t>(st.st_size));
}

// Catches: an empty name read as a path (the current folder, or a file
// named by the parent before) when no file is held.
TEST(HandedInput, AnEmptyNameWithNothingHeldIsNoFile) {
  handed_file::Drop();
  media::DemuxerInput input;
  EXPECT_EQ(input.Open(""), kFileNotFound);
}

}  // namespace
