// The C face of the client: what a binding in another language relies on.
#include "client/thumbnail_client_c.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "tests/support/fixtures.h"

namespace {

struct ClientFree {
  void operator()(thumbnail_client* client) const { thumbnail_client_free(client); }
};
struct FrameFree {
  void operator()(thumbnail_frame* frame) const { thumbnail_client_frame_free(frame); }
};
using Client = std::unique_ptr<thumbnail_client, ClientFree>;
using Frame = std::unique_ptr<thumbnail_frame, FrameFree>;

std::string TestVideo() {
  return Fixture("client-c-testsrc.mp4", "-f lavfi -i testsrc=size=320x240:rate=25:duration=1 -pix_fmt yuv420p");
}

// A frame whose stride or row pointer were wrong would send a binding's
// copy past the rows or into another buffer.
TEST(ThumbnailClientC, FramesCarryTheirRowsAndStride) {
  Client client(thumbnail_client_new(THUMBNAIL_SERVER_PATH));
  ASSERT_TRUE(client);
  struct Case {
    int width, height, want_width, want_height;
  };
  for (Case c : {Case{0, 0, 320, 240}, Case{64, 48, 64, 48}}) {
    Frame frame(thumbnail_client_frame(client.get(), TestVideo().c_str(), c.width, c.height));
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->status, THUMBNAIL_OK) << frame->reason;
    EXPECT_STREQ(frame->reason, "");
    EXPECT_EQ(frame->width, c.want_width);
    EXPECT_EQ(frame->height, c.want_height);
    EXPECT_EQ(frame->stride, c.want_width * 3);
    ASSERT_NE(frame->bgr, nullptr);
  }
}

// A place that did not reach the server, or an origin that did not come
// back, would give a binding the fixed walk's frame under the wrong time.
TEST(ThumbnailClientC, APlaceInTheVideoIsWhereTheFrameComesFrom) {
  Client client(thumbnail_client_new(THUMBNAIL_SERVER_PATH));
  struct Case {
    bool placed;
    int where;
    uint32_t value, milliseconds;
  };
  for (Case c : {Case{false, 0, 0, 300}, Case{true, THUMBNAIL_AT_MILLISECONDS, 640, 640},
                 Case{true, THUMBNAIL_AT_MILLIONTHS, 250000, 250},
                 Case{true, THUMBNAIL_AT_MILLISECONDS | THUMBNAIL_PREFER_COVER, 700, 700}}) {
    Frame frame(c.placed ? thumbnail_client_frame_at(client.get(), TestVideo().c_str(), 0, 0, c.where, c.value)
                         : thumbnail_client_frame(client.get(), TestVideo().c_str(), 0, 0));
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->status, THUMBNAIL_OK) << frame->reason;
    EXPECT_EQ(frame->origin, THUMBNAIL_ORIGIN_VIDEO) << "a file without a cover gives its frame";
    EXPECT_EQ(frame->milliseconds, c.milliseconds) << c.where << " " << c.value;
  }
}

// The chosen frame's time must be the winning candidate's, and a short
// array must get only what fits while the count tells all.
TEST(ThumbnailClientC, TheChosenFrameIsTheBestCandidateAndTellsItsTime) {
  Client client(thumbnail_client_new(THUMBNAIL_SERVER_PATH));
  thumbnail_candidate candidates[3] = {};
  size_t count = 0;
  Frame frame(thumbnail_client_frame_chosen(client.get(), TestVideo().c_str(), 64, candidates, 3, &count));
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->status, THUMBNAIL_OK) << frame->reason;
  EXPECT_EQ(std::max(frame->width, frame->height), 64);
  EXPECT_EQ(frame->origin, THUMBNAIL_ORIGIN_VIDEO);
  ASSERT_GT(count, 3u);
  for (const thumbnail_candidate& c : candidates) EXPECT_GT(c.score, -1) << c.milliseconds;
  EXPECT_LT(candidates[0].milliseconds, candidates[1].milliseconds);
  Frame missing(thumbnail_client_frame_chosen(client.get(), "/no/such/video", 64, nullptr, 0, &count));
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, THUMBNAIL_NO_SUCH_FILE);
  EXPECT_EQ(count, 0u);
}

// A failure must come back as a status a caller can test, never as a NULL
// that a binding would take for running out of memory, nor as rows.
TEST(ThumbnailClientC, FailuresAreStatusesWithReasons) {
  Client client(thumbnail_client_new(THUMBNAIL_SERVER_PATH));
  struct Case {
    thumbnail_client* client;
    const char* path;
    int width, height, status;
  };
  std::string video = TestVideo();
  for (Case c : {Case{client.get(), "/nonexistent/video.mp4", 0, 0, THUMBNAIL_NO_SUCH_FILE},
                 Case{client.get(), "/", 0, 0, THUMBNAIL_NOT_A_FILE},
                 Case{client.get(), nullptr, 0, 0, THUMBNAIL_BAD_REQUEST},
                 Case{nullptr, video.c_str(), 0, 0, THUMBNAIL_BAD_REQUEST},
                 Case{client.get(), video.c_str(), -1, 48, THUMBNAIL_BAD_REQUEST},
                 Case{client.get(), video.c_str(), 64, 0, THUMBNAIL_BAD_REQUEST}}) {
    Frame frame(thumbnail_client_frame(c.client, c.path, c.width, c.height));
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->status, c.status) << (c.path ? c.path : "(null)") << " " << c.width << "x" << c.height;
    EXPECT_STRNE(frame->reason, "");
    EXPECT_EQ(frame->bgr, nullptr);
    EXPECT_EQ(frame->width, 0);
    EXPECT_EQ(frame->origin, THUMBNAIL_ORIGIN_NONE);
  }
}

