// Every message against the bytes the README's protocol table and worked
// example give for it. The server, the client, the bench and the test doubles
// all build their bytes from these types, so a slip here would keep them
// agreeing with one another while every parent built elsewhere broke.
#include "protocol/messages.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A message to read into: command 7 reads two values more than command 2.
template <typename Message>
Message Blank(const Message&) {
  return Message{};
}
wire::ThumbnailRequest Blank(const wire::ThumbnailRequest& request) {
  return wire::ThumbnailRequest::Of(request.command());
}

struct Pinned {
  const char* name;
  Bytes bytes;
  std::function<Bytes()> encode;
  // Reads `bytes` back; true when it took all of them and nothing more, and
  // gave the message that was encoded.
  std::function<bool(const Bytes&)> readsBack;
};

template <typename Request>
Pinned PinRequest(const char* name, const Request& request, Bytes bytes) {
  return {name, std::move(bytes), [request] { return wire::EncodeRequest(request); },
          [request](const Bytes& wire) {
            if (wire.empty() || wire[0] != request.command()) return false;
            Request back = Blank(request);
            wire::ByteSource source(wire.data() + 1, wire.size() - 1);
            return back.Read(source) && source.left() == 0 && back == request;
          }};
}

template <typename Reply>
Pinned PinReply(const char* name, const Reply& reply, Bytes bytes) {
  return {name, std::move(bytes), [reply] { return wire::EncodeReply(reply); },
          [reply](const Bytes& wire) {
            Reply back;
            wire::ByteSource source(wire.data(), wire.size());
            return back.Read(source) && source.left() == 0 && back == reply;
          }};
}

const Bytes kZero = {0, 0, 0, 0};

const Pinned kMessages[] = {
    PinRequest("quit", wire::QuitRequest{}, {0x01}),
    // The worked example: /tmp/a.mp4 at its own size.
    PinRequest("thumbnail file, native size", wire::ThumbnailRequest{"/tmp/a.mp4", 0, 0, std::nullopt},
               Join({{0x02}, Text("/tmp/a.mp4"), {0x00}, kZero, kZero})),
    PinReply("thumbnail reply, 320 x 240", wire::ThumbnailReply::Frame(320, 240),
             {0x01, 0, 0, 0, 0x40, 0x01, 0, 0, 0xF0, 0, 0, 0, 0x18, 0, 0, 0}),
    PinReply("thumbnail reply, no frame: 0 alone", wire::ThumbnailReply{}, kZero),
    PinRequest("get lines 0 to 239", wire::GetLinesRequest{0, 240}, Join({{0x03}, kZero, {0xF0, 0, 0, 0}})),
    PinRequest("end thumbnail", wire::EndThumbnailRequest{}, {0x04}),
    PinRequest("get status", wire::StatusRequest{}, {0x05}),
    PinReply("status", wire::StatusReply{}, {0x01, 0, 0, 0}),
    PinRequest("DirectX level", wire::DirectXLevelRequest{}, {0x06}),
    PinReply("DirectX 8 with a filter graph", wire::DirectXLevelReply{0x0800, 1}, {0x00, 0x08, 0, 0, 0x01, 0, 0, 0}),
    // A negative height travels as its two's complement; the cover flag sits
    // above the kind's low byte.
    PinRequest("thumbnail file at, a share of the duration, the cover first",
               wire::ThumbnailRequest{"/v", 160, -1,
                                      wire::ThumbnailRequest::Position{wire::kMillionthsOfDuration | wire::kPreferCover,
                                                                       500000}},
               Join({{0x07}, Text("/v"), {0x00}, {0xA0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}, {0x01, 0x01, 0, 0},
                     {0x20, 0xA1, 0x07, 0x00}})),
    PinRequest("last failure", wire::FailureRequest{}, {0x08}),
    PinReply("failure: no decoder for hevc", wire::FailureReply{wire::kCodecUnavailable, "hevc"},
             Join({{0x04, 0, 0, 0}, Text("hevc"), {0x00}})),
    PinReply("failure: none, an empty name", wire::FailureReply{}, Join({kZero, {0x00}})),
    PinRequest("frame origin", wire::FrameOriginRequest{}, {0x09}),
    PinReply("origin: a video frame at 300 ms", wire::FrameOriginReply{wire::kVideoFrame, 300},
             {0x01, 0, 0, 0, 0x2C, 0x01, 0, 0}),
    PinReply("origin: a video frame at any later time", wire::FrameOriginReply{wire::kVideoFrame, 0xFFFFFFFFu},
             {0x01, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}),
};

// Faults caught: a field in the wrong order, width, byte order or sign; a
// string without its NUL; command 7's position missing or sent for command
// 2; a reply that reads too few or too many bytes, or a different message
// from the one written.
TEST(Messages, EachIsTheBytesOfTheProtocolTableAndReadsBack) {
  for (const Pinned& pinned : kMessages) {
    SCOPED_TRACE(pinned.name);
    EXPECT_EQ(pinned.encode(), pinned.bytes);
    EXPECT_TRUE(pinned.readsBack(pinned.bytes));
  }
}

// Fault caught: a message read from a source that ended in its last field,
// taken as whole (the parent would then wait for the event with the sides
// out of step).
TEST(Messages, NoneReadsBackFromItsBytesCutShort) {
  for (const Pinned& pinned : kMessages) {
    if (pinned.bytes.size() < 2) continue;  // a command byte alone has nothing to cut
    SCOPED_TRACE(pinned.name);
    EXPECT_FALSE(pinned.readsBack(Bytes(pinned.bytes.begin(), pinned.bytes.end() - 1)));
  }
}

// Faults caught: a path of the full string length taken as whole (the
// server would open a cut name), and a codec name that never ends taken as a
// reply (the parent would read the next reply as its tail).
TEST(Messages, StringsThatReachTheLimitAreCutShort) {
  const Bytes longName(wire::kMaxStringBytes, 'a');
  wire::ThumbnailRequest request = wire::ThumbnailRequest::Of(wire::kThumbnailFile);
  const Bytes arguments = Join({longName, {0x10, 0, 0, 0}, {0x20, 0, 0, 0}});
  wire::ByteSource source(arguments.data(), arguments.size());
  ASSERT_TRUE(request.Read(source));
  EXPECT_EQ(request.path.size(), wire::kMaxStringBytes);
  EXPECT_EQ(request.width, 0x10);  // the bytes after the cut are the next fields
  EXPECT_EQ(request.height, 0x20);

  wire::FailureReply reply;
  const Bytes endless = Join({{0x04, 0, 0, 0}, longName, {0x00}});
  wire::ByteSource replySource(endless.data(), endless.size());
  EXPECT_FALSE(reply.Read(replySource));
}

}  // namespace
