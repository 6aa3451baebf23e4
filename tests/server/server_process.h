// A thumbnail server child process as a parent sees it: the parent's channel
// (a command pipe to write to, a reply pipe to read from and an eventfd that
// the server sets after each reply), plus its stdout and stderr caught in a
// pipe so that tests can check that it prints nothing. Tests speak messages
// through channel(), or raw bytes where the bytes are the point.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/descriptor_ends.h"
#include "protocol/parent_channel.h"

class ServerProcess {
 public:
  // Starts the server with "-com R W E" naming its ends of the channel.
  ServerProcess();
  // Starts the server with these arguments; "{R}", "{W}", "{E}" and "{F}"
  // in an argument become the descriptor numbers of its ends (F: the
  // hand-over socket). With a wrapper (strace and its options, say), the
  // server runs under that program.
  explicit ServerProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& wrapper = {});
  // Kills a server that is still running.
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  pid_t pid() const { return pid_; }

  wire::ParentChannel& channel() { return *channel_; }
  // The deadline of a reply asked for now that may take timeoutMs.
  static wire::Clock::time_point In(int timeoutMs = 5000) {
    return wire::Clock::now() + std::chrono::milliseconds(timeoutMs);
  }

  // Writes to the command pipe; false when the write failed.
  bool Write(const std::vector<uint8_t>& bytes);
  bool WriteByte(uint8_t byte) { return Write({byte}); }

  // Hands fds over in one message on the socket (none: a message without a
  // descriptor), then sends command 12 with the budget: the reason it
  // answers, or nothing when it does not answer in time.
  std::optional<uint32_t> HandOver(const std::vector<int>& fds, uint64_t budget = 0);
  // Command 13: the Landlock ABI the server entered (0 for none), or nothing
  // when it did not lock.
  std::optional<uint32_t> Lock();

  // Reads exactly n reply bytes, or nothing when they do not all come within
  // the time or the pipe ends first.
  std::optional<std::vector<uint8_t>> Read(size_t n, int timeoutMs = 5000);
  // True when reply bytes are waiting (within the time); false at the end
  // of the pipe.
  bool ReplyWaiting(int timeoutMs = 0);
  // How many bytes the reply pipe holds before its writer waits.
  int ReplyPipeCapacity() const;

  // Waits for the event and consumes it: how many times it was set since it
  // was last consumed, 0 when it was not set within the time.
  uint64_t WaitEvent(int timeoutMs = 5000);

  // The exit code once the process has ended within the time, -1 when it
  // is still running, 128 + n when signal n killed it.
  int WaitExit(int timeoutMs);

  void CloseCommandPipe();
  void CloseReplyPipe();
  // What the server printed on stdout and stderr; call after it has ended.
  std::string Output();

 private:
  void Start(const std::vector<std::string>& arguments, const std::vector<std::string>& wrapper);

  pid_t pid_ = -1;
  int exit_code_ = -1;
  std::unique_ptr<wire::DescriptorEnds> ends_;
  std::unique_ptr<wire::ParentChannel> channel_;
  int output_fd_ = -1;
  int files_fd_ = -1;  // the parent's end of the hand-over socket
};

// The arguments of a server that takes files handed over.
inline const std::vector<std::string> kHandOverArguments = {"-com", "{R}", "{W}", "{E}", "-files", "{F}"};
