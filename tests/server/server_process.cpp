#include "tests/server/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

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

ServerProcess::ServerProcess(const std::vector<std::string>& arguments) { Start(arguments); }

void ServerProcess::Start(const std::vector<std::string>& arguments) {
  int command[2], reply[2], output[2];
  // Everything is close-on-exec; the child clears the flag on its own ends.
  if (pipe2(command, O_CLOEXEC) != 0 || pipe2(reply, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2 failed";
    return;
  }
  int event = eventfd(0, EFD_CLOEXEC);
  ASSERT_GE(event, 0);

  std::vector<std::string> argv_text{THUMBNAIL_SERVER_PATH};
  for (std::string a : arguments) {
    ReplaceAll(a, "{R}", std::to_string(command[0]));
    ReplaceAll(a, "{W}", std::to_string(reply[1]));
    ReplaceAll(a, "{E}", std::to_string(event));
    argv_text.push_back(a);
  }
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_ = fork();
  if (pid_ == 0) {
    // Only async-signal-safe calls between fork and exec.
    for (int fd : {command[0], reply[1], event}) fcntl(fd, F_SETFD, 0);
    dup2(output[1], STDOUT_FILENO);
    dup2(output[1], STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(command[0]);
  close(reply[1]);
  close(output[1]);
  command_fd_ = command[1];
  reply_fd_ = reply[0];
  output_fd_ = output[0];
  event_fd_ = event;
  ASSERT_GT(pid_, 0);
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0 && exit_code_ < 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  CloseFd(command_fd_);
  CloseFd(reply_fd_);
  CloseFd(event_fd_);
  CloseFd(output_fd_);
}

bool ServerProcess::Write(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(command_fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ServerProcess::WriteDword(uint32_t value) {
  std::vector<uint8_t> bytes;
  wire::AppendNumber(&bytes, value);
  return Write(bytes);
}

bool ServerProcess::WriteString(const std::string& text) {
  std::vector<uint8_t> bytes;
  wire::AppendString(&bytes, text);
  return Write(bytes);
}

std::optional<std::vector<uint8_t>> ServerProcess::Read(size_t n, int timeoutMs) {
  std::vector<uint8_t> bytes(n);
  size_t have = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (have < n) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left < 0 || !Readable(reply_fd_, static_cast<int>(left))) return std::nullopt;
    ssize_t got = read(reply_fd_, bytes.data() + have, n - have);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    have += static_cast<size_t>(got);
  }
  return bytes;
}

std::optional<uint32_t> ServerProcess::ReadDword(int timeoutMs) {
  auto bytes = Read(wire::kNumberBytes, timeoutMs);
  if (!bytes) return std::nullopt;
  return wire::DecodeNumber(bytes->data());
}

int ServerProcess::ReplyPipeCapacity() const { return fcntl(reply_fd_, F_GETPIPE_SZ); }

bool ServerProcess::ReplyWaiting(int timeoutMs) {
  // Readable is also true at the end of the pipe; only bytes count.
  int waiting = 0;
  return Readable(reply_fd_, timeoutMs) && ioctl(reply_fd_, FIONREAD, &waiting) == 0 && waiting > 0;
}

uint64_t ServerProcess::WaitEvent(int timeoutMs) {
  if (!Readable(event_fd_, timeoutMs)) return 0;
  uint64_t count = 0;
  if (read(event_fd_, &count, sizeof count) != sizeof count) return 0;
  return count;
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

void ServerProcess::CloseCommandPipe() { CloseFd(command_fd_); }
void ServerProcess::CloseReplyPipe() { CloseFd(reply_fd_); }

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
