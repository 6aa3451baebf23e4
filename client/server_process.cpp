#include "client/server_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "client/live_servers.h"
#include "client/system.h"
#include "protocol/file_hand_over.h"
#include "protocol/server_timing.h"

namespace thumbnail {
namespace {

// The descriptor numbers the child sees.
constexpr int kChildCommandFd = 3;
constexpr int kChildReplyFd = 4;
constexpr int kChildEventFd = 5;
constexpr int kChildFilesFd = 6;

// The server's watchdog ends a command at its idle limit; an end this close
// to it after the last command is that, not a crash.
constexpr auto kWatchdogCutOff = std::chrono::milliseconds(wire::kIdleLimitMs) - std::chrono::milliseconds(500);
// How long a server asked to quit may take before it is killed.
constexpr auto kQuitGrace = std::chrono::milliseconds(2000);

void CloseIfOpen(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

}  // namespace

ServerProcess::ServerProcess(std::string path, pid_t pid, int command, int reply, int event, int errors, int files)
    : path_(std::move(path)),
      pid_(pid),
      ends_(command, reply, event, WriteWithoutSigpipe),
      errors_fd_(errors),
      files_fd_(files) {}

Status ServerProcess::Start(const std::string& path, std::unique_ptr<ServerProcess>* out) {
  int command[2] = {-1, -1};
  int reply[2] = {-1, -1};
  int event[2] = {-1, -1};
  // The server writes nothing on stderr; only a program that cannot run
  // does, a line or two, which the pipe holds until it is read.
  int errors[2] = {-1, -1};
  // Files go over a socket of their own, beside the pipes.
  int files[2] = {-1, -1};
  // The child's ends are moved above the numbers they get in the child, so
  // that placing one never overwrites another; every descriptor made here is
  // close-on-exec, so a server started by another thread meanwhile gets none
  // of them.
  int child_command = -1, child_reply = -1, child_event = -1, child_errors = -1, child_files = -1;
  auto fail = [&](const std::string& what, int error) {
    for (int* fd : {&command[0], &command[1], &reply[0], &reply[1], &event[0], &event[1], &errors[0], &errors[1],
                    &files[0], &files[1], &child_command, &child_reply, &child_event, &child_errors, &child_files})
      CloseIfOpen(fd);
    return Status::Error(Failure::kServerUnavailable, "cannot start the server " + path + ": " + what +
                                                          (error ? std::string(": ") + ErrorText(error) : ""));
  };
  if (int error = MakePipe(command); error != 0) return fail("pipe", error);
  if (int error = MakePipe(reply); error != 0) return fail("pipe", error);
  if (int error = MakeReplyEvent(event); error != 0) return fail("event", error);
  if (int error = MakePipe(errors); error != 0) return fail("pipe", error);
  if (int error = wire::MakeHandOverSockets(files); error != 0) return fail("socketpair", error);
  child_command = ::fcntl(command[0], F_DUPFD_CLOEXEC, kChildFilesFd + 1);
  child_reply = ::fcntl(reply[1], F_DUPFD_CLOEXEC, kChildFilesFd + 1);
  child_event = ::fcntl(event[1], F_DUPFD_CLOEXEC, kChildFilesFd + 1);
  child_errors = ::fcntl(errors[1], F_DUPFD_CLOEXEC, kChildFilesFd + 1);
  child_files = ::fcntl(files[1], F_DUPFD_CLOEXEC, kChildFilesFd + 1);
  if (child_command < 0 || child_reply < 0 || child_event < 0 || child_errors < 0 || child_files < 0)
    return fail("dup", errno);
  CloseIfOpen(&command[0]);
  CloseIfOpen(&reply[1]);
  CloseIfOpen(&event[1]);
  CloseIfOpen(&errors[1]);
  CloseIfOpen(&files[1]);
  if (::fcntl(errors[0], F_SETFL, O_NONBLOCK) != 0) return fail("fcntl", errno);

  pid_t pid = 0;
  const int error = SpawnWithDescriptors(
      path,
      {"-com", std::to_string(kChildCommandFd), std::to_string(kChildReplyFd), std::to_string(kChildEventFd),
       "-files", std::to_string(kChildFilesFd)},
      {{child_command, kChildCommandFd},
       {child_reply, kChildReplyFd},
       {child_event, kChildEventFd},
       {child_files, kChildFilesFd},
       {child_errors, STDERR_FILENO}},
      &pid);
  CloseIfOpen(&child_command);
  CloseIfOpen(&child_reply);
  CloseIfOpen(&child_event);
  CloseIfOpen(&child_errors);
  CloseIfOpen(&child_files);
  if (error != 0) return fail("spawn", error);
  NoteServerStarted(pid);
  out->reset(new ServerProcess(path, pid, command[1], reply[0], event[0], errors[0], files[0]));
  return Status::Ok();
}

ServerProcess::~ServerProcess() {
  if (!reaped_) {
    // The quit command is one byte into a pipe with room; if the server
    // cannot take it, the kill below ends it all the same.
    channel_.Send(wire::QuitRequest{}, Clock::now());
    ends_.CloseCommand();
    // The server hangs up its reply pipe as its process ends.
    ends_.DrainReply(Clock::now() + kQuitGrace);
  }
  Kill();
  CloseIfOpen(&errors_fd_);
  CloseIfOpen(&files_fd_);
}

Status ServerProcess::HandOver(int fd, uint64_t budget, wire::HandFileReply* reply, Clock::time_point deadline) {
  // The message waits on the socket for the command that takes it.
  if (int error = wire::SendDescriptors(files_fd_, &fd, 1); error != 0)
    return Status::Error(Failure::kServerCrashed, "cannot hand the file over: " + ErrorText(error));
  return Ask(wire::HandFileRequest{budget}, reply, deadline);
}

void ServerProcess::Kill() {
  ends_.CloseAll();
  if (reaped_) return;
  // Killing a process that has already ended changes nothing: its status
  // stays the one it ended with.
  ::kill(pid_, SIGKILL);
  NoteServerEnding(pid_);
  while (::waitpid(pid_, &wait_status_, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
}

Status ServerProcess::Told(wire::ChannelResult result) {
  switch (result) {
    case wire::ChannelResult::kOk:
      return Status::Ok();
    case wire::ChannelResult::kTimedOut:
      return Status::Error(Failure::kTimedOut, "the server did not reply in time");
    case wire::ChannelResult::kOverrun:
      return Status::Error(Failure::kProtocolError, "the server sent more than its reply");
    case wire::ChannelResult::kMalformed:
      return Status::Error(Failure::kProtocolError, "the server sent a reply the protocol does not allow");
    case wire::ChannelResult::kGone:
      break;
  }
  return Status::Error(Failure::kServerCrashed, "the server ended in the middle of the request");
}

std::string ServerProcess::FirstErrorLine() {
  char text[512];
  ssize_t n = errors_fd_ < 0 ? -1 : ::read(errors_fd_, text, sizeof text);
  std::string line(text, n > 0 ? static_cast<size_t>(n) : 0);
  return line.substr(0, line.find('\n'));
}

bool ServerProcess::HasGoneAway() { return reaped_ || ends_.ReplyPipeStirred(); }

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
