// The real server process over real pipes and an eventfd: start-up, status,
// quit, the ways it ends by itself, and that it never prints anything.
#include <signal.h>

#include <chrono>

#include <gtest/gtest.h>

#include "tests/server/server_process.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Asks for the status and expects the value 1 and one event.
void ExpectStatus(ServerProcess& server) {
  wire::StatusReply status{0};
  EXPECT_EQ(server.channel().Ask(wire::StatusRequest{}, &status, ServerProcess::In()), wire::ChannelResult::kOk);
  EXPECT_EQ(status.status, 1u);
}

TEST(ServerProcess, AnswersStatusAndQuitsWithCodeZero) {
  ServerProcess server;
  ExpectStatus(server);
  ExpectStatus(server);
  ASSERT_TRUE(server.WriteByte(wire::kQuit));
  EXPECT_EQ(server.WaitExit(3000), 0);
  EXPECT_EQ(server.Output(), "");
}

TEST(ServerProcess, WidensItsReplyPipeForTheRows) {
  // At the default 64 KiB a 1080p frame's rows cross in about a hundred
  // fills, each a wake-up of both sides.
  ServerProcess server;
  ExpectStatus(server);
  EXPECT_EQ(server.ReplyPipeCapacity(), 1 << 20);
}

TEST(ServerProcess, IgnoresUnknownBytes) {
  ServerProcess server;
  ASSERT_TRUE(server.Write({0, 15, 200, 255}));
  ExpectStatus(server);
  EXPECT_FALSE(server.ReplyWaiting(100));
  EXPECT_EQ(server.WaitEvent(0), 0u);
  ASSERT_TRUE(server.WriteByte(wire::kQuit));
  EXPECT_EQ(server.WaitExit(3000), 0);
}

TEST(ServerProcess, SwitchAnywhereInTheCommandLine) {
  ServerProcess server({"--first", "-com", "{R}", "{W}", "{E}", "trailing"});
  ExpectStatus(server);
}

TEST(ServerProcess, BadCommandLinesEndAtOnceWithCodeZero) {
  const std::vector<std::vector<std::string>> lines = {
      {},
      {"-COM", "{R}", "{W}", "{E}"},
      {"-com", "0", "{W}", "{E}"},
      {"-com", "{R}", "0", "{E}"},
      {"-com", "{R}", "{W}", "zero"},
      {"-com", "{R}"},
      {"-com"},
  };
  for (const auto& line : lines) {
    std::string text;
    for (const auto& a : line) text += a + " ";
    SCOPED_TRACE(text);
    ServerProcess server(line);
    EXPECT_EQ(server.WaitExit(3000), 0);
    EXPECT_EQ(server.Output(), "");
    EXPECT_FALSE(server.ReplyWaiting());
  }
}

TEST(ServerProcess, CrashSignalsEndWithCodeZero) {
  for (int signal_number : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS}) {
    SCOPED_TRACE(signal_number);
    ServerProcess server;
    ExpectStatus(server);  // the crash filter is in place once it answers
    ASSERT_EQ(kill(server.pid(), signal_number), 0);
    EXPECT_EQ(server.WaitExit(3000), 0);
    EXPECT_EQ(server.Output(), "");
  }
}

TEST(ServerProcess, ReplyToAClosedPipeDoesNotKillIt) {
  ServerProcess server;
  server.CloseReplyPipe();
  ASSERT_TRUE(server.WriteByte(wire::kGetStatus));
  // The write fails; the reply still ends with the event.
  EXPECT_EQ(server.WaitEvent(), 1u);
  ASSERT_TRUE(server.WriteByte(wire::kGetStatus));
  EXPECT_EQ(server.WaitEvent(), 1u);
  ASSERT_TRUE(server.WriteByte(wire::kQuit));
  EXPECT_EQ(server.WaitExit(3000), 0);
  EXPECT_EQ(server.Output(), "");
}

TEST(ServerProcess, ParentLeavingInTheMiddleOfACommandEndsItAtOnce) {
  ServerProcess server;
  ExpectStatus(server);
  ASSERT_TRUE(server.Write({wire::kThumbnailFile, 'a', 'b'}));
  server.CloseCommandPipe();
  EXPECT_EQ(server.WaitExit(3000), 0);
  EXPECT_FALSE(server.ReplyWaiting());
}

// The one test that waits out the ten seconds: an idle server, one whose
// command's arguments never come (cut off by the watchdog), and one whose
// parent closed the command pipe, all at once.
TEST(ServerProcess, EndsTenSecondsAfterTheLastCommandByte) {
  ServerProcess idle;
  ServerProcess stuck;
  ServerProcess orphan;
  ExpectStatus(idle);
  ExpectStatus(orphan);
  const Clock::time_point idleSince = Clock::now();
  orphan.CloseCommandPipe();
  ASSERT_TRUE(stuck.WriteByte(wire::kThumbnailFile));  // a path that never comes
  const Clock::time_point stuckSince = Clock::now();

  EXPECT_EQ(idle.WaitExit(9500), -1) << "ended before the idle limit";
  EXPECT_EQ(stuck.WaitExit(0), -1);
  EXPECT_EQ(orphan.WaitExit(0), -1);
  EXPECT_EQ(idle.WaitExit(4000), 0);
  EXPECT_EQ(orphan.WaitExit(1000), 0);
  EXPECT_EQ(stuck.WaitExit(1000), 0);
  // Between the limit and a second and a bit beyond it (the machine is shared).
  EXPECT_GT(SecondsSince(idleSince), 10.0);
  EXPECT_LT(SecondsSince(stuckSince), 13.0);
  EXPECT_EQ(idle.Output(), "");
  EXPECT_EQ(stuck.Output(), "");
}

}  // namespace
