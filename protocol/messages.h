// Every message of the protocol, written once: each command's request (its
// command byte and arguments) and its reply, read and written field by field
// over a FieldSource or FieldSink, so that the server, the parents and their
// test doubles all build the same bytes. A request names its reply type.
//
// A new command is its byte, its request type (and its reply type when it
// answers with values) and its entry in Commands here, its handler in the
// server, and the parent's call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/fields.h"
#include "protocol/wire.h"

namespace wire {

// The command bytes. The server takes any other byte and ignores it.
enum Command : uint8_t {
  kQuit = 1,
  kThumbnailFile = 2,
  kGetLines = 3,
  kEndThumbnail = 4,
  kGetStatus = 5,
  kGetDirectXLevel = 6,
  // Added later; a parent that never sends them sees the server as before.
  kThumbnailFileAt = 7,
  kGetFailure = 8,
  kGetFrameOrigin = 9,
  kFramesAtSize = 10,
  kNextFrame = 11,
  // Files handed over instead of named (see HandFileRequest); a parent that
  // never sends these sees the server as before, path commands included.
  kHandFile = 12,
  kLock = 13,
  kGetReadTally = 14,
};

// Commands 1 and 4: the server answers nothing and sets no event.
struct NoReply {
  void Write(FieldSink&) const {}
  bool Read(FieldSource&) { return true; }
  bool operator==(const NoReply&) const = default;
};

// Commands 2 and 7: 1 and the frame's size in pixels and bits, or, to a
// native-size request, 0 alone when the file has no frame to give.
struct ThumbnailReply {
  uint32_t result = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bits = 0;

