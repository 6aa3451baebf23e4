// The server on Windows, driven over its real pipes and event by a parent
// started as the protocol prescribes: status, quit, ignored bytes, the idle
// end, thumbnails of AVI and MP4 files compared with the frames ffmpeg
// decodes, frames requests, a file that cannot be read, and the DirectX
// probe.
#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/messages.h"
#include "protocol/server_timing.h"
#include "server_child.h"

namespace {

constexpr DWORD kReplyMs = 20000;
constexpr uint32_t kWidth = 320;
constexpr uint32_t kHeight = 240;
constexpr size_t kRowBytes = kWidth * 3;

// A fixture video and the frame (at 50 fps) the server chooses in it.
struct Video {
  const char* file;
  int chosenFrame;
};
void PrintTo(const Video& video, std::ostream* out) { *out << video.file; }

// Bright from the start: the first position, 0.3 s.
constexpr Video kBrightAvi{"bright.avi", 15};

std::vector<uint8_t> ReferenceFrame(const std::string& video, int frame) {
  return ReadWholeFile(FixturePath(video + ".frame" + std::to_string(frame) + ".bgr"));
}

using wire::ChannelResult;

void ExpectStatus(ServerChild& server) {
  wire::StatusReply status{0};
  ASSERT_EQ(server.channel().Ask(wire::StatusRequest{}, &status, ServerChild::In(kReplyMs)), ChannelResult::kOk);
  EXPECT_EQ(status.status, 1u);
}

// Sends command 2 (or 7, with a position) and reads the four-value reply, or
// the single 0, and its event.
std::vector<uint32_t> RequestThumbnail(ServerChild& server, const wire::ThumbnailRequest& request) {
  wire::ThumbnailReply reply;
  if (server.channel().Ask(request, &reply, ServerChild::In(kReplyMs)) != ChannelResult::kOk) return {};
  if (reply.result != 1) return {reply.result};
  return {reply.result, reply.width, reply.height, reply.bits};
}

std::vector<uint32_t> RequestThumbnail(ServerChild& server, const std::string& path, int32_t width, int32_t height) {
  return RequestThumbnail(server, wire::ThumbnailRequest{path, width, height, std::nullopt});
}

std::vector<uint8_t> GetLines(ServerChild& server, uint32_t first, uint32_t count, size_t rowBytes) {
  std::vector<uint8_t> rows(count * rowBytes);
  if (server.channel().GetLines(first, count, rowBytes, rows.data(), ServerChild::In(kReplyMs)) != ChannelResult::kOk)
    rows.clear();
  return rows;
}

void End(ServerChild& server) {
  ASSERT_EQ(server.channel().Send(wire::EndThumbnailRequest{}, ServerChild::In(kReplyMs)), ChannelResult::kOk);
}

// The picture is the chosen one: close to ffmpeg's frame there, and closer
// to it than to either neighbour, so a frame off by one fails.
void ExpectChosenFrame(const Video& video, const std::vector<uint8_t>& picture) {
  const std::vector<uint8_t> chosen = ReferenceFrame(video.file, video.chosenFrame);
  ASSERT_EQ(chosen.size(), kRowBytes * kHeight) << "missing reference frame of " << video.file;
  const double psnr = Psnr(picture, chosen);
  EXPECT_GT(psnr, 28.0) << video.file;
  EXPECT_GT(psnr, Psnr(picture, ReferenceFrame(video.file, video.chosenFrame - 1))) << video.file;
  EXPECT_GT(psnr, Psnr(picture, ReferenceFrame(video.file, video.chosenFrame + 1))) << video.file;
}

TEST(ServerCommands, StatusIsOneWithTheEvent) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  ExpectStatus(server);
  ExpectStatus(server);
}

TEST(ServerCommands, UnknownBytesAreTakenWithoutReply) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  ASSERT_EQ(server.channel().SendBytes({0, 15, 200, 255}, ServerChild::In(kReplyMs)), ChannelResult::kOk);
  // Status after the unknown bytes: its 1 is the only thing on the pipe.
  ExpectStatus(server);
  EXPECT_EQ(server.Waiting(), 0u);
}

TEST(ServerCommands, QuitEndsTheProcessWithCodeZeroAndNoReply) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  ExpectStatus(server);
  ASSERT_EQ(server.channel().Send(wire::QuitRequest{}, ServerChild::In(kReplyMs)), ChannelResult::kOk);
  EXPECT_EQ(server.WaitExit(kReplyMs), 0);
  uint64_t settings = 0;
  EXPECT_EQ(server.TakeEvent(ServerChild::In(0), false, &settings), ChannelResult::kTimedOut);
}

