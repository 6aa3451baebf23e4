// Commands 12 to 14 over a fake platform: how a hand-over's outcome reaches
// the parent, what the lock refuses, and how a request's reads are told.
#include "tests/server/server_test_base.h"

#include "platform/dshow/media_failure.h"
#include "protocol/messages.h"
#include "server/thumbnail_server.h"

namespace {

class HandedFiles : public ServerTest {
 protected:
  // Polls one command's bytes and returns the reply values.
  template <typename Request>
  std::vector<DWORD> Run(const Request& request) {
    fake.replies.clear();
    fake.events_at.clear();
    fake.Send(wire::EncodeRequest(request));
    server.PollCommand();
    EXPECT_EQ(fake.Waiting(), 0u) << "every argument taken";
    return fake.ReplyDwords();
  }
  wire::Reason LastReason() {
    fake.replies.clear();
    fake.Send({wire::kGetFailure});
    server.PollCommand();
    wire::ByteSource source(fake.replies.data(), fake.replies.size());
    wire::FailureReply reply;
    EXPECT_TRUE(reply.Read(source));
    return static_cast<wire::Reason>(reply.reason);
  }

  TThumbnailServer server{fake, "-com 12 34 56 -files 78"};
};

// Catches: a failed hand-over answered as held (the request would then read
// nothing, or a file of the request before), or told under a reason the
// parent cannot act on.
TEST_F(HandedFiles, EachHandOverOutcomeIsAnsweredAndKept) {
  const struct {
    HandOver outcome;
    wire::Reason reason;
  } kCases[] = {
      {HandOver::kHeld, wire::kNoFailure},           {HandOver::kNothing, wire::kNotHandedOver},
      {HandOver::kSeveral, wire::kNotHandedOver},    {HandOver::kCutShort, wire::kNotHandedOver},
      {HandOver::kNotRegularFile, wire::kUnreadable}, {HandOver::kNotReadable, wire::kUnreadable},
  };
  for (const auto& c : kCases) {
    fake.hand_over = c.outcome;
    EXPECT_EQ(Run(wire::HandFileRequest{}), std::vector<DWORD>{c.reason}) << static_cast<int>(c.outcome);
    EXPECT_EQ(fake.events_at, std::vector<size_t>{4});
    if (c.reason != wire::kNoFailure) EXPECT_EQ(LastReason(), c.reason);
  }
}

// Catches: the socket taken from the wrong word of the command line, or the
// budget's high half dropped (a 2 GiB budget and one of 6 GiB would differ
// only there).
TEST_F(HandedFiles, SocketAndWholeBudgetReachThePlatform) {
  const uint64_t budget = (uint64_t{6} << 30) + 5;
  Run(wire::HandFileRequest{budget});
  EXPECT_EQ(fake.hand_over_sockets, std::vector<DWORD>{78});
  EXPECT_EQ(fake.hand_over_budgets, std::vector<ULONGLONG>{budget});

  TThumbnailServer plain(fake, kGoodTail);
  EXPECT_EQ(plain.Channel.FileSocket, 0u) << "a parent that names no socket has none";
}

// Catches: a locked server that still opens a path (the lock would keep the
// file system closed only where the kernel helps), a refusal that leaves the
// handed file open, or an empty path (the handed file) refused.
TEST_F(HandedFiles, LockRefusesPathsAndKeepsHandedFiles) {
  EXPECT_EQ(Run(wire::LockRequest{}), (std::vector<DWORD>{1, 3}));
  EXPECT_EQ(fake.locks, 1);

  Run(wire::HandFileRequest{});
  EXPECT_EQ(Run(wire::ThumbnailRequest{"/videos/a.mp4", 0, 0, std::nullopt}), std::vector<DWORD>{0});
  EXPECT_EQ(GrabCalls, 0) << "nothing opened for a path";
  EXPECT_EQ(fake.files_held, 0) << "the handed file closed with its request";
  EXPECT_EQ(LastReason(), wire::kPathRefused);

  wire::FramesRequest frames;
  frames.path = "/videos/a.mp4";
  frames.positions = {0};
  EXPECT_EQ(Run(frames), std::vector<DWORD>{0});
  EXPECT_EQ(LastReason(), wire::kPathRefused);

  NextGrab.width = 4;
  NextGrab.height = 2;
  Run(wire::HandFileRequest{});
  EXPECT_EQ(Run(wire::ThumbnailRequest{"", 0, 0, std::nullopt}), (std::vector<DWORD>{1, 4, 2, 24}));
  EXPECT_EQ(LastGrabPath, "");
  EXPECT_EQ(fake.files_held, 0);
  Run(wire::EndThumbnailRequest{});
}

// Catches: a lock the kernel refused answered as made, and a server that
// then takes paths again: the parent's requests must get the same answers
// wherever it runs.
TEST_F(HandedFiles, FailedLockIsToldAndPathsStayRefused) {
  fake.lock = {};
  EXPECT_EQ(Run(wire::LockRequest{}), (std::vector<DWORD>{0, 0}));
  EXPECT_EQ(Run(wire::ThumbnailRequest{"/videos/a.mp4", 0, 0, std::nullopt}), std::vector<DWORD>{0});
  EXPECT_EQ(LastReason(), wire::kPathRefused);
}

// Catches: a spent budget told as damage (the user would delete a good
// file), and a tally whose bytes past 4 GiB are lost on the wire.
TEST_F(HandedFiles, SpentBudgetIsTooCostlyAndTallyIsWhole) {
  NextGrab.result = 0;
  NextGrab.failure = E_FAIL;
  fake.tally = {(uint64_t{5} << 32) + 7, 3, 8 << 20, true};
  EXPECT_EQ(Run(wire::ThumbnailRequest{"", 0, 0, std::nullopt}), std::vector<DWORD>{0});
  EXPECT_EQ(LastReason(), wire::kTooCostly);
  EXPECT_EQ(Run(wire::ReadTallyRequest{}), (std::vector<DWORD>{7, 5, 3, 1}));

  fake.tally.budgetSpent = false;
  Run(wire::ThumbnailRequest{"", 0, 0, std::nullopt});
  EXPECT_EQ(LastReason(), wire::kDamaged) << "an unspent budget leaves the grabber's reason";
}

}  // namespace
