// Frames requests (commands 10 and 11) over a fake platform and a fake
// thumbnailer: the order the positions are taken in, what each frame's reply
// says, the requests refused, and a graph that fails in the middle.
#include "tests/server/server_test_base.h"

#include "protocol/messages.h"
#include "server/thumbnail_server.h"

namespace {

constexpr LONGLONG kUnitsPerMs = 10000;

class FramesRequests : public ServerTest {
 protected:
  FramesRequests() {
    NextGrab.width = 4;
    NextGrab.height = 2;
    NextGrab.duration = 10000 * kUnitsPerMs;
  }

  // Sends command 10; the reply, which one event must follow.
  wire::FramesReply Open(const wire::FramesRequest& request) {
    Clear();
    fake.Send(wire::EncodeRequest(request));
    server.PollCommand();
    EXPECT_EQ(fake.Waiting(), 0u);
    EXPECT_EQ(fake.events_at, std::vector<size_t>{fake.replies.size()}) << "one event, after the reply";
    wire::FramesReply reply;
    wire::ByteSource source(fake.replies.data(), fake.replies.size());
    EXPECT_TRUE(reply.Read(source));
    return reply;
  }

  // Command 11 until the request is done, with each frame's rows.
  std::vector<wire::NextFrameReply> Drain() {
    std::vector<wire::NextFrameReply> frames;
    for (int guard = 0; guard < 1000; ++guard) {
      Clear();
      fake.Send({wire::kNextFrame});
      server.PollCommand();
      wire::NextFrameReply reply;
      wire::ByteSource source(fake.replies.data(), fake.replies.size());
      EXPECT_TRUE(reply.Read(source));
      if (reply.status == wire::kNoMoreFrames) return frames;
      frames.push_back(reply);
      if (reply.status != wire::kFrameFollows) continue;
      Clear();
      fake.Send(wire::EncodeRequest(wire::GetLinesRequest{0, reply.height}));
      server.PollCommand();
      EXPECT_EQ(fake.replies.size(), size_t{reply.width} * reply.height * 3) << "native rows of the frame";
    }
    ADD_FAILURE() << "the request never ended";
    return frames;
  }

  DWORD Reason() {
    Clear();
    fake.Send({wire::kGetFailure});
    server.PollCommand();
    wire::FailureReply reply;
    wire::ByteSource source(fake.replies.data(), fake.replies.size());
    EXPECT_TRUE(reply.Read(source));
    return reply.reason;
  }

  void End() {
    fake.Send({wire::kEndThumbnail});
    server.PollCommand();
  }

  void Clear() {
    fake.replies.clear();
    fake.events_at.clear();
  }

