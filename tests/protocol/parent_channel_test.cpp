// The parent's channel over scripted ends: what it makes of the event's
// settings, of replies that break off or break the rules, and when it counts
// a command as sent.
#include "protocol/parent_channel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <utility>

namespace {

using wire::ChannelResult;

// Ends that hand out the reply bytes a test gives them, then `afterReply`;
// each wait for the event takes the next scripted outcome.
struct ScriptedEnds final : wire::ChannelEnds {
  std::vector<uint8_t> written;
  ChannelResult writeResult = ChannelResult::kOk;
  std::vector<uint8_t> reply;
  ChannelResult afterReply = ChannelResult::kTimedOut;
  std::deque<std::pair<ChannelResult, uint64_t>> events;
  int eventWaits = 0;
  std::vector<bool> waitedAlone;

  ChannelResult Write(const uint8_t* bytes, size_t size, wire::Clock::time_point) override {
    if (writeResult == ChannelResult::kOk) written.insert(written.end(), bytes, bytes + size);
    return writeResult;
  }
  ChannelResult Read(uint8_t* out, size_t size, wire::Clock::time_point) override {
    if (size > reply.size()) return afterReply;
    std::memcpy(out, reply.data(), size);
    reply.erase(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(size));
    return ChannelResult::kOk;
  }
  ChannelResult TakeEvent(wire::Clock::time_point, bool alone, uint64_t* settings) override {
    ++eventWaits;
    waitedAlone.push_back(alone);
    *settings = 0;
    if (events.empty()) return ChannelResult::kTimedOut;
    auto [result, count] = events.front();
    events.pop_front();
    *settings = count;
    return result;
  }
};

const auto kSoon = wire::Clock::now() + std::chrono::seconds(1);

// Faults caught: a second setting of the event (a reply the parent did not
// ask for) taken as the end of this one; the ends' own verdict lost; a wait
// that does not watch the reply pipe.
TEST(ParentChannel, TheOnlyReplyEndsWithOneSettingAndNothingAfter) {
  const struct {
    const char* what;
    ChannelResult ends;
    uint64_t settings;
    ChannelResult expected;
  } kCases[] = {
      {"set once", ChannelResult::kOk, 1, ChannelResult::kOk},
      {"set twice", ChannelResult::kOk, 2, ChannelResult::kOverrun},
      {"bytes after the reply", ChannelResult::kOverrun, 1, ChannelResult::kOverrun},
      {"never set", ChannelResult::kTimedOut, 0, ChannelResult::kTimedOut},
      {"server gone", ChannelResult::kGone, 0, ChannelResult::kGone},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ScriptedEnds ends;
    ends.events.push_back({c.ends, c.settings});
    wire::ParentChannel channel(ends);
    EXPECT_EQ(channel.AwaitReplyEnd(kSoon), c.expected);
    EXPECT_EQ(ends.waitedAlone, std::vector<bool>{true});
  }
}

// Fault caught: a parent with three replies in flight whose one wait took all
// three settings, then waits for events that already came.
TEST(ParentChannel, SettingsTakenTogetherServeTheRepliesInFlight) {
  ScriptedEnds ends;
  ends.events.push_back({ChannelResult::kOk, 3});
  ends.events.push_back({ChannelResult::kOk, 1});
  wire::ParentChannel channel(ends);
  for (int reply = 0; reply < 3; ++reply) EXPECT_EQ(channel.AwaitEvent(kSoon), ChannelResult::kOk);
  EXPECT_EQ(ends.eventWaits, 1);
  EXPECT_EQ(channel.AwaitEvent(kSoon), ChannelResult::kOk);
  EXPECT_EQ(ends.eventWaits, 2);
  EXPECT_EQ(ends.waitedAlone, (std::vector<bool>{false, false}));

  // A setting kept for a reply still in flight is not the end of another.
  ScriptedEnds early;
  early.events.push_back({ChannelResult::kOk, 2});
  wire::ParentChannel pipelined(early);
  EXPECT_EQ(pipelined.AwaitEvent(kSoon), ChannelResult::kOk);
  EXPECT_EQ(pipelined.AwaitReplyEnd(kSoon), ChannelResult::kOverrun);
}

// Faults caught: a reply cut off by the server's end told as malformed (the
// parent would blame the server's words, not its crash), and a reply that
// breaks the rules told as a time-out or accepted.
TEST(ParentChannel, AReplyCutOffIsToldApartFromOneThatBreaksTheRules) {
  ScriptedEnds cut;
  cut.reply = {0x04, 0, 0, 0, 'h', 'e'};
  cut.afterReply = ChannelResult::kGone;
  wire::ParentChannel cutChannel(cut);
  wire::FailureReply failure;
  EXPECT_EQ(cutChannel.Receive(&failure, kSoon), ChannelResult::kGone);

  ScriptedEnds endless;
  endless.reply = {0x04, 0, 0, 0};
  endless.reply.resize(4 + wire::kMaxStringBytes, 'x');
  wire::ParentChannel endlessChannel(endless);
  EXPECT_EQ(endlessChannel.Receive(&failure, kSoon), ChannelResult::kMalformed);
}

// Faults caught: the idle limit counted from a command that never went out;
// rows read without the command for them, or with the wrong length.
TEST(ParentChannel, ACommandCountsAsSentOnceItIsOutWhole) {
  ScriptedEnds ends;
  ends.writeResult = ChannelResult::kTimedOut;
  wire::ParentChannel channel(ends);
  const auto made = channel.lastSent();
  EXPECT_EQ(channel.Send(wire::StatusRequest{}, kSoon), ChannelResult::kTimedOut);
  EXPECT_EQ(channel.lastSent(), made);

  ends.writeResult = ChannelResult::kOk;
  ends.reply = {1, 2, 3, 4, 5, 6};
  ends.events.push_back({ChannelResult::kOk, 1});
  uint8_t rows[6] = {};
  EXPECT_EQ(channel.GetLines(7, 2, 3, rows, kSoon), ChannelResult::kOk);
  EXPECT_GT(channel.lastSent(), made);
  EXPECT_EQ(ends.written, wire::EncodeRequest(wire::GetLinesRequest{7, 2}));
  EXPECT_EQ(std::vector<uint8_t>(rows, rows + 6), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_TRUE(ends.reply.empty());
}

}  // namespace
