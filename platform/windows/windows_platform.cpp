#include "platform/windows/windows_platform.h"

#include <atomic>
#include <exception>

namespace {

std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> crash_filter{nullptr};

[[noreturn]] void RunCrashFilter() {
  if (LPTOP_LEVEL_EXCEPTION_FILTER filter = crash_filter.load()) filter(nullptr);
  ::TerminateProcess(::GetCurrentProcess(), 0);
  for (;;) {
  }
}

struct ThreadStart {
  void (*body)(void*);
  void* argument;
};

DWORD WINAPI RunThread(void* start) {
  ThreadStart s = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  s.body(s.argument);
  return 0;
}

}  // namespace

BOOL WindowsPlatform::ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read) {
  *read = 0;
  return ::ReadFile(file, buffer, toRead, read, nullptr);
}

BOOL WindowsPlatform::WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written) {
  const char* bytes = static_cast<const char*>(buffer);
  DWORD done = 0;
  while (done < toWrite) {
    DWORD n = 0;
    if (!::WriteFile(file, bytes + done, toWrite - done, &n, nullptr) || n == 0) break;
    done += n;
  }
  if (written) *written = done;
  return done == toWrite ? TRUE : FALSE;
}

BOOL WindowsPlatform::PeekNamedPipe(HANDLE pipe, void* buffer, DWORD bufferSize, DWORD* read, DWORD* totalAvailable) {
  return ::PeekNamedPipe(pipe, buffer, bufferSize, read, totalAvailable, nullptr);
}

// An anonymous pipe cannot be waited on, so it is peeked at a short pace.
void WindowsPlatform::WaitForPipeInput(HANDLE pipe, DWORD milliseconds) {
  constexpr DWORD kPaceMs = 2;
  const DWORD start = ::GetTickCount();
  DWORD available = 0;
  while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available == 0 &&
         ::GetTickCount() - start < milliseconds)
    ::Sleep(kPaceMs);
}

BOOL WindowsPlatform::SetEvent(HANDLE event) { return ::SetEvent(event); }
BOOL WindowsPlatform::CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

DWORD WindowsPlatform::GetTickCount() { return ::GetTickCount(); }
void WindowsPlatform::Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

bool WindowsPlatform::StartThread(void (*body)(void* argument), void* argument) {
  auto* start = new (std::nothrow) ThreadStart{body, argument};
  if (!start) return false;
  HANDLE thread = ::CreateThread(nullptr, 0, RunThread, start, 0, nullptr);
  if (!thread) {
    delete start;
    return false;
  }
  ::CloseHandle(thread);
  return true;
}

void WindowsPlatform::SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
  crash_filter.store(filter);
  ::SetUnhandledExceptionFilter(filter);
  std::set_terminate(RunCrashFilter);
}

void WindowsPlatform::TerminateProcess(UINT exitCode) { ::TerminateProcess(::GetCurrentProcess(), exitCode); }
void WindowsPlatform::ExitProcess(UINT exitCode) { ::TerminateProcess(::GetCurrentProcess(), exitCode); }

HRESULT WindowsPlatform::CoInitialize(void* reserved) { return ::CoInitialize(reserved); }
void WindowsPlatform::CoUninitialize() { ::CoUninitialize(); }

HBITMAP WindowsPlatform::CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  return ::CreateBitmap(width, height, planes, bitsPerPixel, bits);
}
int WindowsPlatform::GetObjectA(HGDIOBJ object, int size, void* out) { return ::GetObjectA(object, size, out); }
BOOL WindowsPlatform::DeleteObject(HGDIOBJ object) { return ::DeleteObject(object); }

HMODULE WindowsPlatform::LoadLibraryA(LPCSTR name) { return ::LoadLibraryA(name); }
FARPROC WindowsPlatform::GetProcAddress(HMODULE module, LPCSTR name) { return ::GetProcAddress(module, name); }
BOOL WindowsPlatform::FreeLibrary(HMODULE module) { return ::FreeLibrary(module); }