// A server that cannot be started is a status on the request, not a NULL
// client.
// Catches: a budget the C face drops on its way to the server, a spent
// budget reaching C as another status, and a tally that does not say what
// was read.
TEST(ThumbnailClientC, ReadBudgetAndTally) {
  Client open(thumbnail_client_new(THUMBNAIL_SERVER_PATH));
  Frame frame(thumbnail_client_frame(open.get(), TestVideo().c_str(), 0, 0));
  ASSERT_EQ(frame->status, THUMBNAIL_OK) << frame->reason;
  uint64_t bytes = 0;
  uint32_t seeks = 0;
  ASSERT_EQ(thumbnail_client_read_tally(open.get(), &bytes, &seeks), THUMBNAIL_OK);
  EXPECT_GT(bytes, 0u);

  Client frugal(thumbnail_client_new_limited(THUMBNAIL_SERVER_PATH, 2048));
  frame.reset(thumbnail_client_frame(frugal.get(), TestVideo().c_str(), 0, 0));
  EXPECT_EQ(frame->status, THUMBNAIL_TOO_COSTLY) << frame->reason;
  ASSERT_EQ(thumbnail_client_read_tally(frugal.get(), &bytes, &seeks), THUMBNAIL_OK);
  EXPECT_LE(bytes, 2048u);
}

TEST(ThumbnailClientC, AMissingServerFailsTheRequest) {
  Client client(thumbnail_client_new("/nonexistent/thumbnail-server"));
  ASSERT_TRUE(client);
  Frame frame(thumbnail_client_frame(client.get(), TestVideo().c_str(), 0, 0));
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->status, THUMBNAIL_SERVER_UNAVAILABLE) << frame->reason;
}

}  // namespace

namespace {

struct Collected {
  std::vector<uint32_t> indices;
  std::vector<uint32_t> times;
  int stop_after = -1;
};

int Collect(const thumbnail_frame* frame, uint32_t index, void* user) {
  auto* seen = static_cast<Collected*>(user);
  EXPECT_EQ(frame->status, THUMBNAIL_OK);
  EXPECT_LE(std::max(frame->width, frame->height), 64);
  EXPECT_EQ(frame->stride, frame->width * 3);
  seen->indices.push_back(index);
  seen->times.push_back(frame->milliseconds);
  return static_cast<int>(seen->indices.size()) != seen->stop_after;
}

// Caught: facts not filled before the first frame, frames handed over out
// of time order or past the point the callback asked to stop, a failure
// reported as success with an empty reason, and a stop that leaves the
// server out of step for the next request.
TEST(ThumbnailClientC, FramesReachTheCallbackInTimeOrderUntilItStops) {
  Client client(thumbnail_client_new(THUMBNAIL_SERVER_PATH));
  const uint32_t positions[] = {800, 0, 400};
  thumbnail_video_facts facts;
  Collected seen;
  char reason[128] = "unset";
  ASSERT_EQ(thumbnail_client_frames(client.get(), TestVideo().c_str(), 64, THUMBNAIL_FRAMES_EXACT,
                                    THUMBNAIL_AT_MILLISECONDS, positions, 3, &facts, Collect, &seen, reason,
                                    sizeof reason),
            THUMBNAIL_OK);
  EXPECT_STREQ(reason, "");
  EXPECT_EQ(facts.frame_count, 3u);
  EXPECT_EQ(facts.width, 320);
  EXPECT_STREQ(facts.video_codec, "h264");
  EXPECT_EQ(seen.indices, (std::vector<uint32_t>{1, 2, 0}));
  EXPECT_EQ(seen.times, (std::vector<uint32_t>{0, 400, 800}));

  Collected stopped;
  stopped.stop_after = 2;
  EXPECT_EQ(thumbnail_client_frames_every(client.get(), TestVideo().c_str(), 64, THUMBNAIL_FRAMES_KEY, 200, nullptr,
                                          Collect, &stopped, nullptr, 0),
            THUMBNAIL_OK);
  EXPECT_EQ(stopped.indices.size(), 2u);

  const std::string junk = BytesFixture("client-c-junk.mp4", "junk, not a video");
  Collected none;
  EXPECT_EQ(thumbnail_client_frames_every(client.get(), junk.c_str(), 64, THUMBNAIL_FRAMES_KEY, 200, nullptr, Collect,
                                          &none, reason, sizeof reason),
            THUMBNAIL_NOT_MEDIA);
  EXPECT_STRNE(reason, "");
  EXPECT_TRUE(none.indices.empty());
  EXPECT_EQ(thumbnail_client_frames_every(client.get(), TestVideo().c_str(), 64, THUMBNAIL_FRAMES_KEY, 0, nullptr,
                                          Collect, &none, reason, sizeof reason),
            THUMBNAIL_BAD_REQUEST);

  Frame within(thumbnail_client_frame_within(client.get(), TestVideo().c_str(), 100, THUMBNAIL_AT_SERVER_CHOICE, 0));
  ASSERT_TRUE(within);
  ASSERT_EQ(within->status, THUMBNAIL_OK) << within->reason;
  EXPECT_EQ(within->width, 100);
  EXPECT_EQ(within->height, 75);
  EXPECT_EQ(within->origin, THUMBNAIL_ORIGIN_VIDEO);
  EXPECT_EQ(within->milliseconds, 300u);
}

}  // namespace
