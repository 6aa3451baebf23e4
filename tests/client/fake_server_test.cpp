// The client library against a stand-in server that crashes, hangs, ends
// itself or breaks the protocol on purpose.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <thread>
#include <vector>

#include "client/thumbnail_client.h"
#include "tests/client/picture_files.h"
#include "tests/support/fixtures.h"

namespace thumbnail {
namespace {

// The fake's behaviour for one test; the child takes it from the
// environment it inherits.
class FakeServer : public ::testing::Test {
 protected:
  void Use(const char* mode, const char* idle_ms = "10000") {
    ::setenv("THUMBNAIL_FAKE_MODE", mode, 1);
    ::setenv("THUMBNAIL_FAKE_IDLE_MS", idle_ms, 1);
  }
  void TearDown() override {
    ::unsetenv("THUMBNAIL_FAKE_MODE");
    ::unsetenv("THUMBNAIL_FAKE_IDLE_MS");
  }
  static ClientOptions Fake() { return ClientOptions{FAKE_SERVER_PATH}; }
  static std::string Video() { return BytesFixture("client-fake.mp4", "served by the fake"); }
};

TEST_F(FakeServer, RowsArriveTopDownAsSent) {
  Use("serve");
  ThumbnailClient client(Fake());
  Frame frame;
  ASSERT_TRUE(client.Thumbnail(Video(), &frame).ok());
  ASSERT_EQ(frame.width, 4);
  ASSERT_EQ(frame.height, 2);
  // The fake fills row r with r * 16 + i.
  EXPECT_EQ(frame.bgr[0], 0);
  EXPECT_EQ(frame.bgr[11], 11);
  EXPECT_EQ(frame.bgr[12], 16);
}

TEST_F(FakeServer, RefusedFileKeepsTheServer) {
  Use("serve");
  ThumbnailClient client(Fake());
  Frame frame;
  Status status = client.Thumbnail(BytesFixture("client-fake.bad", "x"), &frame);
  EXPECT_EQ(status.failure, Failure::kNotMedia) << "the server's reason, asked after its refusal";
  pid_t server = client.server_pid();
  EXPECT_TRUE(client.Thumbnail(Video(), &frame).ok());
  EXPECT_EQ(client.server_pid(), server);
}

TEST_F(FakeServer, CrashFailsTheRequestAndTheNextServerAnswers) {
  Use("crash");
  ThumbnailClient client(Fake());
  Frame frame;
  Status status = client.Thumbnail(Video(), &frame);
  EXPECT_EQ(status.failure, Failure::kServerCrashed);
  EXPECT_EQ(status.reason, "the server crashed on it");
  EXPECT_EQ(client.server_pid(), 0);
  EXPECT_TRUE(frame.bgr.empty());
  EXPECT_TRUE(client.GetStatus().ok());
}

TEST_F(FakeServer, HangingServerTimesOutAndIsKilled) {
  Use("hang");
  ClientOptions options = Fake();
  options.reply_timeout_ms = 200;
  ThumbnailClient client(options);
  ASSERT_TRUE(client.GetStatus().ok());
  pid_t server = client.server_pid();
  Frame frame;
  EXPECT_EQ(client.Thumbnail(Video(), &frame).failure, Failure::kTimedOut);
  EXPECT_FALSE(ProcessExists(server));
}

TEST_F(FakeServer, ImpossibleFrameSizeIsAProtocolError) {
  Use("huge");
  ThumbnailClient client(Fake());
  Frame frame;
  Status status = client.Thumbnail(Video(), &frame);
  EXPECT_EQ(status.failure, Failure::kProtocolError) << status.reason;
  EXPECT_EQ(client.server_pid(), 0);
}

TEST_F(FakeServer, BytesBeyondAReplyAreAProtocolError) {
  Use("extra");
  ThumbnailClient client(Fake());
  EXPECT_EQ(client.GetStatus().failure, Failure::kProtocolError);
  EXPECT_EQ(client.server_pid(), 0);
}

TEST_F(FakeServer, ServerThatEndedWhileIdleIsReplacedUnseen) {
  Use("serve", "1000");
  ThumbnailClient client(Fake());
  Frame frame;
  ASSERT_TRUE(client.Thumbnail(Video(), &frame).ok());
  pid_t first = client.server_pid();
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  Status status = client.Thumbnail(Video(), &frame);
  ASSERT_TRUE(status.ok()) << status.reason;
  EXPECT_NE(client.server_pid(), first);
  EXPECT_FALSE(ProcessExists(first));
}

TEST_F(FakeServer, ServerNearItsIdleEndIsReplacedBeforeItIsAsked) {
  Use("serve");
  ClientOptions options = Fake();
  options.restart_after_idle_ms = 100;
  ThumbnailClient client(options);
  ASSERT_TRUE(client.GetStatus().ok());
  pid_t first = client.server_pid();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  ASSERT_TRUE(client.GetStatus().ok());
  EXPECT_NE(client.server_pid(), first);
  EXPECT_FALSE(ProcessExists(first));
}

// A frames request that breaks off: each ends with the failure that says
// why, after the frames that came, and the next request finds a server.
// Caught: a crash in the middle reported as a short success, a frame too
// large to be real allocated, a request the protocol cannot carry sent.
TEST_F(FakeServer, FramesRequestsThatBreakOffSayWhy) {
  struct Case {
    const char* mode;
    std::vector<uint32_t> positions;
    uint32_t interval_ms;
    Failure failure;
    size_t frames;
  };
  const Case cases[] = {
      {"serve", {}, 1000, Failure::kNone, 4},
      {"crash", {}, 1000, Failure::kServerCrashed, 0},
      {"huge", {5}, 0, Failure::kProtocolError, 0},
      {"serve", {}, 0, Failure::kBadRequest, 0},
      {"serve", std::vector<uint32_t>(kMaxFramePositions + 1, 1), 0, Failure::kBadRequest, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    Use(c.mode);
    ThumbnailClient client(Fake());
    FramesRequest request;
    request.positions = c.positions;
    request.interval_ms = c.interval_ms;
    size_t frames = 0;
    Status status = client.Frames(Video(), request, nullptr, [&](const TimedFrame& taken) {
      EXPECT_EQ(taken.index, frames);
      ++frames;
      return true;
    });
    EXPECT_EQ(status.failure, c.failure) << status.reason;
    EXPECT_EQ(frames, c.frames);
    Use("serve");
    Frame frame;
    EXPECT_TRUE(client.Thumbnail(Video(), &frame).ok());
  }
}

TEST(ThumbnailClientStart, MissingServerProgramIsReported) {
  ThumbnailClient client(ClientOptions{"/nonexistent/thumbnail-server"});
  Status status = client.GetStatus();
  EXPECT_EQ(status.failure, Failure::kServerUnavailable);
  EXPECT_NE(status.reason.find("/nonexistent/thumbnail-server"), std::string::npos) << status.reason;
}

}  // namespace
}  // namespace thumbnail
