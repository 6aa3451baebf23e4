#include "platform/kernel/linux_platform.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <exception>
#include <thread>

#include "platform/dx/directx_standins.h"
#include "platform/dx/module_loader.h"
#include "platform/gdi/bitmap.h"
#include "platform/kernel/signal_stack.h"
#include "platform/sandbox/file_lock.h"

namespace {

std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> crash_filter{nullptr};

[[noreturn]] void RunCrashFilter() {
  if (LPTOP_LEVEL_EXCEPTION_FILTER filter = crash_filter.load()) filter(nullptr);
  _exit(0);
}

void OnCrashSignal(int) { RunCrashFilter(); }

// A descriptor the parent made non-blocking answers EAGAIN where a blocking
// one would wait; this is that wait. False when the descriptor cannot be
// waited on, so the caller fails instead of spinning.
bool WaitUntilReady(HANDLE file, short events) {
  pollfd p{DescriptorOf(file), events, 0};
  int ready;
  do {
    ready = poll(&p, 1, -1);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && !(p.revents & POLLNVAL);
}

}  // namespace

LinuxPlatform::LinuxPlatform() {
  signal(SIGPIPE, SIG_IGN);
  RegisterDirectMusicClass();
}

BOOL LinuxPlatform::ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read) {
  *read = 0;
  ssize_t n;
  for (;;) {
    n = ::read(DescriptorOf(file), buffer, toRead);
    if (n >= 0 || (errno != EINTR && !(errno == EAGAIN && WaitUntilReady(file, POLLIN)))) break;
  }
  if (n < 0) return FALSE;
  *read = static_cast<DWORD>(n);
  return TRUE;
}

BOOL LinuxPlatform::WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written) {
  const char* bytes = static_cast<const char*>(buffer);
  DWORD done = 0;
  while (done < toWrite) {
    ssize_t n = ::write(DescriptorOf(file), bytes + done, toWrite - done);
    if (n < 0 && (errno == EINTR || (errno == EAGAIN && WaitUntilReady(file, POLLOUT)))) continue;
    if (n <= 0) break;
    done += static_cast<DWORD>(n);
  }
  if (written) *written = done;
  return done == toWrite ? TRUE : FALSE;
}

BOOL LinuxPlatform::PeekNamedPipe(HANDLE pipe, void*, DWORD bufferSize, DWORD* read, DWORD* totalAvailable) {
  if (read) *read = 0;
  if (totalAvailable) *totalAvailable = 0;
  pollfd p{DescriptorOf(pipe), POLLIN, 0};
  int ready;
  do {
    ready = poll(&p, 1, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0 || (p.revents & POLLNVAL)) return FALSE;
  int waiting = 0;
  if (ioctl(p.fd, FIONREAD, &waiting) < 0) return FALSE;
  // Bytes written before the writer left are still to be taken.
  if (waiting <= 0) return (p.revents & (POLLHUP | POLLERR)) ? FALSE : TRUE;
  DWORD available = static_cast<DWORD>(waiting);
  if (read) *read = available < bufferSize ? available : bufferSize;
  if (totalAvailable) *totalAvailable = available;
  return TRUE;
}

void LinuxPlatform::WaitForPipeInput(HANDLE pipe, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  pollfd p{DescriptorOf(pipe), POLLIN, 0};
  for (;;) {
    const DWORD passed = GetTickCount() - start;
    if (passed >= milliseconds) return;
    if (poll(&p, 1, static_cast<int>(milliseconds - passed)) >= 0 || errno != EINTR) return;
  }
}

BOOL LinuxPlatform::SetEvent(HANDLE event) {
  const uint64_t one = 1;
  DWORD written = 0;
  return WriteFile(event, &one, sizeof one, &written);
}

void WidenPipe(HANDLE pipe) { ::fcntl(DescriptorOf(pipe), F_SETPIPE_SZ, 1 << 20); }

BOOL LinuxPlatform::CloseHandle(HANDLE handle) { return ::close(DescriptorOf(handle)) == 0 ? TRUE : FALSE; }

DWORD LinuxPlatform::GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms);
}

void LinuxPlatform::Sleep(DWORD milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) < 0 && errno == EINTR) {
  }
}

bool LinuxPlatform::StartThread(void (*body)(void* argument), void* argument) {
  try {
    std::thread(body, argument).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void LinuxPlatform::SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
  crash_filter.store(filter);
  GiveThisThreadASignalStack();
  struct sigaction action{};
  action.sa_handler = OnCrashSignal;
  action.sa_flags = SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS})
    sigaction(signal_number, &action, nullptr);
  std::set_terminate(RunCrashFilter);
}

void LinuxPlatform::TerminateProcess(UINT exitCode) { _exit(static_cast<int>(exitCode)); }
void LinuxPlatform::ExitProcess(UINT exitCode) { _exit(static_cast<int>(exitCode)); }

HRESULT LinuxPlatform::CoInitialize(void* reserved) { return ::CoInitialize(reserved); }
void LinuxPlatform::CoUninitialize() { ::CoUninitialize(); }

HBITMAP LinuxPlatform::CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  return ::CreateBitmap(width, height, planes, bitsPerPixel, bits);
}
int LinuxPlatform::GetObjectA(HGDIOBJ object, int size, void* out) { return ::GetObjectA(object, size, out); }
BOOL LinuxPlatform::DeleteObject(HGDIOBJ object) { return ::DeleteObject(object); }

HMODULE LinuxPlatform::LoadLibraryA(LPCSTR name) { return LoadModule(name); }
FARPROC LinuxPlatform::GetProcAddress(HMODULE module, LPCSTR name) { return ModuleEntry(module, name); }
BOOL LinuxPlatform::FreeLibrary(HMODULE module) { return FreeModule(module); }

LockResult LinuxPlatform::LockFileAccess() {
  if (beforeLock) beforeLock();
  return LockFiles(landlockAllowed);
}