  TThumbnailServer server{fake, kGoodTail};
};

wire::FramesRequest Request(uint32_t mode, uint32_t kind, std::vector<uint32_t> positions, uint32_t edge = 320) {
  return {"/videos/a.mp4", edge, mode, kind, std::move(positions)};
}

// Caught: frames out of time order (a second pass over the file), indices
// lost in the sort, a repeat that runs the graph again, shares or intervals
// resolved against the wrong duration, key frame mode not reaching the
// graph, a key frame reported at its position instead of its own time.
TEST_F(FramesRequests, PositionsAreTakenInTimeOrderEachWithItsIndex) {
  struct Step {
    DWORD index;
    DWORD ms;
  };
  struct Case {
    const char* what;
    wire::FramesRequest request;
    LONGLONG duration;
    std::vector<CaptureCall> captures;
    std::vector<Step> frames;
  };
  auto at = [](LONGLONG ms, bool key = false) { return CaptureCall{ms * kUnitsPerMs, key}; };
  const Case cases[] = {
      {"unsorted, repeated",
       Request(wire::kExactFrames, wire::kMilliseconds, {3000, 1000, 3000, 0}),
       -1,
       {at(0), at(1000), at(3000)},
       {{3, 0}, {1, 1000}, {0, 3000}, {2, 3000}}},
      {"shares of the duration",
       Request(wire::kExactFrames, wire::kMillionthsOfDuration, {1000000, 250000}),
       8000 * kUnitsPerMs,
       {at(2000), at(8000)},
       {{1, 2000}, {0, 8000}}},
      {"an interval up to the end",
       Request(wire::kExactFrames, wire::kIntervalMs, {2000}),
       5000 * kUnitsPerMs,
       {at(0), at(2000), at(4000)},
       {{0, 0}, {1, 2000}, {2, 4000}}},
      {"an interval over an unknown duration", Request(wire::kExactFrames, wire::kIntervalMs, {2000}), -1,
       {at(0)}, {{0, 0}}},
      {"key frames at their own times",
       Request(wire::kKeyFrames, wire::kIntervalMs, {1500}),
       4000 * kUnitsPerMs,
       {at(0, true), at(1500, true), at(3000, true)},
       {{0, 0}, {1, 1000}, {2, 3000}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Captures.clear();
    NextGrab.duration = c.duration;
    NextGrab.frame_time = [](LONGLONG position, bool key) { return key ? position / 10000000 * 10000000 : position; };
    const wire::FramesReply opened = Open(c.request);
    EXPECT_EQ(opened.result, 1u);
    EXPECT_EQ(opened.count, c.frames.size());
    EXPECT_EQ(opened.durationMs, c.duration < 0 ? wire::kUnknownDuration : c.duration / kUnitsPerMs);
    EXPECT_EQ(opened.videoCodec, "h264");
    EXPECT_EQ(LastLongerEdge, 320u);
    const std::vector<wire::NextFrameReply> frames = Drain();
    ASSERT_EQ(frames.size(), c.frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].status, wire::kFrameFollows);
      EXPECT_EQ(frames[i].index, c.frames[i].index);
      EXPECT_EQ(frames[i].origin, wire::kVideoFrame);
      EXPECT_EQ(frames[i].milliseconds, c.frames[i].ms);
      EXPECT_EQ(frames[i].width, 4u);
    }
    EXPECT_EQ(Captures, c.captures);
    End();
  }
}

// Each refused before the file is opened, with reason 10, and nothing held:
// a request that would hang the server on four billion positions, or scale
// to a size no bitmap holds, never reaches the graph.
TEST_F(FramesRequests, RequestsTheServerDoesNotTakeAreRefusedWithTheirReason) {
  struct Case {
    const char* what;
    wire::FramesRequest request;
  };
  std::vector<uint32_t> tooMany(wire::kMaxFramePositions + 1, 5);
  const Case cases[] = {
      {"no positions", Request(wire::kExactFrames, wire::kMilliseconds, {})},
      {"too many positions", Request(wire::kExactFrames, wire::kMilliseconds, tooMany)},
      {"an interval of 0", Request(wire::kExactFrames, wire::kIntervalMs, {0})},
      {"two intervals", Request(wire::kExactFrames, wire::kIntervalMs, {1000, 2000})},
      {"an unknown kind", Request(wire::kExactFrames, 3, {1000})},
      {"an unknown mode", Request(8, wire::kMilliseconds, {1000})},
      {"an edge too long", Request(wire::kExactFrames, wire::kMilliseconds, {1000}, wire::kMaxLongerEdge + 1)},
      {"a walk from two places", Request(wire::kFirstBrightFrame, wire::kMilliseconds, {1, 2})},
      {"an interval of more frames than the limit", Request(wire::kExactFrames, wire::kIntervalMs, {1})},
  };
  NextGrab.duration = LONGLONG{wire::kMaxFramePositions + 1} * kUnitsPerMs;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Open(c.request).result, 0u);
    EXPECT_EQ(Reason(), wire::kBadRequest);
    EXPECT_EQ(ThumbnailersAlive, 0);
    EXPECT_TRUE(Drain().empty());
  }
}

// A position where nothing decodes is reported and the request goes on; a
// graph that stops working ends the request with its reason, not with
// frames that never came.
TEST_F(FramesRequests, MissingFramesAreReportedAndAFailedGraphEndsTheRequest) {
  NextGrab.failure = E_MEDIA_NO_PICTURE;
  NextGrab.capture = [](LONGLONG position, bool) {
    if (position == 1000 * kUnitsPerMs) return TDirectShowThumbnailer::Capture::kNone;
    if (position == 3000 * kUnitsPerMs) return TDirectShowThumbnailer::Capture::kFailed;
    return TDirectShowThumbnailer::Capture::kFrame;
  };
  ASSERT_EQ(Open(Request(wire::kExactFrames, wire::kIntervalMs, {1000})).count, 10u);
  const std::vector<wire::NextFrameReply> frames = Drain();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].status, wire::kFrameFollows);
  EXPECT_EQ(frames[1].status, wire::kFrameMissing);
  EXPECT_EQ(frames[1].index, 1u);
  EXPECT_EQ(frames[2].status, wire::kFrameFollows);
  EXPECT_EQ(Reason(), wire::kDamaged);
  End();
}

// A walk chooses its one frame as command 7 does, at the size asked, and
// command 11 serves it without running the graph again.
TEST_F(FramesRequests, AWalkGivesItsOneFrame) {
  NextGrab.position = 15000000;
  const wire::FramesReply opened = Open(Request(wire::kFirstBrightFrame, wire::kMillionthsOfDuration, {500000}, 256));
  EXPECT_EQ(opened.count, 1u);
  ASSERT_TRUE(LastGrabStart.has_value());
  EXPECT_TRUE(LastGrabStart->fraction);
  EXPECT_EQ(LastLongerEdge, 256u);
  const std::vector<wire::NextFrameReply> frames = Drain();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].milliseconds, 1500u);
  EXPECT_TRUE(Captures.empty());
  End();
}

}  // namespace
