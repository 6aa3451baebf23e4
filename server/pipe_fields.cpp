#include "server/pipe_fields.h"

bool TThumbnailServer::PipeFields::Number(uint32_t* value) {
  *value = server_.ReadDword();
  return !server_.command_pipe_ended_;
}

bool TThumbnailServer::PipeFields::String(std::string* text) {
  char buffer[wire::kMaxStringBytes + 1];
  const bool ended = server_.ReadString(buffer, wire::kMaxStringBytes);
  *text = buffer;
  stringTaken_ = stringTaken_ || ended;
  return ended;
}

void TThumbnailServer::PipeFields::Number(uint32_t value) { server_.WriteDword(value); }

void TThumbnailServer::PipeFields::String(std::string_view text) {
  // The text and its NUL in one write, as every string on the wire.
  const std::string withNul(text);
  DWORD written = 0;
  server_.platform_.WriteFile(HandleFromValue(server_.WritePipe), withNul.c_str(),
                              static_cast<DWORD>(withNul.size() + 1), &written);
}
