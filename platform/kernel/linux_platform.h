// The Platform on Linux. Handle values are file descriptors inherited from
// the parent; the event is an eventfd (or any descriptor that takes an
// 8-byte write); the tick count is CLOCK_MONOTONIC; the module loader finds
// the DirectX stand-ins by their Windows names.
#pragma once

#include "platform/kernel/platform.h"

class LinuxPlatform final : public Platform {
 public:
  // Ignores SIGPIPE for the whole process, so that a write to a pipe whose
  // reader is gone fails with EPIPE instead of ending the process, and
  // registers the DirectMusic stand-in class.
  LinuxPlatform();

  // Retried on EINTR; on a non-blocking descriptor waits for bytes as a
  // blocking one would. *read is 0 at the end of the pipe.
  BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read) override;
  // Loops until every byte is out, waiting for room on a non-blocking
  // descriptor; FALSE on the first error, with *written the bytes that did
  // go out.
  BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written) override;
  // poll with no wait and FIONREAD. A Linux pipe cannot hand out its bytes
  // without taking them, so only the counts are reported: *read is the number
  // of bytes that could be copied (at most bufferSize) and the buffer is left
  // as it is. FALSE when nothing waits and the writer is gone, or the
  // descriptor is bad.
  BOOL PeekNamedPipe(HANDLE pipe, void* buffer, DWORD bufferSize, DWORD* read, DWORD* totalAvailable) override;
  // poll for input, restarted with the time left after a signal.
  void WaitForPipeInput(HANDLE pipe, DWORD milliseconds) override;
  // Writes the 8-byte value 1.
  BOOL SetEvent(HANDLE event) override;
  BOOL CloseHandle(HANDLE handle) override;

  // CLOCK_MONOTONIC in milliseconds, cut to 32 bits.
  DWORD GetTickCount() override;
  void Sleep(DWORD milliseconds) override;
  // A detached std::thread; false when the thread cannot be made.
  bool StartThread(void (*body)(void* argument), void* argument) override;

  // The filter is called, with no exception record, on SIGSEGV, SIGBUS,
  // SIGILL, SIGFPE, SIGABRT and SIGSYS (on an alternate signal stack of the
  // thread's own, so a stack overflow on any thread started from now on, and
  // on the calling one, reaches it too) and from std::terminate. Should it
  // return, the process ends with code 0.
  void SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) override;
  // _exit: no destructor, no atexit handler, no buffered output.
  void TerminateProcess(UINT exitCode) override;
  void ExitProcess(UINT exitCode) override;

  HRESULT CoInitialize(void* reserved) override;
  void CoUninitialize() override;

  HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) override;
  int GetObjectA(HGDIOBJ object, int size, void* out) override;
  BOOL DeleteObject(HGDIOBJ object) override;

  HMODULE LoadLibraryA(LPCSTR name) override;
  FARPROC GetProcAddress(HMODULE module, LPCSTR name) override;
  BOOL FreeLibrary(HMODULE module) override;

  // recvmsg on the socket (a SOCK_SEQPACKET or datagram socket, one message
  // a hand-over) without waiting; descriptors arrive close-on-exec. In
  // file_receipt.cpp.
  HandOver ReceiveFile(HANDLE socket, ULONGLONG readBudget) override;
  void DropHandedFile() override;
  ReadTally LastReadTally() override;
  // The seccomp rule, then a Landlock domain with no file-system rights
  // unless landlockAllowed is false.
  LockResult LockFileAccess() override;

  // Tests turn Landlock off to see the seccomp rule stand alone, as on a
  // kernel without it.
  bool landlockAllowed = true;
  // Runs just before the lock: whatever the libraries would open later is
  // opened now. None by default.
  void (*beforeLock)() = nullptr;
};

// A handle as the file descriptor it stands for.
inline int DescriptorOf(HANDLE handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }

// Lets the pipe hold a mebibyte (the most an unprivileged process may ask
// for) instead of 64 KiB, so that a frame's rows cross it in a few hundred
// wake-ups of its reader rather than thousands. Best effort: where it is
// refused (not a pipe, or the user's pipe memory spent) the pipe works as it
// was.
void WidenPipe(HANDLE pipe);
