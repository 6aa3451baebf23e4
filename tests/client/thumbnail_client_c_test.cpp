// The C face of the client: what a binding in another language relies on.
#include "client/thumbnail_client_c.h"

#include <gtest/gtest.h>

#include <memory>

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
TEST(ThumbnailClientC, AMissingServerFailsTheRequest) {
  Client client(thumbnail_client_new("/nonexistent/thumbnail-server"));
  ASSERT_TRUE(client);
  Frame frame(thumbnail_client_frame(client.get(), TestVideo().c_str(), 0, 0));
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->status, THUMBNAIL_SERVER_UNAVAILABLE) << frame->reason;
}

}  // namespace
