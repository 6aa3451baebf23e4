// The parent's ends of a server's channel on Linux: the write end of the
// command pipe, the read end of the reply pipe and the reply event (an
// eventfd, or a pipe the server writes 8 bytes to). Both pipe ends are made
// non-blocking here; every wait is a poll with the deadline.
#pragma once

#include <sys/types.h>

#include "protocol/parent_channel.h"

namespace wire {

class DescriptorEnds final : public ChannelEnds {
 public:
  // The write to the command pipe. A host that does not ignore SIGPIPE passes
  // one that keeps a gone server from ending it.
  using WriteCall = ssize_t (*)(int fd, const void* bytes, size_t size);

  // Takes ownership of the three descriptors (-1 for none).
  DescriptorEnds(int command, int reply, int event, WriteCall write = nullptr);
  // Closes what is still open.
  ~DescriptorEnds() override;
  DescriptorEnds(const DescriptorEnds&) = delete;
  DescriptorEnds& operator=(const DescriptorEnds&) = delete;

  ChannelResult Write(const uint8_t* bytes, size_t size, Clock::time_point deadline) override;
  ChannelResult Read(uint8_t* out, size_t size, Clock::time_point deadline) override;
  ChannelResult TakeEvent(Clock::time_point deadline, bool alone, uint64_t* settings) override;

  // Reads and drops reply bytes until the reply pipe ends or the deadline
  // passes.
  void DrainReply(Clock::time_point deadline);
  // True, without waiting, when the reply pipe has ended or holds bytes.
  bool ReplyPipeStirred() const;
  // Bytes waiting in the reply pipe now.
  int ReplyBytesWaiting() const;

  void CloseCommand();
  void CloseReply();
  void CloseAll();

  int command_fd() const { return command_; }
  int reply_fd() const { return reply_; }
  int event_fd() const { return event_; }

 private:
  int command_;
  int reply_;
  int event_;
  WriteCall write_;
};

}  // namespace wire
