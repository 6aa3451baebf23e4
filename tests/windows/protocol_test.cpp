// The server on Windows, driven over its real pipes and event by a parent
// started as the protocol prescribes: status, quit, ignored bytes, the idle
// end, thumbnails of AVI and MP4 files compared with the frames ffmpeg
// decodes, a file that cannot be read, and the DirectX probe.
#include <gtest/gtest.h>

#include "protocol/wire.h"
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

void ExpectStatus(ServerChild& server) {
  ASSERT_TRUE(server.SendByte(wire::kGetStatus));
  uint32_t status = 0;
  ASSERT_TRUE(server.ReadDword(&status, kReplyMs));
  EXPECT_EQ(status, 1u);
  EXPECT_TRUE(server.WaitReply(kReplyMs));
}

// Sends command 2 and reads the four-value reply, or the single 0.
std::vector<uint32_t> RequestThumbnail(ServerChild& server, const std::string& path, int32_t width, int32_t height) {
  std::vector<uint32_t> reply;
  if (!server.SendByte(wire::kThumbnailFile) || !server.SendString(path) || !server.SendDword(static_cast<uint32_t>(width)) ||
      !server.SendDword(static_cast<uint32_t>(height)))
    return reply;
  uint32_t value = 0;
  if (!server.ReadDword(&value, kReplyMs)) return reply;
  reply.push_back(value);
  for (int i = 0; reply[0] == 1 && i < 3; ++i) {
    if (!server.ReadDword(&value, kReplyMs)) return reply;
    reply.push_back(value);
  }
  return reply;
}

std::vector<uint8_t> GetLines(ServerChild& server, uint32_t first, uint32_t count, size_t rowBytes) {
  std::vector<uint8_t> rows(count * rowBytes);
  if (!server.SendByte(wire::kGetLines) || !server.SendDword(first) || !server.SendDword(count) ||
      !server.Read(rows.data(), rows.size(), kReplyMs) || !server.WaitReply(kReplyMs))
    rows.clear();
  return rows;
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
  for (uint8_t byte : {0, 10, 200, 255}) ASSERT_TRUE(server.SendByte(byte));
  // Status after the unknown bytes: its 1 is the only thing on the pipe.
  ExpectStatus(server);
  EXPECT_EQ(server.Waiting(), 0u);
}

TEST(ServerCommands, QuitEndsTheProcessWithCodeZeroAndNoReply) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  ExpectStatus(server);
  ASSERT_TRUE(server.SendByte(wire::kQuit));
  EXPECT_EQ(server.WaitExit(kReplyMs), 0);
  EXPECT_FALSE(server.WaitReply(0));
}

TEST(ServerCommands, IdleServerEndsItselfAfterTenSeconds) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  ExpectStatus(server);
  const DWORD start = GetTickCount();
  EXPECT_EQ(server.WaitExit(30000), 0);
  // Counted from the status command; the limit is 10 s, the watchdog's pace 1 s.
  EXPECT_GE(GetTickCount() - start, 9000u);
}

class Thumbnails : public ::testing::TestWithParam<Video> {};

TEST_P(Thumbnails, NativeSizeFrameIsTheFrameAtThePosition) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  const Video video = GetParam();
  EXPECT_EQ(RequestThumbnail(server, FixturePath(video.file), 0, 0), (std::vector<uint32_t>{1, kWidth, kHeight, 24}));
  ASSERT_TRUE(server.WaitReply(kReplyMs));
  ExpectChosenFrame(video, GetLines(server, 0, kHeight, kRowBytes));
  // Rows are sent from any first row: the last two rows again.
  std::vector<uint8_t> tail = GetLines(server, kHeight - 2, 2, kRowBytes);
  std::vector<uint8_t> all = GetLines(server, 0, kHeight, kRowBytes);
  ASSERT_EQ(tail.size(), 2 * kRowBytes);
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), all.end() - 2 * kRowBytes));
  ASSERT_TRUE(server.SendByte(wire::kEndThumbnail));
  ExpectStatus(server);
}

TEST_P(Thumbnails, FixedSizeRepliesAtOnceAndSendsTheFrame) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  const Video video = GetParam();
  EXPECT_EQ(RequestThumbnail(server, FixturePath(video.file), kWidth, kHeight),
            (std::vector<uint32_t>{1, kWidth, kHeight, 24}));
  ASSERT_TRUE(server.WaitReply(kReplyMs));
  ExpectChosenFrame(video, GetLines(server, 0, kHeight, kRowBytes));
  // The frame had the promised size: the server stays.
  ASSERT_TRUE(server.SendByte(wire::kEndThumbnail));
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
  ASSERT_TRUE(server.WaitReply(kReplyMs));
  std::vector<uint8_t> rows = GetLines(server, 0, height, width * 3);
  ASSERT_EQ(rows.size(), width * 3 * height);
  const std::vector<uint8_t> frame = ReferenceFrame(kBrightAvi.file, kBrightAvi.chosenFrame);
  ASSERT_EQ(frame.size(), kRowBytes * kHeight);
  std::vector<uint8_t> expected;
  for (uint32_t r = 0; r < height; ++r)
    expected.insert(expected.end(), frame.begin() + r * kRowBytes, frame.begin() + r * kRowBytes + width * 3);
  EXPECT_GT(Psnr(rows, expected), 28.0);
  // The frame is not the promised size, so closing the request ends it.
  ASSERT_TRUE(server.SendByte(wire::kEndThumbnail));
  EXPECT_EQ(server.WaitExit(kReplyMs), 0);
}

