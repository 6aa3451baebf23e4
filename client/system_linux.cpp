// The client's system calls on Linux with glibc.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>

#include "client/system.h"

extern char** environ;

namespace thumbnail {
namespace {

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

}  // namespace

std::string ErrorText(int error) {
  const char* text = strerrordesc_np(error);
  return text ? text : "unknown error";
}

std::string SignalName(int signal_number) {
  const char* name = sigabbrev_np(signal_number);
  return std::string("SIG") + (name ? name : "?");
}

std::string OwnExecutablePath() {
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  return n > 0 ? std::string(self, static_cast<size_t>(n)) : "";
}

std::string PathOfOpenDescriptor(int fd) { return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(fd); }

mode_t NewFileMode() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "Umask:") == 0) return 0666 & ~static_cast<mode_t>(strtoul(line.c_str() + 6, nullptr, 8));
  return 0644;
}

ssize_t WriteWithoutSigpipe(int fd, const void* bytes, size_t size) {
  ssize_t n;
  int error;
  {
    SigpipeBlock block;
    n = ::write(fd, bytes, size);
    error = errno;
    if (n < 0 && error == EPIPE) block.NoteBrokenPipe();
  }
  // Unblocking may have set errno; the caller wants the write's.
  errno = error;
  return n;
}

int MakePipe(int ends[2]) { return ::pipe2(ends, O_CLOEXEC) == 0 ? 0 : errno; }

// One eventfd serves as both ends: the server writes the 8-byte value 1 to
// it, the parent reads the sum.
int MakeReplyEvent(int ends[2]) {
  ends[0] = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (ends[0] < 0) return errno;
  ends[1] = ::fcntl(ends[0], F_DUPFD_CLOEXEC, 0);
  if (ends[1] >= 0) return 0;
  const int error = errno;
  ::close(ends[0]);
  ends[0] = -1;
  return error;
}

bool TakeReplyEvent(int parent_end) {
  uint64_t count = 0;
  return ::read(parent_end, &count, sizeof count) == sizeof count;
}

int SpawnWithDescriptors(const std::string& path, const std::vector<std::string>& arguments,
                         const std::vector<std::pair<int, int>>& inherited, pid_t* pid) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // dup2 clears close-on-exec on the copy: these, and the standard
  // descriptors on /dev/null, are all the child keeps.
  int highest = 2;
  bool standard_given[3] = {false, false, false};
  for (const auto& [mine, childs] : inherited) {
    posix_spawn_file_actions_adddup2(&actions, mine, childs);
    if (childs > highest) highest = childs;
    if (childs <= 2) standard_given[childs] = true;
  }
  for (int fd = 0; fd <= 2; ++fd)
    if (!standard_given[fd])
      posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, highest + 1);

  // Whatever this thread has set up (a write may hold SIGPIPE blocked, for
  // one), the child starts clean.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> texts{path};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  const int error = ::posix_spawn(pid, path.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return error;
}

std::vector<int> AllowedProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return {};
  std::vector<int> processors;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
    if (CPU_ISSET(cpu, &set)) processors.push_back(cpu);
  return processors;
}

int KeepThreadTo(const std::vector<int>& processors) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu : processors)
    if (cpu >= 0 && cpu < CPU_SETSIZE) CPU_SET(cpu, &set);
  // 0 names the calling thread, not the whole process.
  return ::sched_setaffinity(0, sizeof set, &set) == 0 ? 0 : errno;
}

}  // namespace thumbnail
