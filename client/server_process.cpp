#include "client/server_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "protocol/wire.h"

extern char** environ;

namespace thumbnail {
namespace {

// The descriptor numbers the child sees.
constexpr int kChildCommandFd = 3;
constexpr int kChildReplyFd = 4;
constexpr int kChildEventFd = 5;

// The server's watchdog ends a command after ten seconds; an end this long
// after the last command is that, not a crash.
constexpr auto kWatchdogCutOff = std::chrono::milliseconds(9500);
// How long a server asked to quit may take before it is killed.
constexpr auto kQuitGrace = std::chrono::milliseconds(2000);

std::string ErrnoText(int error) { return strerrordesc_np(error) ? strerrordesc_np(error) : "unknown error"; }

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

// A write to a pipe whose reader has gone raises SIGPIPE, which would end
// the host program. The signal is blocked for this thread during the write,
// and the one the write raised is taken back before it is unblocked.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
  }
  ~SigpipeBlock() {
    if (raised_ && !was_pending_) {
      timespec zero{};
      while (sigtimedwait(&pipe_, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  void NoteBrokenPipe() { raised_ = true; }

 private:
  sigset_t pipe_;
  sigset_t old_;
  bool was_pending_ = false;
  bool raised_ = false;
};

Status Gone() { return Status::Error(Failure::kServerCrashed, "the server ended in the middle of the request"); }
Status NoReply() { return Status::Error(Failure::kTimedOut, "the server did not reply in time"); }

}  // namespace

ServerProcess::ServerProcess(pid_t pid, int command, int reply, int event)
    : pid_(pid), command_fd_(command), reply_fd_(reply), event_fd_(event), last_command_(Clock::now()) {}

Status ServerProcess::Start(const std::string& path, std::unique_ptr<ServerProcess>* out) {
  int command[2] = {-1, -1};
  int reply[2] = {-1, -1};
  // The child's ends are moved above the numbers they get in the child, so
  // that placing one never overwrites another; every descriptor made here is
  // close-on-exec, so a server started by another thread meanwhile gets none
  // of them.
  int child_command = -1, child_reply = -1, event = -1;
  auto fail = [&](const std::string& what, int error) {
    for (int* fd : {&command[0], &command[1], &reply[0], &reply[1], &child_command, &child_reply, &event})
      CloseIfOpen(fd);
    return Status::Error(Failure::kServerUnavailable, "cannot start the server " + path + ": " + what +
                                                          (error ? std::string(": ") + ErrnoText(error) : ""));
  };
  if (::pipe2(command, O_CLOEXEC) != 0 || ::pipe2(reply, O_CLOEXEC) != 0) return fail("pipe", errno);
  event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (event < 0) return fail("eventfd", errno);
  child_command = ::fcntl(command[0], F_DUPFD_CLOEXEC, kChildEventFd + 1);
  child_reply = ::fcntl(reply[1], F_DUPFD_CLOEXEC, kChildEventFd + 1);
  int child_event = ::fcntl(event, F_DUPFD_CLOEXEC, kChildEventFd + 1);
  if (child_command < 0 || child_reply < 0 || child_event < 0) {
    int error = errno;
    if (child_event >= 0) ::close(child_event);
    return fail("dup", error);
  }
  CloseIfOpen(&command[0]);
  CloseIfOpen(&reply[1]);
  if (::fcntl(command[1], F_SETFL, O_NONBLOCK) != 0 || ::fcntl(reply[0], F_SETFL, O_NONBLOCK) != 0) {
    ::close(child_event);
    return fail("fcntl", errno);
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // dup2 clears close-on-exec on the copy: these three, and the standard
  // descriptors on /dev/null, are all the child keeps.
  posix_spawn_file_actions_adddup2(&actions, child_command, kChildCommandFd);
  posix_spawn_file_actions_adddup2(&actions, child_reply, kChildReplyFd);
  posix_spawn_file_actions_adddup2(&actions, child_event, kChildEventFd);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, kChildEventFd + 1);

  // The child starts with no blocked signal and default handlers, whatever
  // this thread has set up (a write may hold SIGPIPE blocked, for one).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::string r = std::to_string(kChildCommandFd), w = std::to_string(kChildReplyFd),
              e = std::to_string(kChildEventFd);
  std::string com = "-com";
  char* argv[] = {const_cast<char*>(path.c_str()), com.data(), r.data(), w.data(), e.data(), nullptr};
  pid_t pid = 0;
  int error = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(child_event);
  CloseIfOpen(&child_command);
  CloseIfOpen(&child_reply);
  if (error != 0) return fail("spawn", error);
  out->reset(new ServerProcess(pid, command[1], reply[0], event));
  return Status::Ok();
}

ServerProcess::~ServerProcess() {
  if (!reaped_) {
    // The quit command is one byte into a pipe with room; if the server
    // cannot take it, the kill below ends it all the same.
    Send({wire::kQuit}, Clock::now());
    CloseIfOpen(&command_fd_);
    // The server hangs up its reply pipe as its process ends.
    pollfd hangup{reply_fd_, POLLIN, 0};
    char sink[4096];
    auto deadline = Clock::now() + kQuitGrace;
    while (PollUntil(&hangup, 1, deadline) > 0 && ::read(reply_fd_, sink, sizeof sink) > 0) {
    }
  }
  Kill();
}

void ServerProcess::CloseDescriptors() {
  CloseIfOpen(&command_fd_);
  CloseIfOpen(&reply_fd_);
  CloseIfOpen(&event_fd_);
}

void ServerProcess::Kill() {
  CloseDescriptors();
  if (reaped_) return;
  // Killing a process that has already ended changes nothing: its status
  // stays the one it ended with.
  ::kill(pid_, SIGKILL);
  while (::waitpid(pid_, &wait_status_, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
}

Status ServerProcess::Send(const std::vector<uint8_t>& bytes, Clock::time_point deadline) {
  if (command_fd_ < 0) return Gone();
  SigpipeBlock block;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(command_fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EPIPE) {
      block.NoteBrokenPipe();
      return Gone();
    }
    if (n < 0 && errno != EAGAIN) return Gone();
    pollfd room{command_fd_, POLLOUT, 0};
    int ready = PollUntil(&room, 1, deadline);
    if (ready == 0) return NoReply();
    if (ready < 0 || (room.revents & (POLLERR | POLLHUP | POLLNVAL))) return Gone();
  }
  last_command_ = Clock::now();
  return Status::Ok();
}

Status ServerProcess::Receive(uint8_t* out, size_t size, Clock::time_point deadline) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(reply_fd_, out + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return Gone();
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return Gone();
    pollfd data{reply_fd_, POLLIN, 0};
    int ready = PollUntil(&data, 1, deadline);
    if (ready == 0) return NoReply();
    if (ready < 0) return Gone();
  }
  return Status::Ok();
}

Status ServerProcess::AwaitReplyEnd(Clock::time_point deadline) {
  for (;;) {
    pollfd fds[2] = {{event_fd_, POLLIN, 0}, {reply_fd_, POLLIN, 0}};
    int ready = PollUntil(fds, 2, deadline);
    if (ready == 0) return NoReply();
    if (ready < 0) return Gone();
    if (fds[0].revents & POLLIN) {
      uint64_t count = 0;
      if (::read(event_fd_, &count, sizeof count) != sizeof count) continue;
      // The server writes the whole reply before it sets the event, so
      // anything in the pipe now is more than the reply.
      int waiting = 0;
      if (::ioctl(reply_fd_, FIONREAD, &waiting) == 0 && waiting > 0)
        return Status::Error(Failure::kProtocolError, "the server sent more than its reply");
      return Status::Ok();
    }
    int waiting = 0;
    if ((fds[1].revents & POLLIN) && ::ioctl(reply_fd_, FIONREAD, &waiting) == 0 && waiting > 0)
      return Status::Error(Failure::kProtocolError, "the server sent more than its reply");
    if (fds[1].revents) return Gone();
  }
}

bool ServerProcess::HasGoneAway() {
  pollfd reply{reply_fd_, POLLIN, 0};
  return reaped_ || reply_fd_ < 0 || PollUntil(&reply, 1, Clock::now()) != 0;
}

Status ServerProcess::EndAfter(const Status& failure) {
  Clock::duration since_command = IdleFor();
  Kill();
  if (failure.failure != Failure::kServerCrashed) return failure;
  if (WIFSIGNALED(wait_status_)) {
    const char* name = sigabbrev_np(WTERMSIG(wait_status_));
    return Status::Error(Failure::kServerCrashed, std::string("the server was killed by SIG") + (name ? name : "?"));
  }
  if (since_command >= kWatchdogCutOff)
    return Status::Error(Failure::kTimedOut, "the server gave up on it after ten seconds");
  return Status::Error(Failure::kServerCrashed, "the server crashed on it");
}

}  // namespace thumbnail
