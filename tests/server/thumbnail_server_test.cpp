// Start-up, the end of the server, the watchdog and the crash filter.
#include "server/thumbnail_server.h"

#include "tests/server/server_test_base.h"

namespace {

using StartUp = ServerTest;

struct TailCase {
  const char* tail;
  DWORD read, write, event;
  const char* trace;  // the outcome traced by Init
};

TEST_F(StartUp, ParsesTheHandleValuesAfterTheSwitch) {
  const TailCase cases[] = {
      {"-com 12 34 56", 12, 34, 56, "Init Ok"},
      {"other -com 12 34 56", 12, 34, 56, "Init Ok"},
      {"x-com 7 8 9", 7, 8, 9, "Init Ok"},        // inside a longer word
      {"-com  1 2 3", 1, 1, 2, "Init Ok"},        // the blank before 1 is found again
      {"-com 1  2 3", 1, 2, 2, "Init Ok"},
      {"-com 12 34 56 extra", 12, 34, 56, "Init Ok"},
      {"", 0, 0, 0, "Error 2"},
      {"-COM 12 34 56", 0, 0, 0, "Error 2"},
      {"-com 0 34 56", 0, 0, 0, "Error 3"},
      {"-com x 34 56", 0, 0, 0, "Error 3"},
      {"-com 12 0 56", 12, 0, 0, "Error 4"},
      {"-com 12 34 0", 12, 34, 0, "Error 5"},
      {"-com 12 34 x", 12, 34, 0, "Error 5"},
      // Tails that end before a value.
      {"-com", 0, 0, 0, "Error 3"},
      {"-com ", 0, 0, 0, "Error 3"},
      {"-com 12", 12, 0, 0, "Error 4"},
      {"-com 12 34", 12, 34, 0, "Error 5"},
  };
  for (const TailCase& c : cases) {
    SCOPED_TRACE(c.tail);
    traces.clear();
    FakePlatform platform;
    platform.pipes_forbidden = true;
    TThumbnailServer server(platform, c.tail);
    const bool ok = std::string(c.trace) == "Init Ok";
    EXPECT_EQ(server.InitFailed, !ok);
    EXPECT_EQ(server.Channel.ReadPipe, c.read);
    EXPECT_EQ(server.Channel.WritePipe, c.write);
    EXPECT_EQ(server.Channel.ReplyEvent, c.event);
    EXPECT_TRUE(Traced(c.trace));
    if (!ok) {
      // A failed start-up ends at the first poll without touching the pipes.
      server.PollCommand();
      EXPECT_TRUE(server.State.Quit);
      EXPECT_EQ(platform.slept_ms, 0u);
    }
  }
}

TEST_F(StartUp, FailedComStartParsesNothingAndStillUninitialises) {
  fake.co_initialize_hr = S_FALSE;
  fake.pipes_forbidden = true;
  {
    TThumbnailServer server(fake, kGoodTail);
    EXPECT_TRUE(server.InitFailed);
    EXPECT_TRUE(Traced("Error 1"));
    EXPECT_EQ(server.Channel.ReadPipe, 0u);
  }
  EXPECT_EQ(fake.co_initialized, 0) << "S_FALSE initialised COM too, and was undone";
  EXPECT_TRUE(fake.closed_handles.empty());
}

TEST_F(StartUp, RowAlignmentProbe) {
  struct {
    bool fails;
    LONG widthBytes;
    bool aligned;
  } cases[] = {{false, 4, true}, {false, 3, false}, {false, 6, true}, {true, 0, true}};
  for (auto& c : cases) {
    FakePlatform platform;
    platform.create_bitmap_fails = c.fails;
    platform.bitmap_width_bytes = c.widthBytes;
    TThumbnailServer server(platform, kGoodTail);
    EXPECT_FALSE(server.InitFailed);
    EXPECT_EQ(server.State.RowsDwordAligned, c.aligned) << c.widthBytes;
    EXPECT_EQ(platform.bitmaps_alive, 0);
  }
}

TEST_F(StartUp, InstallsFilterAndWatchdogAndCountsIdleTimeFromTheEnd) {
  TThumbnailServer server(fake, kGoodTail);
  EXPECT_EQ(fake.filter, &CrashFilter);
  EXPECT_EQ(fake.threads_started, 1);
  EXPECT_EQ(fake.thread_body, &WatchdogThread);
  EXPECT_EQ(fake.thread_argument, static_cast<void*>(&fake));
  EXPECT_EQ(LastActivityTick.load(), fake.now);
  EXPECT_EQ(fake.co_initialized, 1);
}

TEST_F(StartUp, DestructionClosesOnlyTheEventAndUninitialises) {
  { TThumbnailServer server(fake, kGoodTail); }
  EXPECT_EQ(fake.closed_handles, std::vector<DWORD>{kReplyEvent});
  EXPECT_EQ(fake.co_initialized, 0);
  EXPECT_TRUE(Traced("Destroying thumbnail server object\n"));
  EXPECT_TRUE(fake.replies.empty());
  EXPECT_TRUE(fake.events_at.empty());
}

TEST(IdleLimit, PassesOnlyAfterMoreThanTenSeconds) {
  EXPECT_FALSE(IdleLimitPassed(10000, 0));
  EXPECT_TRUE(IdleLimitPassed(10001, 0));
  EXPECT_FALSE(IdleLimitPassed(0, 0));
  // Across the wrap of the tick count.
  EXPECT_FALSE(IdleLimitPassed(10000 - 6000, 0xFFFFFFFFu - 5999));
  EXPECT_TRUE(IdleLimitPassed(10001 - 6000, 0xFFFFFFFFu - 5999));
  EXPECT_FALSE(IdleLimitPassed(5, 0xFFFFFFF0u));
}

TEST_F(StartUp, WatchdogEndsTheProcessOnceTheIdleLimitHasPassed) {
  LastActivityTick.store(fake.now);
  int rounds = 0;
  while (WatchdogStep(fake)) {
    ASSERT_TRUE(fake.process_ends.empty());
    ASSERT_LT(++rounds, 20);
  }
  // Ten rounds of a second are still in time; the eleventh is not.
  EXPECT_EQ(rounds, 10);
  EXPECT_EQ(fake.slept_ms, 11000u);
  EXPECT_EQ(fake.process_ends, std::vector<UINT>{0});
}

TEST_F(StartUp, CrashFilterEndsTheProcessWithCodeZero) {
  TThumbnailServer server(fake, kGoodTail);
  CrashFilter(nullptr);
  EXPECT_EQ(fake.process_ends, std::vector<UINT>{0});
  EXPECT_TRUE(fake.replies.empty());
  EXPECT_TRUE(fake.events_at.empty());
}

}  // namespace
