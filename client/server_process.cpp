#include "client/server_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "client/live_servers.h"
#include "client/system.h"
#include "protocol/wire.h"

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

Status Gone() { return Status::Error(Failure::kServerCrashed, "the server ended in the middle of the request"); }
Status NoReply() { return Status::Error(Failure::kTimedOut, "the server did not reply in time"); }

}  // namespace

ServerProcess::ServerProcess(std::string path, pid_t pid, int command, int reply, int event, int errors)
    : path_(std::move(path)),
      pid_(pid),
      command_fd_(command),
      reply_fd_(reply),
      event_fd_(event),
      errors_fd_(errors),
      last_command_(Clock::now()) {}

Status ServerProcess::Start(const std::string& path, std::unique_ptr<ServerProcess>* out) {
  int command[2] = {-1, -1};
  int reply[2] = {-1, -1};
  int event[2] = {-1, -1};
  // The server writes nothing on stderr; only a program that cannot run
  // does, a line or two, which the pipe holds until it is read.
  int errors[2] = {-1, -1};
  // The child's ends are moved above the numbers they get in the child, so
  // that placing one never overwrites another; every descriptor made here is
  // close-on-exec, so a server started by another thread meanwhile gets none
  // of them.
  int child_command = -1, child_reply = -1, child_event = -1, child_errors = -1;
  auto fail = [&](const std::string& what, int error) {
    for (int* fd : {&command[0], &command[1], &reply[0], &reply[1], &event[0], &event[1], &errors[0], &errors[1],
                    &child_command, &child_reply, &child_event, &child_errors})
      CloseIfOpen(fd);
    return Status::Error(Failure::kServerUnavailable, "cannot start the server " + path + ": " + what +
                                                          (error ? std::string(": ") + ErrorText(error) : ""));
  };
  if (int error = MakePipe(command); error != 0) return fail("pipe", error);
  if (int error = MakePipe(reply); error != 0) return fail("pipe", error);
  if (int error = MakeReplyEvent(event); error != 0) return fail("event", error);
  if (int error = MakePipe(errors); error != 0) return fail("pipe", error);
  child_command = ::fcntl(command[0], F_DUPFD_CLOEXEC, kChildEventFd + 1);
  child_reply = ::fcntl(reply[1], F_DUPFD_CLOEXEC, kChildEventFd + 1);
  child_event = ::fcntl(event[1], F_DUPFD_CLOEXEC, kChildEventFd + 1);
  child_errors = ::fcntl(errors[1], F_DUPFD_CLOEXEC, kChildEventFd + 1);
  if (child_command < 0 || child_reply < 0 || child_event < 0 || child_errors < 0) return fail("dup", errno);
  CloseIfOpen(&command[0]);
  CloseIfOpen(&reply[1]);
  CloseIfOpen(&event[1]);
  CloseIfOpen(&errors[1]);
  if (::fcntl(command[1], F_SETFL, O_NONBLOCK) != 0 || ::fcntl(reply[0], F_SETFL, O_NONBLOCK) != 0 ||
      ::fcntl(errors[0], F_SETFL, O_NONBLOCK) != 0)
    return fail("fcntl", errno);

  pid_t pid = 0;
  const int error = SpawnWithDescriptors(
      path,
      {"-com", std::to_string(kChildCommandFd), std::to_string(kChildReplyFd), std::to_string(kChildEventFd)},
      {{child_command, kChildCommandFd},
       {child_reply, kChildReplyFd},
       {child_event, kChildEventFd},
       {child_errors, STDERR_FILENO}},
      &pid);
  CloseIfOpen(&child_command);
  CloseIfOpen(&child_reply);
  CloseIfOpen(&child_event);
  CloseIfOpen(&child_errors);
  if (error != 0) return fail("spawn", error);
  NoteServerStarted(pid);
  out->reset(new ServerProcess(path, pid, command[1], reply[0], event[0], errors[0]));
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
  CloseIfOpen(&errors_fd_);
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
  NoteServerEnding(pid_);
  while (::waitpid(pid_, &wait_status_, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
}

Status ServerProcess::Send(const std::vector<uint8_t>& bytes, Clock::time_point deadline) {
  if (command_fd_ < 0) return Gone();
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = WriteWithoutSigpipe(command_fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
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
      if (!TakeReplyEvent(event_fd_)) continue;
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

std::string ServerProcess::FirstErrorLine() {
  char text[512];
  ssize_t n = errors_fd_ < 0 ? -1 : ::read(errors_fd_, text, sizeof text);
  std::string line(text, n > 0 ? static_cast<size_t>(n) : 0);
  return line.substr(0, line.find('\n'));
}

Status ServerProcess::EndAfter(const Status& failure) {
  Clock::duration since_command = IdleFor();
  Kill();
  if (WIFEXITED(wait_status_) && WEXITSTATUS(wait_status_) != 0) {
    std::string said = FirstErrorLine();
    return Status::Error(Failure::kServerUnavailable, "cannot start the server " + path_ + ": it ended with status " +
                                                          std::to_string(WEXITSTATUS(wait_status_)) +
                                                          (said.empty() ? "" : ": " + said));
  }
  if (failure.failure != Failure::kServerCrashed) return failure;
  if (WIFSIGNALED(wait_status_)) {
    return Status::Error(Failure::kServerCrashed, "the server was killed by " + SignalName(WTERMSIG(wait_status_)));
  }
  if (since_command >= kWatchdogCutOff)
    return Status::Error(Failure::kTimedOut, "the server gave up on it after ten seconds");
  return Status::Error(Failure::kServerCrashed, "the server crashed on it");
}

}  // namespace thumbnail