TEST(ServerCommands, IdleServerEndsItselfAfterTenSeconds) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  ExpectStatus(server);
  const DWORD start = GetTickCount();
  EXPECT_EQ(server.WaitExit(3 * wire::kIdleLimitMs), 0);
  // Counted from the status command; the watchdog looks once a second.
  EXPECT_GE(GetTickCount() - start, wire::kIdleLimitMs - 1000);
}

class Thumbnails : public ::testing::TestWithParam<Video> {};

TEST_P(Thumbnails, NativeSizeFrameIsTheFrameAtThePosition) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  const Video video = GetParam();
  EXPECT_EQ(RequestThumbnail(server, FixturePath(video.file), 0, 0), (std::vector<uint32_t>{1, kWidth, kHeight, 24}));
  ExpectChosenFrame(video, GetLines(server, 0, kHeight, kRowBytes));
  // Rows are sent from any first row: the last two rows again.
  std::vector<uint8_t> tail = GetLines(server, kHeight - 2, 2, kRowBytes);
  std::vector<uint8_t> all = GetLines(server, 0, kHeight, kRowBytes);
  ASSERT_EQ(tail.size(), 2 * kRowBytes);
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), all.end() - 2 * kRowBytes));
  End(server);
  ExpectStatus(server);
}

TEST_P(Thumbnails, FixedSizeRepliesAtOnceAndSendsTheFrame) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  const Video video = GetParam();
  EXPECT_EQ(RequestThumbnail(server, FixturePath(video.file), kWidth, kHeight),
            (std::vector<uint32_t>{1, kWidth, kHeight, 24}));
  ExpectChosenFrame(video, GetLines(server, 0, kHeight, kRowBytes));
  // The frame had the promised size: the server stays.
  End(server);
  ExpectStatus(server);
}

// The MP4 has sound, which renders only partly without a sound device; the
// dark start makes the server seek again while the graph runs.
INSTANTIATE_TEST_SUITE_P(Files, Thumbnails,
                         ::testing::Values(kBrightAvi, Video{"bright.mp4", 15}, Video{"dark_start.avi", 75}),
                         [](const auto& info) {
                           std::string name = info.param.file;
                           for (char& c : name)
                             if (c == '.') c = '_';
                           return name;
                         });

TEST(ThumbnailRequests, NarrowerFixedSizeCutsRowsAndEndsTheServerAtTheEnd) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  constexpr uint32_t width = 100, height = 120;
  EXPECT_EQ(RequestThumbnail(server, FixturePath(kBrightAvi.file), width, height),
            (std::vector<uint32_t>{1, width, height, 24}));
  std::vector<uint8_t> rows = GetLines(server, 0, height, width * 3);
  ASSERT_EQ(rows.size(), width * 3 * height);
  const std::vector<uint8_t> frame = ReferenceFrame(kBrightAvi.file, kBrightAvi.chosenFrame);
  ASSERT_EQ(frame.size(), kRowBytes * kHeight);
  std::vector<uint8_t> expected;
  for (uint32_t r = 0; r < height; ++r)
    expected.insert(expected.end(), frame.begin() + r * kRowBytes, frame.begin() + r * kRowBytes + width * 3);
  EXPECT_GT(Psnr(rows, expected), 28.0);
  // The frame is not the promised size, so closing the request ends it.
  End(server);
  EXPECT_EQ(server.WaitExit(kReplyMs), 0);
}

TEST(ThumbnailRequests, UnreadableFileRepliesZeroAndTheServerGoesOn) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  EXPECT_EQ(RequestThumbnail(server, FixturePath("junk.bin"), 0, 0), std::vector<uint32_t>{0});
  EXPECT_EQ(RequestThumbnail(server, FixturePath("no such file.avi"), 0, 0), std::vector<uint32_t>{0});
  ExpectStatus(server);
}

TEST(ThumbnailRequests, FixedSizeOfUnreadableFileSendsBlackRows) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  EXPECT_EQ(RequestThumbnail(server, FixturePath("junk.bin"), 8, 4), (std::vector<uint32_t>{1, 8, 4, 24}));
  EXPECT_EQ(GetLines(server, 0, 4, 8 * 3), std::vector<uint8_t>(8 * 3 * 4, 0));
}

