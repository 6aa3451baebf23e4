// The wire protocol between a parent and thumbnail-server: the coding its
// messages (messages.h) are made of, and the values they carry. Commands are
// single bytes, every number is a 32-bit little-endian value and a string is
// its bytes and a NUL. There are no message boundaries: each side knows what
// the other sends next, so a byte too many or too few puts them out of step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace wire {

// How command 7 names its position, in the low byte of its kind value: a
// time from the start, or a share of the duration. The flag asks for the
// file's cover picture (an attached picture) when it has one.
enum PositionKind : uint32_t {
  kMilliseconds = 0,
  kMillionthsOfDuration = 1,
  kIntervalMs = 2,  // command 10 only: a frame every that many ms
  kKindMask = 0xFF,
  kPreferCover = 0x100,
};

// Command 10's mode: the frame shown at each position, or the key frame at
// or before it (only key frames are decoded). kFirstBrightFrame makes the
// positions a walk: the first frame that is not too dark is the one frame
// given, the last however dark; with no positions it is command 2's walk,
// with one command 7's from there.
enum FramesMode : uint32_t {
  kExactFrames = 0,
  kKeyFrames = 1,
  kFirstBrightFrame = 2,
};

// What command 11 gives: a frame, no frame at this position (nothing there
// decoded; the next ones may), or the end of the request.
enum NextFrameStatus : uint32_t {
  kNoMoreFrames = 0,
  kFrameFollows = 1,
  kFrameMissing = 2,
};

// The most frames one command 10 gives, and the longest edge it scales to.
constexpr uint32_t kMaxFramePositions = 100000;
constexpr uint32_t kMaxLongerEdge = 16384;
// A duration command 10 cannot tell.
constexpr uint32_t kUnknownDuration = 0xFFFFFFFF;

// The largest share of the duration: the end.
constexpr uint32_t kWholeDuration = 1000000;

// Why the last thumbnail request failed, as command 8 answers it. The server
// never sends kCutOffByWatchdog: a parent infers it when the server ended in
// the middle of a request, ten seconds or more after its command.
enum Reason : uint32_t {
  kNoFailure = 0,         // the last request gave a frame, or none was made
  kUnreadable = 1,        // no such file, not a regular file, or not readable
  kNotMedia = 2,          // no format the server knows takes the file
  kNoVideoStream = 3,     // a media file without a video stream (audio only)
  kCodecUnavailable = 4,  // no decoder here for the video's codec, named in the reply
  kEncrypted = 5,         // the video is encrypted
  kDamaged = 6,           // the video is there but nothing in it decoded
  kTooLarge = 7,          // the picture is larger than the server takes
  kCutOffByWatchdog = 8,  // the request ran past the server's time limit
  kIncomplete = 9,        // the file ends before its index: it may still be being written
  kBadRequest = 10,       // command 10 asked for no frame, too many, an interval of 0 or an edge too long
  kTooCostly = 11,        // reading it would cost too much: the request's read budget ran out
  kPathRefused = 12,      // the server is locked (command 13) and takes only files handed over
  kNotHandedOver = 13,    // command 12 brought no descriptor, several, or a message cut short
};

// What command 12 answers: kNoFailure when one readable regular file is
// held for the next request, else why not (kUnreadable for a descriptor that
// is not a readable regular file, kNotHandedOver for the message itself).
// A file a request would read by an empty name is that one.

// Where the frame of the last thumbnail request came from, as command 9
// answers it, followed by the frame's time in milliseconds (0 unless
// kVideoFrame; the largest number stands for any later time).
enum FrameOrigin : uint32_t {
  kNoFrame = 0,           // the last request gave no frame, or none was made
  kVideoFrame = 1,        // a frame of the video, shown at the time that follows
  kCoverPicture = 2,      // the file's cover picture
  kFrameOfUnknownTime = 3,  // a frame of a video the server could not seek in
};

// The longest string on the wire, its NUL included. The server stops at this
// many bytes and reads what follows as the next argument, so a parent must
// never send a longer one.
constexpr size_t kMaxStringBytes = 260;

// The bytes of one number.
constexpr size_t kNumberBytes = 4;

constexpr void EncodeNumber(uint32_t value, uint8_t* out) {
  for (size_t i = 0; i < kNumberBytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

constexpr uint32_t DecodeNumber(const uint8_t* in) {
  uint32_t value = 0;
  for (size_t i = 0; i < kNumberBytes; ++i) value |= static_cast<uint32_t>(in[i]) << (8 * i);
  return value;
}

inline void AppendNumber(std::vector<uint8_t>* out, uint32_t value) {
  uint8_t bytes[kNumberBytes];
  EncodeNumber(value, bytes);
  out->insert(out->end(), bytes, bytes + kNumberBytes);
}

// The text and its NUL. The caller keeps it under kMaxStringBytes.
inline void AppendString(std::vector<uint8_t>* out, std::string_view text) {
  out->insert(out->end(), text.begin(), text.end());
  out->push_back(0);
}

}  // namespace wire