  static ThumbnailReply Frame(uint32_t width, uint32_t height, uint32_t bits = 24) {
    return {1, width, height, bits};
  }
  void Write(FieldSink& out) const;
  // The size follows only a result of 1; any other result is read alone.
  bool Read(FieldSource& in);
  bool operator==(const ThumbnailReply&) const = default;
};

// Command 5: always 1.
struct StatusReply {
  uint32_t status = 1;
  void Write(FieldSink& out) const { out.Number(status); }
  bool Read(FieldSource& in) { return in.Number(&status); }
  bool operator==(const StatusReply&) const = default;
};

// Command 6: the DirectX level code, then 1 when a filter graph can be made.
struct DirectXLevelReply {
  uint32_t level = 0;
  uint32_t filterGraph = 0;
  void Write(FieldSink& out) const;
  bool Read(FieldSource& in);
  bool operator==(const DirectXLevelReply&) const = default;
};

// Command 8: why the last thumbnail request failed (a Reason), and the codec
// it names for kCodecUnavailable, empty otherwise.
struct FailureReply {
  uint32_t reason = kNoFailure;
  std::string codec;
  void Write(FieldSink& out) const;
  // False for a codec name that does not end within a string's limit.
  bool Read(FieldSource& in);
  bool operator==(const FailureReply&) const = default;
};

// Command 9: where the frame came from (a FrameOrigin) and its time in ms.
struct FrameOriginReply {
  uint32_t origin = kNoFrame;
  uint32_t milliseconds = 0;
  void Write(FieldSink& out) const;
  bool Read(FieldSource& in);
  bool operator==(const FrameOriginReply&) const = default;
};

// Command 10: what the server found when it opened the file, or 0 alone
// when it gives no frame of it (command 8 says why).
struct FramesReply {
  uint32_t result = 0;
  uint32_t count = 0;                         // the frames that command 11 will give
  uint32_t durationMs = kUnknownDuration;     // of the video
  uint32_t width = 0;                         // of its picture as shown, before any scaling
  uint32_t height = 0;
  std::string videoCodec;                     // the codecs' short names, empty for none
  std::string audioCodec;
  void Write(FieldSink& out) const;
  // The rest follows only a result of 1; false for a codec name that does
  // not end within a string's limit.
  bool Read(FieldSource& in);
  bool operator==(const FramesReply&) const = default;
};

// Command 11: the next frame of the open frames request, in time order.
struct NextFrameReply {
  uint32_t status = kNoMoreFrames;  // a NextFrameStatus
  uint32_t index = 0;               // of the position it answers, in the order the request gave them
  uint32_t origin = kNoFrame;       // a FrameOrigin
  uint32_t milliseconds = 0;        // the frame's own time, for kVideoFrame
  uint32_t width = 0;               // of the rows command 3 then sends, 24 bits a pixel
  uint32_t height = 0;
  void Write(FieldSink& out) const;
  bool Read(FieldSource& in);
  bool operator==(const NextFrameReply&) const = default;
};

// Command 12: how the hand-over went (a Reason: kNoFailure when the file is
// held).
struct HandFileReply {
  uint32_t reason = kNoFailure;
  void Write(FieldSink& out) const { out.Number(reason); }
  bool Read(FieldSource& in) { return in.Number(&reason); }
  bool operator==(const HandFileReply&) const = default;
};

// Command 13: 1 when the server is locked (it opens no file from now on),
// and the Landlock ABI of the domain it entered, 0 when the seccomp rule
// stands alone (a kernel without Landlock).
struct LockReply {
  uint32_t locked = 0;
  uint32_t landlockAbi = 0;
  void Write(FieldSink& out) const;
  bool Read(FieldSource& in);
  bool operator==(const LockReply&) const = default;
};

// Command 14: what the last request read of its file: bytes (as two
// halves), moves to anywhere but the next byte, and 1 when its budget ran
// out.
struct ReadTallyReply {
  uint32_t bytesLow = 0;
  uint32_t bytesHigh = 0;
  uint32_t seeks = 0;
  uint32_t budgetSpent = 0;
  uint64_t bytes() const { return uint64_t{bytesHigh} << 32 | bytesLow; }
  void Write(FieldSink& out) const;
  bool Read(FieldSource& in);
  bool operator==(const ReadTallyReply&) const = default;
};

// A command that takes no arguments.
template <uint8_t kByte, typename ReplyType>
struct BareRequest {
  using Reply = ReplyType;
  uint8_t command() const { return kByte; }
  void Write(FieldSink&) const {}
  bool Read(FieldSource&) { return true; }
  bool operator==(const BareRequest&) const = default;
};

using QuitRequest = BareRequest<kQuit, NoReply>;
using EndThumbnailRequest = BareRequest<kEndThumbnail, NoReply>;
using StatusRequest = BareRequest<kGetStatus, StatusReply>;
using DirectXLevelRequest = BareRequest<kGetDirectXLevel, DirectXLevelReply>;
using FailureRequest = BareRequest<kGetFailure, FailureReply>;
using FrameOriginRequest = BareRequest<kGetFrameOrigin, FrameOriginReply>;
using NextFrameRequest = BareRequest<kNextFrame, NextFrameReply>;
using LockRequest = BareRequest<kLock, LockReply>;
using ReadTallyRequest = BareRequest<kGetReadTally, ReadTallyReply>;

// Command 12: the parent hands the next request's file over. Before the
// command byte it sends one message on the hand-over socket (named on the
// server's command line as "-files N"): one byte of data and the file's
// descriptor as SCM_RIGHTS. The server takes that message without waiting,
// so it must be there first. The file is then the one that the next
// command 2, 7 or 10 with an empty path reads, through that descriptor
// alone, stopping once it has read `budget` bytes (0: no limit), and it is
// closed when that request ends or another file is handed over.
struct HandFileRequest {
  using Reply = HandFileReply;
  uint64_t budget = 0;
  uint8_t command() const { return kHandFile; }
  void Write(FieldSink& out) const;
  bool Read(FieldSource& in);
  bool operator==(const HandFileRequest&) const = default;
};

// Command 2, or command 7 when it carries a position: a kind (PositionKind
// in the low byte, kPreferCover as a flag) and a value.
struct ThumbnailRequest {
  using Reply = ThumbnailReply;
  struct Position {
    uint32_t kind = kMilliseconds;
    uint32_t value = 0;
    bool operator==(const Position&) const = default;
  };

