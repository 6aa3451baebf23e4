#include "tests/server/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "protocol/file_hand_over.h"

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Polls one descriptor for input; false on time-out.
bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  int ready;
  do {
    ready = poll(&p, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

}  // namespace

ServerProcess::ServerProcess() : ServerProcess(std::vector<std::string>{"-com", "{R}", "{W}", "{E}"}) {}

ServerProcess::ServerProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& wrapper) {
  Start(arguments, wrapper);
}

void ServerProcess::Start(const std::vector<std::string>& arguments, const std::vector<std::string>& wrapper) {
  int command[2], reply[2], output[2], files[2];
  // Everything is close-on-exec; the child clears the flag on its own ends.
  if (pipe2(command, O_CLOEXEC) != 0 || pipe2(reply, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2 failed";
    return;
  }
  int event = eventfd(0, EFD_CLOEXEC);
  ASSERT_GE(event, 0);
  ASSERT_EQ(wire::MakeHandOverSockets(files), 0);

  std::vector<std::string> argv_text = wrapper;
  argv_text.push_back(THUMBNAIL_SERVER_PATH);
  for (std::string a : arguments) {
    ReplaceAll(a, "{R}", std::to_string(command[0]));
    ReplaceAll(a, "{W}", std::to_string(reply[1]));
    ReplaceAll(a, "{E}", std::to_string(event));
    ReplaceAll(a, "{F}", std::to_string(files[1]));
    argv_text.push_back(a);
  }
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_ = fork();
  if (pid_ == 0) {
    // Only async-signal-safe calls between fork and exec.
    for (int fd : {command[0], reply[1], event, files[1]}) fcntl(fd, F_SETFD, 0);
    dup2(output[1], STDOUT_FILENO);
    dup2(output[1], STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(command[0]);
  close(reply[1]);
  close(output[1]);
  close(files[1]);
  files_fd_ = files[0];
  ends_ = std::make_unique<wire::DescriptorEnds>(command[1], reply[0], event);
  channel_ = std::make_unique<wire::ParentChannel>(*ends_);
  output_fd_ = output[0];
  ASSERT_GT(pid_, 0);
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0 && exit_code_ < 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  CloseFd(output_fd_);
  CloseFd(files_fd_);
}

std::optional<uint32_t> ServerProcess::HandOver(const std::vector<int>& fds, uint64_t budget) {
  if (wire::SendDescriptors(files_fd_, fds.data(), fds.size()) != 0) return std::nullopt;
  wire::HandFileReply reply;
  if (channel_->Ask(wire::HandFileRequest{budget}, &reply, In()) != wire::ChannelResult::kOk) return std::nullopt;
  return reply.reason;
}

std::optional<uint32_t> ServerProcess::Lock() {
  wire::LockReply reply;
  if (channel_->Ask(wire::LockRequest{}, &reply, In()) != wire::ChannelResult::kOk || reply.locked != 1)
    return std::nullopt;
  return reply.landlockAbi;
}

bool ServerProcess::Write(const std::vector<uint8_t>& bytes) {
  return channel_->SendBytes(bytes, In()) == wire::ChannelResult::kOk;
}

std::optional<std::vector<uint8_t>> ServerProcess::Read(size_t n, int timeoutMs) {
  std::vector<uint8_t> bytes(n);
  if (ends_->Read(bytes.data(), n, In(timeoutMs)) != wire::ChannelResult::kOk) return std::nullopt;
  return bytes;
}

int ServerProcess::ReplyPipeCapacity() const { return fcntl(ends_->reply_fd(), F_GETPIPE_SZ); }

bool ServerProcess::ReplyWaiting(int timeoutMs) {
  // Readable is also true at the end of the pipe; only bytes count.
  return Readable(ends_->reply_fd(), timeoutMs) && ends_->ReplyBytesWaiting() > 0;
}

uint64_t ServerProcess::WaitEvent(int timeoutMs) {
  uint64_t settings = 0;
  ends_->TakeEvent(In(timeoutMs), false, &settings);
  return settings;
}

int ServerProcess::WaitExit(int timeoutMs) {
  if (exit_code_ >= 0) return exit_code_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exit_code_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void ServerProcess::CloseCommandPipe() { ends_->CloseCommand(); }
void ServerProcess::CloseReplyPipe() { ends_->CloseReply(); }

std::string ServerProcess::Output() {
  std::string text;
  char buffer[4096];
  while (Readable(output_fd_, 0)) {
    ssize_t n = read(output_fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}
