// A test-only program: installs the sandbox, then makes the call named on its
// command line. Exit codes: 0 from the crash filter when the sandbox refused
// the call (SIGSYS from seccomp), kCallReturned when the call came back
// (allowed, or refused with an error instead of ending the process),
// kAllowedWorked when the "allowed" battery all worked, others for set-up
// faults. Nothing is printed.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sandbox/sandbox.h"
#include "tests/platform/sandbox/sandbox_probe_codes.h"

namespace {

// The server's crash filter ends the process with 0 on SIGSYS; this one does
// the same, but only for a seccomp refusal, so a test cannot mistake another
// fault for the sandbox at work.
constexpr int kSeccompCode = 1;  // si_code SYS_SECCOMP of the kernel's siginfo
void OnSigsys(int, siginfo_t* info, void*) { _exit(info->si_code == kSeccompCode ? 0 : kOtherSignal); }

bool InstallCrashFilter() {
  static char stack[64 * 1024];
  stack_t alternate{};
  alternate.ss_sp = stack;
  alternate.ss_size = sizeof stack;
  if (sigaltstack(&alternate, nullptr) != 0) return false;
  struct sigaction action {};
  action.sa_sigaction = OnSigsys;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGSYS, &action, nullptr) == 0;
}

bool WriteAll(int fd, const void* data, size_t size) {
  return write(fd, data, size) == static_cast<ssize_t>(size);
}

// What a thumbnail needs, after the sandbox is in: read a file, use the
// pipes and the event, start and join threads that contend for a lock,
// allocate and map memory, read the clock and sleep, sort (glibc's qsort asks
// for the memory size).
bool AllowedBattery(const char* file, int pipeRead, int pipeWrite, int event) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) return false;
  struct stat st;
  if (stat(file, &st) != 0 || static_cast<size_t>(st.st_size) != bytes.size()) return false;

  const char message[] = "row";
  if (!WriteAll(pipeWrite, message, sizeof message)) return false;
  pollfd p{pipeRead, POLLIN, 0};
  int waiting = 0;
  if (poll(&p, 1, 0) != 1 || ioctl(pipeRead, FIONREAD, &waiting) != 0 || waiting != sizeof message) return false;
  char back[sizeof message];
  if (read(pipeRead, back, sizeof back) != sizeof back || std::memcmp(back, message, sizeof back) != 0) return false;

  const uint64_t one = 1;
  if (!WriteAll(event, &one, sizeof one)) return false;

  std::mutex lock;
  long total = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        std::lock_guard<std::mutex> hold(lock);
        ++total;
      }
    });
  for (auto& t : threads) t.join();
  if (total != 40000) return false;

  constexpr size_t kMapped = size_t{64} << 20;
  void* mapped = mmap(nullptr, kMapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return false;
  std::memset(mapped, 1, kMapped);
  if (munmap(mapped, kMapped) != 0) return false;
  std::vector<int> numbers(1 << 20);
  for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = static_cast<int>((i * 7919) % numbers.size());
  qsort(numbers.data(), numbers.size(), sizeof(int),
        [](const void* a, const void* b) { return *static_cast<const int*>(a) - *static_cast<const int*>(b); });
  if (numbers.front() != 0 || numbers.back() != static_cast<int>(numbers.size()) - 1) return false;

  auto before = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return std::chrono::steady_clock::now() - before >= std::chrono::milliseconds(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return kUsage;
  const std::string call = argv[1];
  const char* path = argc > 2 ? argv[2] : "";
  const char* other = argc > 3 ? argv[3] : "";

  // What must exist before confinement: the pipes and the event come from
  // the parent in the server; the socket lets "connect" be tried alone.
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return kSetUp;
  int event = eventfd(0, 0);
  int tcp = socket(AF_INET, SOCK_STREAM, 0);
  if (event < 0 || tcp < 0 || !InstallCrashFilter()) return kSetUp;

  // A thread that runs before the sandbox goes in, as the watchdog does.
  std::atomic<bool> go{false};
  std::thread early;
  if (call == "socket-in-early-thread")
    early = std::thread([&] {
      while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      socket(AF_INET, SOCK_STREAM, 0);
      _exit(kCallReturned);
    });

  if (!InstallSandbox()) return kSetUp;

  const std::map<std::string, std::function<void()>> calls = {
      {"socket", [] { socket(AF_INET, SOCK_STREAM, 0); }},
      {"socketpair", [] { int s[2]; socketpair(AF_UNIX, SOCK_STREAM, 0, s); }},
      {"connect",
       [&] {
         sockaddr_in to{};
         to.sin_family = AF_INET;
         to.sin_port = htons(static_cast<uint16_t>(std::atoi(path)));
         to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
         connect(tcp, reinterpret_cast<sockaddr*>(&to), sizeof to);
       }},
      {"execve", [] { char* const args[] = {const_cast<char*>("/bin/false"), nullptr}; execve("/bin/false", args, environ); }},
      {"fork", [] { fork(); }},
      {"vfork", [] { syscall(SYS_vfork); }},
      {"ptrace", [] { ptrace(PTRACE_TRACEME, 0, nullptr, nullptr); }},
      {"open-write", [&] { open(path, O_WRONLY); }},
      {"open-read-write", [&] { open(path, O_RDWR); }},
      {"open-truncate", [&] { open(path, O_RDONLY | O_TRUNC); }},
      {"open-create", [&] { open(path, O_RDONLY | O_CREAT, 0600); }},
      {"creat", [&] { creat(path, 0600); }},
      {"rename", [&] { rename(path, other); }},
      {"unlink", [&] { unlink(path); }},
      {"mkdir", [&] { mkdir(path, 0700); }},
      {"truncate", [&] { truncate(path, 0); }},
      {"kill-parent", [] { kill(getppid(), 0); }},
      {"raise-limit", [] { rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY}; setrlimit(RLIMIT_AS, &unlimited); }},
      {"socket-in-early-thread",
       [&] {
         go = true;
         early.join();
       }},
      {"socket-in-new-thread", [] { std::thread([] { socket(AF_INET, SOCK_STREAM, 0); }).join(); }},
  };

  if (call == "allowed") return AllowedBattery(path, pipeEnds[0], pipeEnds[1], event) ? kAllowedWorked : kAllowedFailed;
  auto found = calls.find(call);
  if (found == calls.end()) return kUsage;
  found->second();
  return kCallReturned;
}
