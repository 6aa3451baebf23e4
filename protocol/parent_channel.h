// The parent's side of a server's channel: a command goes out whole, its
// reply is read field by field as it arrives, then the event that ends it is
// taken; every step has a deadline, so a silent or dead server is a result,
// never a hang. The system's pipes and event sit behind ChannelEnds (three
// descriptors on Linux, three handles on Windows); what is said over them,
// and in which order, is here once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/fields.h"
#include "protocol/messages.h"

namespace wire {

using Clock = std::chrono::steady_clock;

enum class ChannelResult {
  kOk,
  kTimedOut,   // the deadline passed first
  kGone,       // a pipe broke or ended: the server has gone
  kOverrun,    // bytes or events beyond the reply: the sides are out of step
  kMalformed,  // a reply that breaks the protocol's own rules
};

// The system's three ends of the channel, as the parent holds them.
class ChannelEnds {
 public:
  virtual ~ChannelEnds() = default;
  // Writes all of bytes to the command pipe.
  virtual ChannelResult Write(const uint8_t* bytes, size_t size, Clock::time_point deadline) = 0;
  // Reads exactly size bytes from the reply pipe.
  virtual ChannelResult Read(uint8_t* out, size_t size, Clock::time_point deadline) = 0;
  // Waits for the reply event and takes it; *settings tells how many times
  // it was set since it was last taken (an event that does not count says
  // 1). With `alone`, reply bytes present while it waits or once it is set
  // are kOverrun: the server writes a whole reply before it sets the event.
  virtual ChannelResult TakeEvent(Clock::time_point deadline, bool alone, uint64_t* settings) = 0;
};

class ParentChannel {
 public:
  explicit ParentChannel(ChannelEnds& ends) : ends_(ends), lastSent_(Clock::now()) {}
  ParentChannel(const ParentChannel&) = delete;
  ParentChannel& operator=(const ParentChannel&) = delete;

  template <typename Request>
  ChannelResult Send(const Request& request, Clock::time_point deadline) {
    return SendBytes(EncodeRequest(request), deadline);
  }
  // Bytes as they are: several commands in one write, or bytes no message
  // makes.
  ChannelResult SendBytes(const std::vector<uint8_t>& bytes, Clock::time_point deadline);

  // When the last command went out whole, or the channel was made: the
  // server's idle limit counts from its last command.
  Clock::time_point lastSent() const { return lastSent_; }

  // Reads one reply, without its event.
  template <typename Reply>
  ChannelResult Receive(Reply* reply, Clock::time_point deadline) {
    ReplySource source(ends_, deadline);
    const bool wellFormed = reply->Read(source);
    if (source.result() != ChannelResult::kOk) return source.result();
    return wellFormed ? ChannelResult::kOk : ChannelResult::kMalformed;
  }

  // Reads size bytes of rows, without their event.
  ChannelResult ReceiveRows(uint8_t* out, size_t size, Clock::time_point deadline) {
    return ends_.Read(out, size, deadline);
  }

  // Takes the event that ends the one reply in flight; anything after the
  // reply, or a second setting, is kOverrun.
  ChannelResult AwaitReplyEnd(Clock::time_point deadline);

  // Takes the event of the next of several replies in flight. One wait may
  // take the settings of later replies too: they are kept for the next calls.
  ChannelResult AwaitEvent(Clock::time_point deadline);

  // A request, its whole reply and its event, for a parent with nothing
  // else in flight.
  template <typename Request>
  ChannelResult Ask(const Request& request, typename Request::Reply* reply, Clock::time_point deadline) {
    ChannelResult result = Send(request, deadline);
    if (result == ChannelResult::kOk) result = Receive(reply, deadline);
    if (result == ChannelResult::kOk) result = AwaitReplyEnd(deadline);
    return result;
  }

  // Command 3 and its rows, rowBytes each, into out (count * rowBytes
  // bytes), and its event.
  ChannelResult GetLines(uint32_t first, uint32_t count, size_t rowBytes, uint8_t* out, Clock::time_point deadline);

 private:
  // The reply pipe as fields, until the deadline; the first failure sticks.
  class ReplySource final : public FieldSource {
   public:
    ReplySource(ChannelEnds& ends, Clock::time_point deadline) : ends_(ends), deadline_(deadline) {}
    bool Number(uint32_t* value) override;
    bool String(std::string* text) override;
    ChannelResult result() const { return result_; }

   private:
    bool Take(uint8_t* out, size_t size);

    ChannelEnds& ends_;
    Clock::time_point deadline_;
    ChannelResult result_ = ChannelResult::kOk;
  };

  ChannelEnds& ends_;
  Clock::time_point lastSent_;
  uint64_t eventsKept_ = 0;
};

}  // namespace wire
