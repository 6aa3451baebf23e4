// The two field types every message is made of, a number and a string, read
// and written one at a time. The server reads its arguments straight off the
// command pipe and writes each reply value as it has it; a parent builds a
// whole command in memory and reads replies from a pipe with a deadline. Each
// side supplies a source and a sink; the messages are written once, over them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/wire.h"

namespace wire {

class FieldSource {
 public:
  virtual ~FieldSource() = default;
  // One number; false when the source ended or failed first.
  virtual bool Number(uint32_t* value) = 0;
  // The bytes up to a NUL, which is taken and not stored, or kMaxStringBytes
  // bytes without one: a text of that length was cut short (its next byte
  // stays in the source). False when the source ended or failed first.
  virtual bool String(std::string* text) = 0;
};

class FieldSink {
 public:
  virtual ~FieldSink() = default;
  virtual void Number(uint32_t value) = 0;
  // The text and its NUL; the caller keeps it under kMaxStringBytes.
  virtual void String(std::string_view text) = 0;
};

// Fields appended to bytes in memory.
class ByteSink final : public FieldSink {
 public:
  void Number(uint32_t value) override { AppendNumber(&bytes, value); }
  void String(std::string_view text) override { AppendString(&bytes, text); }
  std::vector<uint8_t> bytes;
};

// Fields taken from bytes in memory, front to back.
class ByteSource final : public FieldSource {
 public:
  ByteSource(const uint8_t* bytes, size_t size) : at_(bytes), left_(size) {}

  bool Number(uint32_t* value) override {
    if (left_ < kNumberBytes) return Exhaust();
    *value = DecodeNumber(at_);
    Skip(kNumberBytes);
    return true;
  }
  bool String(std::string* text) override {
    text->clear();
    while (text->size() < kMaxStringBytes) {
      if (left_ == 0) return Exhaust();
      const char c = static_cast<char>(*at_);
      Skip(1);
      if (c == '\0') return true;
      *text += c;
    }
    return true;
  }
  // Bytes not taken yet.
  size_t left() const { return left_; }

 private:
  bool Exhaust() {
    Skip(left_);
    return false;
  }
  void Skip(size_t n) {
    at_ += n;
    left_ -= n;
  }

  const uint8_t* at_;
  size_t left_;
};

}  // namespace wire
