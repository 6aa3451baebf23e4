#include "protocol/parent_channel.h"

namespace wire {

ChannelResult ParentChannel::SendBytes(const std::vector<uint8_t>& bytes, Clock::time_point deadline) {
  const ChannelResult result = ends_.Write(bytes.data(), bytes.size(), deadline);
  if (result == ChannelResult::kOk) lastSent_ = Clock::now();
  return result;
}

ChannelResult ParentChannel::AwaitReplyEnd(Clock::time_point deadline) {
  if (eventsKept_ > 0) return ChannelResult::kOverrun;
  uint64_t settings = 0;
  const ChannelResult result = ends_.TakeEvent(deadline, true, &settings);
  if (result == ChannelResult::kOk && settings > 1) return ChannelResult::kOverrun;
  return result;
}

ChannelResult ParentChannel::AwaitEvent(Clock::time_point deadline) {
  if (eventsKept_ == 0) {
    uint64_t settings = 0;
    const ChannelResult result = ends_.TakeEvent(deadline, false, &settings);
    if (result != ChannelResult::kOk) return result;
    eventsKept_ = settings;
  }
  --eventsKept_;
  return ChannelResult::kOk;
}

ChannelResult ParentChannel::GetLines(uint32_t first, uint32_t count, size_t rowBytes, uint8_t* out,
                                      Clock::time_point deadline) {
  ChannelResult result = Send(GetLinesRequest{first, count}, deadline);
  if (result == ChannelResult::kOk) result = ReceiveRows(out, size_t{count} * rowBytes, deadline);
  if (result == ChannelResult::kOk) result = AwaitReplyEnd(deadline);
  return result;
}

bool ParentChannel::ReplySource::Take(uint8_t* out, size_t size) {
  if (result_ == ChannelResult::kOk) result_ = ends_.Read(out, size, deadline_);
  return result_ == ChannelResult::kOk;
}

bool ParentChannel::ReplySource::Number(uint32_t* value) {
  uint8_t bytes[kNumberBytes];
  if (!Take(bytes, sizeof bytes)) return false;
  *value = DecodeNumber(bytes);
  return true;
}

bool ParentChannel::ReplySource::String(std::string* text) {
  // A byte at a time: what follows the NUL belongs to the next field.
  text->clear();
  uint8_t c = 0;
  while (text->size() < kMaxStringBytes) {
    if (!Take(&c, 1)) return false;
    if (c == 0) return true;
    *text += static_cast<char>(c);
  }
  return true;
}

}  // namespace wire