  std::string path;
  int32_t width = 0;  // both > 0: a fixed size; otherwise the frame's own
  int32_t height = 0;
  std::optional<Position> position;

  // An empty request of command 2 or 7, to Read the arguments into.
  static ThumbnailRequest Of(uint8_t command);
  uint8_t command() const { return position ? kThumbnailFileAt : kThumbnailFile; }
  bool fixedSize() const { return width > 0 && height > 0; }
  void Write(FieldSink& out) const;
  // Reads every argument the command has; a path of kMaxStringBytes is one
  // that was cut short. False when the source ended first.
  bool Read(FieldSource& in);
  bool operator==(const ThumbnailRequest&) const = default;
};

// Command 3: the rows first .. first + count - 1, modulo 2^32. Its reply is
// the rows themselves, whose length the thumbnail reply gave.
struct GetLinesRequest {
  uint32_t first = 0;
  uint32_t count = 0;
  uint8_t command() const { return kGetLines; }
  void Write(FieldSink& out) const;
  bool Read(FieldSource& in);
  bool operator==(const GetLinesRequest&) const = default;
};

// Command 10: frames of one file at a size, from one pass over it. The
// positions are a list (kMilliseconds or kMillionthsOfDuration, in any
// order, repeats allowed) or, for kIntervalMs, one interval: a frame every
// that many milliseconds from the start to the end. kPreferCover and the
// mode's flags as FramesMode says.
struct FramesRequest {
  using Reply = FramesReply;
  std::string path;
  uint32_t longerEdge = 0;  // the frames' longer edge at most; 0 their own size
  uint32_t mode = kExactFrames;
  uint32_t kind = kMilliseconds;
  std::vector<uint32_t> positions;
  // The request listed more than kMaxFramePositions, which the server read
  // past without keeping.
  bool tooMany = false;

  uint8_t command() const { return kFramesAtSize; }
  void Write(FieldSink& out) const;
  // Reads every argument, keeping at most kMaxFramePositions positions.
  // False when the source ended first.
  bool Read(FieldSource& in);
  bool operator==(const FramesRequest&) const = default;
};

// A command byte and the request it carries, for code that walks every
// command: the server's dispatch table and the fuzzer's reply checks.
template <uint8_t kByte, typename RequestType>
struct CommandEntry {
  static constexpr uint8_t byte = kByte;
  using Request = RequestType;
  // An empty request of this command, to Read its arguments into.
  static Request Empty() {
    if constexpr (requires { Request::Of(kByte); })
      return Request::Of(kByte);
    else
      return Request{};
  }
};

// Every command the server acts on; it ignores any other byte.
template <typename... Entries>
struct CommandList {};
using Commands = CommandList<CommandEntry<kQuit, QuitRequest>, CommandEntry<kThumbnailFile, ThumbnailRequest>,
                             CommandEntry<kGetLines, GetLinesRequest>, CommandEntry<kEndThumbnail, EndThumbnailRequest>,
                             CommandEntry<kGetStatus, StatusRequest>, CommandEntry<kGetDirectXLevel, DirectXLevelRequest>,
                             CommandEntry<kThumbnailFileAt, ThumbnailRequest>, CommandEntry<kGetFailure, FailureRequest>,
                             CommandEntry<kGetFrameOrigin, FrameOriginRequest>,
                             CommandEntry<kFramesAtSize, FramesRequest>, CommandEntry<kNextFrame, NextFrameRequest>,
                             CommandEntry<kHandFile, HandFileRequest>, CommandEntry<kLock, LockRequest>,
                             CommandEntry<kGetReadTally, ReadTallyRequest>>;

// A request as it goes on the wire: its command byte, then its arguments.
template <typename Request>
std::vector<uint8_t> EncodeRequest(const Request& request) {
  ByteSink sink;
  sink.bytes.push_back(request.command());
  request.Write(sink);
  return std::move(sink.bytes);
}

// A reply as it goes on the wire.
template <typename Reply>
std::vector<uint8_t> EncodeReply(const Reply& reply) {
  ByteSink sink;
  reply.Write(sink);
  return std::move(sink.bytes);
}

}  // namespace wire