// Commands 7 to 9 over the system's DirectShow: a walk placed where the
// fixed one starts chooses its frame and reports that time, and a missing
// file's reason is the file's, with an empty codec name.
TEST(ThumbnailRequests, APlacedRequestAndTheReasonOfAFailure) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  EXPECT_EQ(RequestThumbnail(server, wire::ThumbnailRequest{FixturePath(kBrightAvi.file), 0, 0,
                                                            wire::ThumbnailRequest::Position{wire::kMilliseconds, 300}}),
            (std::vector<uint32_t>{1, kWidth, kHeight, 24}));
  ExpectChosenFrame(kBrightAvi, GetLines(server, 0, kHeight, kRowBytes));
  End(server);
  // The walk stopped at the position asked for.
  wire::FrameOriginReply origin;
  ASSERT_EQ(server.channel().Ask(wire::FrameOriginRequest{}, &origin, ServerChild::In(kReplyMs)), ChannelResult::kOk);
  EXPECT_EQ(origin, (wire::FrameOriginReply{wire::kVideoFrame, 300}));

  EXPECT_EQ(RequestThumbnail(server, FixturePath("no such file.avi"), 0, 0), std::vector<uint32_t>{0});
  wire::FailureReply failure;
  ASSERT_EQ(server.channel().Ask(wire::FailureRequest{}, &failure, ServerChild::In(kReplyMs)), ChannelResult::kOk);
  EXPECT_EQ(failure, (wire::FailureReply{wire::kUnreadable, ""}));
  ExpectStatus(server);
}

// The frames requests' video: 320 x 240 at 50 fps, 3 s, a key frame every
// second.
constexpr const char* kFramesVideo = "frames.avi";
constexpr uint32_t kFrameMs = 20;
constexpr int kLastFrame = 149;

