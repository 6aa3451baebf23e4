#include "server/pipe_fields.h"

bool PipeFields::Number(uint32_t* value) {
  *value = channel_.ReadDword();
  return !channel_.Ended();
}

bool PipeFields::String(std::string* text) {
  char buffer[wire::kMaxStringBytes + 1];
  const bool ended = channel_.ReadString(buffer, wire::kMaxStringBytes);
  *text = buffer;
  stringTaken_ = stringTaken_ || ended;
  return ended;
}

void PipeFields::Number(uint32_t value) { channel_.WriteDword(value); }

void PipeFields::String(std::string_view text) {
  // The text and its NUL in one write, as every string on the wire.
  const std::string withNul(text);
  channel_.WriteBytes(withNul.c_str(), withNul.size() + 1);
}