TEST(ThumbnailRequests, UnreadableFileRepliesZeroAndTheServerGoesOn) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  EXPECT_EQ(RequestThumbnail(server, FixturePath("junk.bin"), 0, 0), std::vector<uint32_t>{0});
  EXPECT_TRUE(server.WaitReply(kReplyMs));
  EXPECT_EQ(RequestThumbnail(server, FixturePath("no such file.avi"), 0, 0), std::vector<uint32_t>{0});
  EXPECT_TRUE(server.WaitReply(kReplyMs));
  ExpectStatus(server);
}

TEST(ThumbnailRequests, FixedSizeOfUnreadableFileSendsBlackRows) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  EXPECT_EQ(RequestThumbnail(server, FixturePath("junk.bin"), 8, 4), (std::vector<uint32_t>{1, 8, 4, 24}));
  ASSERT_TRUE(server.WaitReply(kReplyMs));
  EXPECT_EQ(GetLines(server, 0, 4, 8 * 3), std::vector<uint8_t>(8 * 3 * 4, 0));
}

// Commands 7 to 9 over the system's DirectShow: a walk placed where the
// fixed one starts chooses its frame and reports that time, and a missing
// file's reason is the file's, with an empty codec name.
TEST(ThumbnailRequests, APlacedRequestAndTheReasonOfAFailure) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  ASSERT_TRUE(server.SendByte(wire::kThumbnailFileAt) && server.SendString(FixturePath(kBrightAvi.file)) &&
              server.SendDword(0) && server.SendDword(0) && server.SendDword(wire::kMilliseconds) &&
              server.SendDword(300));
  std::vector<uint32_t> reply(4);
  for (uint32_t& value : reply) ASSERT_TRUE(server.ReadDword(&value, kReplyMs));
  EXPECT_EQ(reply, (std::vector<uint32_t>{1, kWidth, kHeight, 24}));
  ASSERT_TRUE(server.WaitReply(kReplyMs));
  ExpectChosenFrame(kBrightAvi, GetLines(server, 0, kHeight, kRowBytes));
  ASSERT_TRUE(server.SendByte(wire::kEndThumbnail));
  // The walk stopped at the position asked for.
  ASSERT_TRUE(server.SendByte(wire::kGetFrameOrigin));
  std::vector<uint32_t> origin(2);
  for (uint32_t& value : origin) ASSERT_TRUE(server.ReadDword(&value, kReplyMs));
  EXPECT_EQ(origin, (std::vector<uint32_t>{wire::kVideoFrame, 300}));
  ASSERT_TRUE(server.WaitReply(kReplyMs));

  EXPECT_EQ(RequestThumbnail(server, FixturePath("no such file.avi"), 0, 0), std::vector<uint32_t>{0});
  ASSERT_TRUE(server.WaitReply(kReplyMs));
  ASSERT_TRUE(server.SendByte(wire::kGetFailure));
  uint32_t reason = 0;
  uint8_t codecEnd = 1;
  ASSERT_TRUE(server.ReadDword(&reason, kReplyMs));
  ASSERT_TRUE(server.Read(&codecEnd, 1, kReplyMs));
  EXPECT_EQ(reason, wire::kUnreadable);
  EXPECT_EQ(codecEnd, 0);
  EXPECT_TRUE(server.WaitReply(kReplyMs));
  ExpectStatus(server);
}

TEST(DirectXProbe, ReportsTheLevelAndTheFilterGraph) {
  ServerChild server;
  ASSERT_TRUE(server.started());
  ASSERT_TRUE(server.SendByte(wire::kGetDirectXLevel));
  uint32_t level = 0, graph = 0;
  ASSERT_TRUE(server.ReadDword(&level, kReplyMs));
  ASSERT_TRUE(server.ReadDword(&graph, kReplyMs));
  EXPECT_TRUE(server.WaitReply(kReplyMs));
  // The filter graph manager renders the files above, so it is there, and
  // with it every component up to DirectX 6.1.
  EXPECT_EQ(graph, 1u);
  EXPECT_EQ(level, 0x0800u);
  ExpectStatus(server);
}

}  // namespace
