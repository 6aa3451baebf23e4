// Frames requests to the real server on real video files made by the ffmpeg
// tool: exact frames against command 7's, key frames against the file's own
// key frames, frames at a size against the tool's scaled frame, and the
// files that make a pass over them hard (no index, rare or damaged key
// frames, a single frame, a parent that leaves).
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "tests/server/server_process.h"
#include "tests/support/fixtures.h"

namespace {

constexpr int kFrameTimeoutMs = 20000;

struct Taken {
  wire::NextFrameReply reply;
  Picture picture;
};

struct Outcome {
  wire::FramesReply opened;
  std::vector<Taken> frames;
};

// Command 10, then command 11 (and 3 for each frame's rows) to the end.
Outcome Frames(ServerProcess& server, const wire::FramesRequest& request) {
  Outcome outcome;
  wire::ParentChannel& channel = server.channel();
  EXPECT_EQ(channel.Ask(request, &outcome.opened, ServerProcess::In(kFrameTimeoutMs)), wire::ChannelResult::kOk);
  if (outcome.opened.result != 1) return outcome;
  for (uint32_t i = 0; i <= outcome.opened.count; ++i) {
    Taken taken;
    EXPECT_EQ(channel.Ask(wire::NextFrameRequest{}, &taken.reply, ServerProcess::In(kFrameTimeoutMs)),
              wire::ChannelResult::kOk);
    if (taken.reply.status == wire::kNoMoreFrames) break;
    if (taken.reply.status == wire::kFrameFollows) {
      taken.picture.width = static_cast<int>(taken.reply.width);
      taken.picture.height = static_cast<int>(taken.reply.height);
      taken.picture.bgr.resize(size_t{taken.reply.width} * taken.reply.height * 3);
      EXPECT_EQ(channel.GetLines(0, taken.reply.height, size_t{taken.reply.width} * 3, taken.picture.bgr.data(),
                                 ServerProcess::In(kFrameTimeoutMs)),
                wire::ChannelResult::kOk);
    }
    outcome.frames.push_back(std::move(taken));
  }
  EXPECT_EQ(channel.Send(wire::EndThumbnailRequest{}, ServerProcess::In()), wire::ChannelResult::kOk);
  return outcome;
}

// Command 7's frame at a time, at the frame's own size.
Picture Command7(ServerProcess& server, const std::string& path, uint32_t ms) {
  wire::ParentChannel& channel = server.channel();
  wire::ThumbnailReply reply;
  EXPECT_EQ(channel.Ask(wire::ThumbnailRequest{path, 0, 0, wire::ThumbnailRequest::Position{wire::kMilliseconds, ms}},
                        &reply, ServerProcess::In(kFrameTimeoutMs)),
            wire::ChannelResult::kOk);
  Picture p;
  if (reply.result != 1) return p;
  p.width = static_cast<int>(reply.width);
  p.height = static_cast<int>(reply.height);
  p.bgr.resize(size_t{reply.width} * reply.height * 3);
  EXPECT_EQ(channel.GetLines(0, reply.height, size_t{reply.width} * 3, p.bgr.data(), ServerProcess::In()),
            wire::ChannelResult::kOk);
  EXPECT_EQ(channel.Send(wire::EndThumbnailRequest{}, ServerProcess::In()), wire::ChannelResult::kOk);
  return p;
}

// The times of the video's key frames, in milliseconds from its first
// frame (a key frame: a transport stream's clock starts elsewhere), as
// ffprobe lists them.
std::vector<uint32_t> KeyFrameTimes(const std::string& path) {
  std::string listed;
  RunCommand("ffprobe -v error -select_streams v:0 -skip_frame nokey -show_entries frame=pts_time -of csv=p=0 " +
                 ShellQuote(path),
             &listed);
  std::vector<uint32_t> times;
  std::istringstream in(listed);
  double first = -1;
  for (double seconds; in >> seconds;) {
    if (first < 0) first = seconds;
    times.push_back(static_cast<uint32_t>((seconds - first) * 1000 + 0.5));
  }
  return times;
}

std::string Video(const std::string& name, const std::string& container, int seconds, int keyInterval) {
  return Fixture(name + "." + container, "-f lavfi -i testsrc2=size=320x240:rate=25:duration=" +
                                             std::to_string(seconds) + " -pix_fmt yuv420p -c:v libx264 -preset "
                                             "ultrafast -bf 2 -g " + std::to_string(keyInterval) +
                                             " -sc_threshold 0");
}

void Quit(ServerProcess& server) {
  EXPECT_TRUE(server.WriteByte(wire::kQuit));
  EXPECT_EQ(server.WaitExit(5000), 0);
  EXPECT_EQ(server.Output(), "");
}

// Caught: an exact frame that differs from the one command 7 shows there
// (a pass that reads on past its frame, or lands a frame early), and a
// position past the end that gives no frame.
TEST(FramesRequest, ExactFramesAreCommandSevensFrames) {
  const std::string video = Video("frames-exact", "mp4", 4, 25);
  ServerProcess server;
  const std::vector<uint32_t> positions = {2980, 400, 1234, 400, 9000, 0};
  Outcome outcome = Frames(server, {video, 0, wire::kExactFrames, wire::kMilliseconds, positions});
  ASSERT_EQ(outcome.opened.result, 1u);
  EXPECT_EQ(outcome.opened.count, positions.size());
  EXPECT_EQ(outcome.opened.videoCodec, "h264");
  EXPECT_EQ(outcome.opened.width, 320u);
  ASSERT_EQ(outcome.frames.size(), positions.size());
  uint32_t last = 0;
  for (const Taken& taken : outcome.frames) {
    ASSERT_EQ(taken.reply.status, wire::kFrameFollows);
    EXPECT_GE(taken.reply.milliseconds, last) << "frames in time order";
    last = taken.reply.milliseconds;
    const uint32_t position = std::min<uint32_t>(positions[taken.reply.index], 4000);
    EXPECT_LE(taken.reply.milliseconds, position);
    EXPECT_EQ(taken.picture.bgr, Command7(server, video, position).bgr) << "at " << position << " ms";
  }
  Quit(server);
}

// Caught: a key frame mode that decodes to the position (a frame that is no
// key frame), reports the position instead of the frame's time, gives one
// picture twice where key frames are rarer than the positions, or nothing
// where a search overshoots the last key frame.
TEST(FramesRequest, KeyFramesComeWithTheirOwnTimes) {
  struct Case {
    const char* what;
    std::string video;
  };
  const Case cases[] = {
      {"an MP4 with an index", Video("frames-keys", "mp4", 6, 25)},
      {"a transport stream, read forward", Video("frames-keys", "ts", 6, 25)},
      {"key frames rarer than the interval", Video("frames-rare-keys", "mkv", 6, 100)},
      // A search lands past a transport stream's only key frame, and has no
      // index to tell that key frame went out already.
      {"a transport stream with one key frame", Video("frames-one-key", "ts", 6, 200)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint32_t> keys = KeyFrameTimes(c.video);
    ASSERT_FALSE(keys.empty());
    ServerProcess server;
    Outcome outcome = Frames(server, {c.video, 0, wire::kKeyFrames, wire::kIntervalMs, {1500}});
    ASSERT_EQ(outcome.opened.result, 1u);
    EXPECT_EQ(outcome.opened.count, 4u);
    ASSERT_EQ(outcome.frames.size(), 4u);
    for (const Taken& taken : outcome.frames) {
      ASSERT_EQ(taken.reply.status, wire::kFrameFollows);
      const uint32_t position = taken.reply.index * 1500, ms = taken.reply.milliseconds;
      EXPECT_LE(ms, position + 1);
      auto key = std::upper_bound(keys.begin(), keys.end(), position + 1);
      const uint32_t keyBefore = *std::prev(key);
      // The key frame at or before the position, or, where that one went
      // out already, the frame shown at the position.
      EXPECT_TRUE(ms + 1 >= keyBefore) << ms << " ms for " << position;
      EXPECT_GT(Psnr(taken.picture, ReferenceFrame(c.video, ms / 1000.0)), 30.0) << "the frame of its own time";
    }
    for (size_t i = 1; i < outcome.frames.size(); ++i)
      EXPECT_GT(outcome.frames[i].reply.milliseconds, outcome.frames[i - 1].reply.milliseconds) << "no repeats";
    Quit(server);
  }
}

// Caught: frames scaled after their conversion at full size, or to another
// size than the one asked, or enlarged.
TEST(FramesRequest, FramesComeWithinTheEdgeAsked) {
  const std::string video = Video("frames-exact", "mp4", 4, 25);
  ServerProcess server;
  for (uint32_t edge : {160u, 400u}) {
    Outcome outcome = Frames(server, {video, edge, wire::kExactFrames, wire::kMilliseconds, {1000}});
    ASSERT_EQ(outcome.frames.size(), 1u);
    const Picture& frame = outcome.frames[0].picture;
    EXPECT_EQ(frame.width, edge < 320 ? 160 : 320);
    EXPECT_EQ(frame.height, edge < 320 ? 120 : 240);
    EXPECT_GT(Psnr(frame, ReferenceFrame(video, 1.0, static_cast<int>(edge))), 30.0);
  }
  Quit(server);
}

// Caught: a damaged stretch that ends the request or hangs it, and a
// one-frame video with no frame to give.
TEST(FramesRequest, DamagedAndTinyVideosStillGiveWhatTheyHave) {
  const std::string whole = Video("frames-damaged-source", "ts", 6, 25);
  std::string bytes;
  ASSERT_EQ(RunCommand("cat " + ShellQuote(whole), &bytes), 0);
  // Two seconds' worth in the middle overwritten with noise-free junk.
  for (size_t i = bytes.size() * 2 / 6; i < bytes.size() * 4 / 6; ++i) bytes[i] = static_cast<char>(i * 131);
  const std::string damaged = BytesFixture("frames-damaged.ts", bytes);
  const std::string single =
      Fixture("frames-one.mp4", "-f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 1 -pix_fmt yuv420p -c:v libx264");
  ServerProcess server;
  Outcome outcome = Frames(server, {damaged, 0, wire::kKeyFrames, wire::kIntervalMs, {1000}});
  ASSERT_EQ(outcome.opened.result, 1u);
  ASSERT_FALSE(outcome.frames.empty());
  EXPECT_EQ(outcome.frames.front().reply.status, wire::kFrameFollows) << "the frames before the damage";
  EXPECT_EQ(outcome.frames.back().reply.status, wire::kFrameFollows) << "the frames after it";
  outcome = Frames(server, {single, 0, wire::kExactFrames, wire::kIntervalMs, {1000}});
  ASSERT_EQ(outcome.frames.size(), 1u);
  EXPECT_EQ(outcome.frames[0].reply.status, wire::kFrameFollows);
  Quit(server);
}

// Caught: a server killed or stuck by frames written to a parent that no
// longer reads them. (One whose parent closed the command pipe as well ends
// at the idle limit, as between commands.)
TEST(FramesRequest, AParentThatStopsReadingLeavesTheServerWorking) {
  const std::string video = Video("frames-keys", "mp4", 6, 25);
  ServerProcess server;
  wire::FramesReply opened;
  ASSERT_EQ(server.channel().Ask(wire::FramesRequest{video, 0, wire::kExactFrames, wire::kIntervalMs, {100}}, &opened,
                                 ServerProcess::In(kFrameTimeoutMs)),
            wire::ChannelResult::kOk);
  ASSERT_EQ(opened.count, 60u);
  server.CloseReplyPipe();
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(server.WriteByte(wire::kNextFrame));
    EXPECT_EQ(server.WaitEvent(kFrameTimeoutMs), 1u);
    ASSERT_TRUE(server.Write(wire::EncodeRequest(wire::GetLinesRequest{0, 240})));
    EXPECT_EQ(server.WaitEvent(kFrameTimeoutMs), 1u);
  }
  Quit(server);
}

}  // namespace
