// Wire encoding of the server's channel: commands are single bytes, numbers
// 32-bit little-endian values, strings their bytes and a NUL.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace thumbnail {

// The command bytes the server understands.
enum Command : uint8_t {
  kCmdQuit = 1,
  kCmdThumbnailFile = 2,
  kCmdGetLines = 3,
  kCmdEndThumbnail = 4,
  kCmdGetStatus = 5,
  kCmdGetDirectXLevel = 6,
};

// The longest string the server takes, its NUL included. A longer one would
// be cut and its tail read as the next argument, so it must never be sent.
constexpr size_t kMaxWireString = 260;

inline void PutFixed32(std::vector<uint8_t>* out, uint32_t value) {
  out->push_back(static_cast<uint8_t>(value));
  out->push_back(static_cast<uint8_t>(value >> 8));
  out->push_back(static_cast<uint8_t>(value >> 16));
  out->push_back(static_cast<uint8_t>(value >> 24));
}

inline uint32_t DecodeFixed32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

inline void PutString(std::vector<uint8_t>* out, const std::string& s) {
  out->insert(out->end(), s.begin(), s.end());
  out->push_back(0);
}

}  // namespace thumbnail
