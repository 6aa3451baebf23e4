#include "protocol/descriptor_ends.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace wire {
namespace {

// poll() until `deadline`; 0 on time-out, like poll itself.
int PollUntil(pollfd* fds, nfds_t count, Clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) left = 0;
    // Round up, so that a deadline less than a millisecond away still waits.
    int n = ::poll(fds, count, static_cast<int>(left) + (left == 0 ? 0 : 1));
    if (n >= 0 || errno != EINTR) return n;
  }
}

void CloseIfOpen(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

void MakeNonBlocking(int fd) {
  if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

DescriptorEnds::DescriptorEnds(int command, int reply, int event, WriteCall write)
    : command_(command), reply_(reply), event_(event), write_(write ? write : ::write) {
  MakeNonBlocking(command_);
  MakeNonBlocking(reply_);
}

DescriptorEnds::~DescriptorEnds() { CloseAll(); }

void DescriptorEnds::CloseCommand() { CloseIfOpen(&command_); }
void DescriptorEnds::CloseReply() { CloseIfOpen(&reply_); }

void DescriptorEnds::CloseAll() {
  CloseIfOpen(&command_);
  CloseIfOpen(&reply_);
  CloseIfOpen(&event_);
}

ChannelResult DescriptorEnds::Write(const uint8_t* bytes, size_t size, Clock::time_point deadline) {
  if (command_ < 0) return ChannelResult::kGone;
  size_t done = 0;
  while (done < size) {
    ssize_t n = write_(command_, bytes + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return ChannelResult::kGone;
    pollfd room{command_, POLLOUT, 0};
    int ready = PollUntil(&room, 1, deadline);
    if (ready == 0) return ChannelResult::kTimedOut;
    if (ready < 0 || (room.revents & (POLLERR | POLLHUP | POLLNVAL))) return ChannelResult::kGone;
  }
  return ChannelResult::kOk;
}

ChannelResult DescriptorEnds::Read(uint8_t* out, size_t size, Clock::time_point deadline) {
  if (reply_ < 0) return ChannelResult::kGone;
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(reply_, out + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return ChannelResult::kGone;
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return ChannelResult::kGone;
    pollfd data{reply_, POLLIN, 0};
    int ready = PollUntil(&data, 1, deadline);
    if (ready == 0) return ChannelResult::kTimedOut;
    if (ready < 0) return ChannelResult::kGone;
  }
  return ChannelResult::kOk;
}

ChannelResult DescriptorEnds::TakeEvent(Clock::time_point deadline, bool alone, uint64_t* settings) {
  *settings = 0;
  if (event_ < 0) return ChannelResult::kGone;
  for (;;) {
    // Alone, the reply pipe is watched too: bytes there before the event are
    // more than the reply, and its end means the server went without setting it.
    pollfd fds[2] = {{event_, POLLIN, 0}, {reply_, POLLIN, 0}};
    int ready = PollUntil(fds, alone && reply_ >= 0 ? 2 : 1, deadline);
    if (ready == 0) return ChannelResult::kTimedOut;
    if (ready < 0) return ChannelResult::kGone;
    if (fds[0].revents & POLLIN) {
      uint64_t count = 0;
      if (::read(event_, &count, sizeof count) != sizeof count) continue;
      *settings = count;
      return alone && ReplyBytesWaiting() > 0 ? ChannelResult::kOverrun : ChannelResult::kOk;
    }
    if (fds[0].revents) return ChannelResult::kGone;
    if (ReplyBytesWaiting() > 0) return ChannelResult::kOverrun;
    if (fds[1].revents) return ChannelResult::kGone;
  }
}

void DescriptorEnds::DrainReply(Clock::time_point deadline) {
  pollfd hangup{reply_, POLLIN, 0};
  char sink[4096];
  while (reply_ >= 0 && PollUntil(&hangup, 1, deadline) > 0 && ::read(reply_, sink, sizeof sink) > 0) {
  }
}

int DescriptorEnds::ReplyBytesWaiting() const {
  int waiting = 0;
  return reply_ >= 0 && ::ioctl(reply_, FIONREAD, &waiting) == 0 ? waiting : 0;
}

bool DescriptorEnds::ReplyPipeStirred() const {
  pollfd reply{reply_, POLLIN, 0};
  return reply_ < 0 || PollUntil(&reply, 1, Clock::now()) != 0;
}

}  // namespace wire