// Every frame of the frames requests' video as ffmpeg scales it to one size.
class ScaledFrames {
 public:
  ScaledFrames(uint32_t width, uint32_t height)
      : bytes_(ReadWholeFile(FixturePath(std::string(kFramesVideo) + "." + std::to_string(width) + "x" +
                                         std::to_string(height) + ".bgr"))),
        frameBytes_(size_t{width} * height * 3) {}
  bool complete() const { return bytes_.size() == frameBytes_ * (kLastFrame + 1); }
  // Frame n, empty outside the video.
  std::vector<uint8_t> Frame(int n) const {
    if (n < 0 || n > kLastFrame || !complete()) return {};
    return {bytes_.begin() + static_cast<ptrdiff_t>(n * frameBytes_),
            bytes_.begin() + static_cast<ptrdiff_t>((n + 1) * frameBytes_)};
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t frameBytes_;
};

// A frames request and what it gives, in the order it comes: for each
// frame, the index of the position it answers and the frames (at 50 fps,
// first to last) that may answer it.
struct FramesCase {
  const char* what;
  uint32_t edge;
  uint32_t mode;
  uint32_t kind;
  std::vector<uint32_t> positions;
  uint32_t width, height;  // of every frame
  struct Answer {
    uint32_t index;
    int first, last;
  };
  std::vector<Answer> answers;
};

// Caught: frames out of time order or with the wrong index, a repeat that
// loses its place, a position past the end that gives no frame or the one
// before, frames larger than the edge or out of aspect, rows that are not
// the frame (a scaling that picks instead of averaging, or shifts), a time
// that is the position asked rather than the frame's own (a renderer that
// forgets the segment's start), and a walk that gives another frame than
// command 7's. Under Wine the pictures pass the stand-in colour converter,
// which cannot scale: the grabber scales them on the bitmap.
TEST(FramesRequests, FramesComeInTimeOrderAtTheEdgeWithTheirOwnTimes) {
  const FramesCase cases[] = {
      {"positions out of order, one repeated, one past the end",
       160,
       wire::kExactFrames,
       wire::kMilliseconds,
       {2000, 300, 1000, 300, 9000},
       160,
       120,
       {{1, 15, 15}, {3, 15, 15}, {2, 50, 50}, {0, 100, 100}, {4, kLastFrame, kLastFrame}}},
      {"an interval", 80, wire::kExactFrames, wire::kIntervalMs, {1000}, 80, 60, {{0, 0, 0}, {1, 50, 50}, {2, 100, 100}}},
      // A splitter may honour the key-frame seek or ignore it and send the
      // frame at the position. Wine's honours it in a running graph, but
      // seeks exactly when the graph starts, for the first position. Either
      // way each frame comes with its own time, in order: a key frame's is
      // before the position, and its sample's time is negative.
      {"key frames",
       160,
       wire::kKeyFrames,
       wire::kMilliseconds,
       {2600, 1500, 500},
       160,
       120,
       {{2, 0, 25}, {1, 50, 75}, {0, 100, 130}}},
      {"a walk", 160, wire::kFirstBrightFrame, wire::kMilliseconds, {}, 160, 120, {{0, 15, 15}}},
  };
  ServerChild server;
  ASSERT_TRUE(server.started());
  for (const FramesCase& c : cases) {
    SCOPED_TRACE(c.what);
    const ScaledFrames reference(c.width, c.height);
    ASSERT_TRUE(reference.complete()) << "missing reference frames";
    wire::FramesReply opened;
    ASSERT_EQ(server.channel().Ask(wire::FramesRequest{FixturePath(kFramesVideo), c.edge, c.mode, c.kind, c.positions},
                                   &opened, ServerChild::In(kReplyMs)),
              ChannelResult::kOk);
    // The system's graph does not name its codecs.
    EXPECT_EQ(opened, (wire::FramesReply{1, static_cast<uint32_t>(c.answers.size()), 3000, kWidth, kHeight, "", ""}));
    uint32_t lastMs = 0;
    for (const FramesCase::Answer& answer : c.answers) {
      wire::NextFrameReply frame;
      ASSERT_EQ(server.channel().Ask(wire::NextFrameRequest{}, &frame, ServerChild::In(kReplyMs)), ChannelResult::kOk);
      EXPECT_EQ(frame.status, wire::kFrameFollows);
      EXPECT_EQ(frame.index, answer.index);
      EXPECT_EQ(frame.origin, wire::kVideoFrame);
      EXPECT_EQ(frame.width, c.width);
      EXPECT_EQ(frame.height, c.height);
      EXPECT_GE(frame.milliseconds, lastMs) << "frames in time order";
      EXPECT_GE(frame.milliseconds, answer.first * kFrameMs);
      EXPECT_LE(frame.milliseconds, answer.last * kFrameMs);
      lastMs = frame.milliseconds;
      if (frame.width != c.width || frame.height != c.height) continue;
      // The picture is the frame of the time it came with: closer to it
      // than to either neighbour.
      const std::vector<uint8_t> rows = GetLines(server, 0, c.height, size_t{c.width} * 3);
      const int shown = static_cast<int>((frame.milliseconds + kFrameMs / 2) / kFrameMs);
      const double psnr = Psnr(rows, reference.Frame(shown));
      EXPECT_GT(psnr, 28.0) << "frame " << shown;
      for (int neighbour : {shown - 1, shown + 1}) {
        if (neighbour < 0 || neighbour > kLastFrame) continue;
        EXPECT_GT(psnr, Psnr(rows, reference.Frame(neighbour))) << "frame " << shown << ", not " << neighbour;
      }
    }
    wire::NextFrameReply done;
    ASSERT_EQ(server.channel().Ask(wire::NextFrameRequest{}, &done, ServerChild::In(kReplyMs)), ChannelResult::kOk);
    EXPECT_EQ(done, wire::NextFrameReply{}) << "the request is done";
    End(server);
  }
  ExpectStatus(server);
}

// Caught: an interval of 0 taken (a request of endless frames) or refused
// without its reason.
TEST(FramesRequests, AnIntervalOfZeroIsRefusedWithItsReason) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  wire::FramesReply opened;
  ASSERT_EQ(server.channel().Ask(wire::FramesRequest{FixturePath(kFramesVideo), 0, wire::kExactFrames,
                                                     wire::kIntervalMs, {0}},
                                 &opened, ServerChild::In(kReplyMs)),
            ChannelResult::kOk);
  EXPECT_EQ(opened, wire::FramesReply{});
  wire::FailureReply failure;
  ASSERT_EQ(server.channel().Ask(wire::FailureRequest{}, &failure, ServerChild::In(kReplyMs)), ChannelResult::kOk);
  EXPECT_EQ(failure, (wire::FailureReply{wire::kBadRequest, ""}));
  ExpectStatus(server);
}

TEST(DirectXProbe, ReportsTheLevelAndTheFilterGraph) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  wire::DirectXLevelReply level;
  ASSERT_EQ(server.channel().Ask(wire::DirectXLevelRequest{}, &level, ServerChild::In(kReplyMs)), ChannelResult::kOk);
  // The filter graph manager renders the files above, so it is there, and
  // with it every component up to DirectX 6.1.
  EXPECT_EQ(level.filterGraph, 1u);
  EXPECT_EQ(level.level, 0x0800u);
  ExpectStatus(server);
}

}  // namespace
