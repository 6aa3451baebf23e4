// The Platform on Windows: every operation is the system call of the same
// name. Handle values are the parent's inherited handles.
#pragma once

#include "platform/kernel/platform.h"

class WindowsPlatform final : public Platform {
 public:
  BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read) override;
  // Loops until every byte is out; FALSE on the first failed write, with
  // *written the bytes that did go out.
  BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written) override;
  BOOL PeekNamedPipe(HANDLE pipe, void* buffer, DWORD bufferSize, DWORD* read, DWORD* totalAvailable) override;
  void WaitForPipeInput(HANDLE pipe, DWORD milliseconds) override;
  BOOL SetEvent(HANDLE event) override;
  BOOL CloseHandle(HANDLE handle) override;

  DWORD GetTickCount() override;
  void Sleep(DWORD milliseconds) override;
  // CreateThread with the default stack size; the thread's handle is closed
  // at once, as nobody waits for it.
  bool StartThread(void (*body)(void* argument), void* argument) override;

  // Also routes std::terminate (an exception that left a thread) to the
  // filter, which would otherwise abort with a message on stderr.
  void SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) override;
  // Both are TerminateProcess on the current process: after a crash the
  // loader lock may be held, and ExitProcess's DLL detach could hang on it.
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
};
