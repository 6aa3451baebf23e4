// One running thumbnail-server child and the three descriptors the parent
// talks to it through: the write end of the command pipe, the read end of
// the reply pipe and the event the server sets after each reply (an eventfd
// on Linux; see system.h).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/thumbnail_client.h"
#include "protocol/descriptor_ends.h"
#include "protocol/parent_channel.h"

namespace thumbnail {

using Clock = wire::Clock;

class ServerProcess {
 public:
  // Starts `path -com 3 4 5 -files 6`: the child reads commands from
  // descriptor 3, writes replies to 4, sets the event 5 and takes the files
  // handed over from the socket 6; 0 and 1 are /dev/null, 2 a
  // pipe this process reads when the server ends unasked, and no other
  // descriptor of this process reaches it. kServerUnavailable when the
  // program cannot be started.
  static Status Start(const std::string& path, std::unique_ptr<ServerProcess>* out);

  // Asks the server to quit, gives it a moment, then kills it if it is still
  // there, and reaps it.
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  pid_t pid() const { return pid_; }

  // Writes a whole command and its arguments before the deadline. Notes the
  // time: the server's idle limit counts from its last command.
  template <typename Request>
  Status Send(const Request& request, Clock::time_point deadline) {
    return Told(channel_.Send(request, deadline));
  }

  // Reads one reply, as it arrives, before the deadline.
  template <typename Reply>
  Status Receive(Reply* reply, Clock::time_point deadline) {
    return Told(channel_.Receive(reply, deadline));
  }

  // Waits for the event that ends a reply. Bytes beyond the reply are a
  // protocol error: the two sides would no longer be in step.
  Status AwaitReplyEnd(Clock::time_point deadline) { return Told(channel_.AwaitReplyEnd(deadline)); }

  // A command, its whole reply and its event, before the deadline.
  template <typename Request>
  Status Ask(const Request& request, typename Request::Reply* reply, Clock::time_point deadline) {
    return Told(channel_.Ask(request, reply, deadline));
  }

  // Command 3 for rows of rowBytes each, into out, and its event.
  Status GetLines(uint32_t first, uint32_t count, size_t rowBytes, uint8_t* out, Clock::time_point deadline) {
    return Told(channel_.GetLines(first, count, rowBytes, out, deadline));
  }

  // Hands the open file fd over for the next request (command 12), with
  // the most it may read of it (0: no limit); the server then holds its own
  // copy of the descriptor. *reply says whether it took it.
  Status HandOver(int fd, uint64_t budget, wire::HandFileReply* reply, Clock::time_point deadline);

  // True, without waiting, when the server has hung up its reply pipe (it
  // ended, by itself or otherwise) or has sent bytes nobody asked for.
  bool HasGoneAway();

  // How long since the last command went out.
  Clock::duration IdleFor() const { return Clock::now() - channel_.lastSent(); }

  // Ends the server after `failure` (a failed Send, Receive or
  // AwaitReplyEnd), reaps it, and returns the failure told the way the
  // server went: killed by a signal, cut off by its watchdog, crashed, or
  // never started at all (an exit status other than 0, which the server
  // itself never gives: a missing library, say), with the first line it
  // wrote on stderr.
  Status EndAfter(const Status& failure);

  // Reaps a server known to have ended or to be ending, killing it first in
  // case it has not.
  void Kill();

 private:
  ServerProcess(std::string path, pid_t pid, int command, int reply, int event, int errors, int files);
  // The channel's result as the caller's status.
  static Status Told(wire::ChannelResult result);
  // The first line the server wrote on stderr, what the dynamic loader or
  // the system says when a program cannot run; empty when it wrote none.
  std::string FirstErrorLine();

  std::string path_;
  pid_t pid_;
  wire::DescriptorEnds ends_;
  wire::ParentChannel channel_{ends_};
  int errors_fd_;  // read end of the server's stderr, non-blocking; kept
                   // after Kill, for EndAfter to read
  int files_fd_;   // the parent's end of the hand-over socket
  bool reaped_ = false;
  int wait_status_ = 0;
};

}  // namespace thumbnail
