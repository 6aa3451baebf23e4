// The poll for a command byte, its dispatch and the wire primitives.
#include "server/command_channel.h"

#include <algorithm>
#include <vector>

#include "protocol/messages.h"
#include "server/command_handlers.h"
#include "server/thumbnail_server.h"

#include "tests/server/server_test_base.h"

namespace {

using CommandChannel = ServerTest;

// The channel without a server: its reads and writes over the fake pipes.
class ChannelAlone : public ServerTest {
 protected:
  ChannelAlone() {
    channel.ReadPipe = kReadPipe;
    channel.WritePipe = kWritePipe;
    channel.ReplyEvent = kReplyEvent;
  }
  ::CommandChannel channel{fake};
};

TEST_F(CommandChannel, IdleLimitCountsFromTheLastCommandByte) {
  TThumbnailServer server(fake, kGoodTail);
  const DWORD start = fake.now;
  fake.now = start + 10000 - 50;
  server.PollCommand();  // empty pipe: sleeps to exactly the limit
  EXPECT_FALSE(server.State.Quit);
  EXPECT_EQ(fake.now, start + 10000);
  server.PollCommand();  // exactly 10000 ms: still in time
  EXPECT_FALSE(server.State.Quit);
  const DWORD slept = fake.slept_ms;
  server.PollCommand();  // 10050 ms: quits without sleeping
  EXPECT_TRUE(server.State.Quit);
  EXPECT_EQ(fake.slept_ms, slept);
}

TEST_F(CommandChannel, IdleLimitAcrossTheTickWrap) {
  fake.now = 0xFFFFFFFFu - 3000;
  TThumbnailServer server(fake, kGoodTail);
  fake.now += 10000;  // wrapped
  server.PollCommand();
  EXPECT_FALSE(server.State.Quit);
  fake.now = LastActivityTick.load() + 10001;
  server.PollCommand();
  EXPECT_TRUE(server.State.Quit);
}

TEST_F(CommandChannel, CommandByteRefreshesTheIdleTime) {
  TThumbnailServer server(fake, kGoodTail);
  fake.now += 9000;
  fake.Send({200});
  server.PollCommand();
  EXPECT_EQ(LastActivityTick.load(), fake.now);
  fake.now += 9000;
  server.PollCommand();
  EXPECT_FALSE(server.State.Quit);
}

TEST_F(CommandChannel, UnknownBytesAreTakenWithoutReply) {
  TThumbnailServer server(fake, kGoodTail);
  for (BYTE b : {0, 15, 200, 255}) {
    fake.Send({b});
    const DWORD slept = fake.slept_ms;
    server.PollCommand();
    EXPECT_EQ(fake.slept_ms, slept) << "a handled byte is followed by the next poll at once";
  }
  EXPECT_EQ(fake.Waiting(), 0u);
  EXPECT_TRUE(fake.replies.empty());
  EXPECT_TRUE(fake.events_at.empty());
  EXPECT_FALSE(server.State.Quit);
  EXPECT_TRUE(Traced("Got command\n"));
}

TEST_F(CommandChannel, QuitAndStatus) {
  TThumbnailServer server(fake, kGoodTail);
  fake.Send({wire::kGetStatus});
  server.PollCommand();
  EXPECT_EQ(fake.replies, (std::vector<BYTE>{1, 0, 0, 0}));
  EXPECT_EQ(fake.events_at, std::vector<size_t>{4});
  EXPECT_FALSE(server.State.Quit);
  fake.Send({wire::kQuit});
  server.PollCommand();
  EXPECT_TRUE(server.State.Quit);
  EXPECT_EQ(fake.events_at.size(), 1u);
}

TEST_F(CommandChannel, EmptyPipeWaitsForInputAtMostAPollInterval) {
  TThumbnailServer server(fake, kGoodTail);
  server.PollCommand();
  EXPECT_EQ(fake.waited_ms, 50u);
  EXPECT_EQ(fake.slept_ms, 0u);
  EXPECT_FALSE(server.State.Quit);
  EXPECT_TRUE(Traced("not in thumbnail\n"));
}

TEST_F(CommandChannel, BrokenPipeEndsOnlyByTheIdleLimit) {
  TThumbnailServer server(fake, kGoodTail);
  fake.command_pipe_closed = true;
  while (!server.State.Quit) {
    ASSERT_LE(fake.now - LastActivityTick.load(), 10050u);
    server.PollCommand();
  }
  EXPECT_TRUE(Traced("PeekNamedPipeFailed\n"));
  EXPECT_GT(fake.now - LastActivityTick.load(), 10000u);
}

TEST_F(CommandChannel, FailedOneByteReadIsNoCommand) {
  TThumbnailServer server(fake, kGoodTail);
  fake.Send({wire::kGetStatus});
  fake.read_fails = true;
  const DWORD last = LastActivityTick.load();
  server.PollCommand();
  EXPECT_EQ(fake.slept_ms, 50u);
  EXPECT_EQ(LastActivityTick.load(), last);
  EXPECT_TRUE(fake.replies.empty());
}

TEST_F(ChannelAlone, ReadStringTakesNothingBeyondItsNul) {
  char buffer[wire::kMaxStringBytes + 1];

  fake.Send({0, 'x'});
  EXPECT_TRUE(channel.ReadString(buffer, wire::kMaxStringBytes));
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(fake.Waiting(), 1u);
  fake.chunks.clear();

  const std::string s259(259, 'a');
  fake.SendString(s259);
  fake.Send({'n'});
  EXPECT_TRUE(channel.ReadString(buffer, wire::kMaxStringBytes));
  EXPECT_EQ(std::string(buffer), s259);
  EXPECT_EQ(fake.Waiting(), 1u);
  fake.chunks.clear();

  // Longer strings are cut after 260 bytes; the rest stays for the next read.
  fake.SendString(std::string(260, 'b') + "rest");
  EXPECT_TRUE(channel.ReadString(buffer, wire::kMaxStringBytes));
  EXPECT_EQ(std::string(buffer), std::string(260, 'b'));
  EXPECT_EQ(fake.Waiting(), 5u);
  EXPECT_FALSE(channel.Ended());
}

TEST_F(ChannelAlone, ReadStringStopsWhenThePipeEnds) {
  char buffer[wire::kMaxStringBytes + 1];
  fake.Send({'a', 'b'});
  fake.command_pipe_closed = true;
  EXPECT_FALSE(channel.ReadString(buffer, wire::kMaxStringBytes));
  EXPECT_STREQ(buffer, "ab");
  EXPECT_TRUE(channel.Ended());
}

TEST_F(ChannelAlone, ReadDwordIsLittleEndianAndWaitsForAllFourBytes) {
  fake.Send({0x01, 0x02, 0x03, 0x04});
  EXPECT_EQ(channel.ReadDword(), 0x04030201u);
  fake.Send({0xFE});
  fake.Send({0xFF, 0xFF});
  fake.Send({0xFF});
  EXPECT_EQ(channel.ReadDword(), 0xFFFFFFFEu);
  EXPECT_FALSE(channel.Ended());

  fake.Send({0x05, 0x06});
  fake.command_pipe_closed = true;
  EXPECT_EQ(channel.ReadDword(), 0u);
  EXPECT_TRUE(channel.Ended());
}

TEST_F(ChannelAlone, WriteDwordPutsTheLowByteFirst) {
  EXPECT_TRUE(channel.WriteDword(1));
  EXPECT_TRUE(channel.WriteDword(24));
  EXPECT_TRUE(channel.WriteDword(0xA1B2C3D4u));
  EXPECT_EQ(fake.replies, (std::vector<BYTE>{1, 0, 0, 0, 0x18, 0, 0, 0, 0xD4, 0xC3, 0xB2, 0xA1}));
  EXPECT_EQ(fake.write_sizes, (std::vector<DWORD>{4, 4, 4}));
  fake.write_fails = true;
  EXPECT_FALSE(channel.WriteDword(1));
}

TEST_F(CommandChannel, ReplyWriteFailureStillSetsTheEvent) {
  TThumbnailServer server(fake, kGoodTail);
  fake.write_fails = true;
  fake.Send({wire::kGetStatus});
  server.PollCommand();
  EXPECT_EQ(fake.events_at.size(), 1u);
  EXPECT_FALSE(server.State.Quit);
}

template <typename... Entries>
std::vector<int> BytesOf(wire::CommandList<Entries...>) {
  return {Entries::byte...};
}

// A table that drops a listed command would take its byte and ignore it; one
// that handles a byte off the list would act on what the parent never sent.
TEST(CommandTable, EveryListedCommandAndNoOtherByteHasAHandler) {
  std::vector<int> handled;
  for (int b = 0; b < 256; ++b)
    if (HandlerOf(static_cast<uint8_t>(b))) handled.push_back(b);
  std::vector<int> listed = BytesOf(wire::Commands{});
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(handled, listed);
}

}  // namespace
