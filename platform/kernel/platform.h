// The operating-system services the server reaches, behind one interface
// that the server receives: the pipes and the event, the clock, sleep, thread
// start, the crash filter, process end, COM start, the bitmaps of the
// row-alignment probe and the module loader of the DirectX probe. The Linux
// implementation is LinuxPlatform; tests pass fakes that override what they
// want to break.
#pragma once

#include "platform/com/com_runtime.h"
#include "platform/kernel/handed_file.h"
#include "platform/win/types.h"

class Platform {
 public:
  virtual ~Platform() = default;

  // Pipes and the event. Handles are the values the parent passed.
  // ReadFile: blocking; *read is the number of bytes read (0 at end of pipe).
  virtual BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read) = 0;
  // WriteFile: blocking; all bytes or failure.
  virtual BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written) = 0;
  // Copies at most bufferSize waiting bytes without taking them. FALSE when
  // the pipe is broken (the writer is gone) or the handle is bad.
  virtual BOOL PeekNamedPipe(HANDLE pipe, void* buffer, DWORD bufferSize, DWORD* read, DWORD* totalAvailable) = 0;
  // Returns once bytes wait on the pipe, its writer has gone, or the time has
  // passed, whichever comes first; the bytes are left where they are.
  virtual void WaitForPipeInput(HANDLE pipe, DWORD milliseconds) = 0;
  virtual BOOL SetEvent(HANDLE event) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;

  // Milliseconds, 32 bits, wrapping.
  virtual DWORD GetTickCount() = 0;
  virtual void Sleep(DWORD milliseconds) = 0;

  // Starts a detached thread with the default stack size.
  virtual bool StartThread(void (*body)(void* argument), void* argument) = 0;

  // Installs the process's crash filter: called for any unhandled crash, on
  // any thread.
  virtual void SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) = 0;
  // Both end the process with the exit code at once; no destructor runs.
  virtual void TerminateProcess(UINT exitCode) = 0;
  virtual void ExitProcess(UINT exitCode) = 0;

  // COM for the calling thread.
  virtual HRESULT CoInitialize(void* reserved) = 0;
  virtual void CoUninitialize() = 0;

  // Bitmaps for the row-alignment probe.
  virtual HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) = 0;
  virtual int GetObjectA(HGDIOBJ object, int size, void* out) = 0;
  virtual BOOL DeleteObject(HGDIOBJ object) = 0;

  // The module loader of the DirectX probe.
  virtual HMODULE LoadLibraryA(LPCSTR name) = 0;
  virtual FARPROC GetProcAddress(HMODULE module, LPCSTR name) = 0;
  virtual BOOL FreeLibrary(HMODULE module) = 0;

  // Files handed over instead of named, where the system can pass a
  // descriptor. The defaults are those of a platform that cannot: nothing
  // comes, nothing is counted, nothing locks.
  //
  // Takes the one message waiting on `socket` without waiting for one, and
  // holds the descriptor it carries as the next request's file, with its
  // read budget (0: none). Whatever else the message carries is closed.
  virtual HandOver ReceiveFile(HANDLE socket, ULONGLONG readBudget) {
    (void)socket;
    (void)readBudget;
    return HandOver::kNothing;
  }
  // Closes a held file that no request took.
  virtual void DropHandedFile() {}
  // What the last request read of its file.
  virtual ReadTally LastReadTally() { return {}; }
  // From now on, for good, the process opens no file, runs no program and
  // makes no socket; whatever it reads comes through descriptors it holds.
  virtual LockResult LockFileAccess() { return {}; }
};

// A handle value from the command line as a handle, and back.
inline HANDLE HandleFromValue(DWORD value) { return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value)); }
