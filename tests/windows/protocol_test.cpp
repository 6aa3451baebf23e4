// The server on Windows, driven over its real pipes and event by a parent
// started as the protocol prescribes: status, quit, ignored bytes, the idle
// end, thumbnails of AVI and MP4 files compared with the frames ffmpeg
// decodes, a file that cannot be read, and the DirectX probe.
#include <gtest/gtest.h>

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
  ASSERT_EQ(server.channel().SendBytes({0, 10, 200, 255}, ServerChild::In(kReplyMs)), ChannelResult::kOk);
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
