// A Platform for unit tests: an in-process command pipe fed in chunks (one
// chunk per parent write, so a read never spans two), a recorded reply pipe
// and event, a clock that moves only when told or slept on, and recorded
// process ends. Calls the server should not make fail the test.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/kernel/platform.h"

constexpr DWORD kReadPipe = 12;
constexpr DWORD kWritePipe = 34;
constexpr DWORD kReplyEvent = 56;
inline constexpr const char* kGoodTail = "-com 12 34 56";

class FakePlatform : public Platform {
 public:
  // The parent's side of the command pipe.
  void Send(const std::vector<BYTE>& bytes) { chunks.push_back(bytes); }
  void SendDword(DWORD value);
  void SendString(const std::string& text);  // with its NUL
  // Bytes still waiting in the command pipe.
  size_t Waiting() const;

  // The reply pipe as a sequence of 32-bit values; fails the test unless it
  // holds a whole number of them.
  std::vector<DWORD> ReplyDwords() const;

  std::deque<std::vector<BYTE>> chunks;
  bool command_pipe_closed = false;  // the parent's end is gone
  bool peek_fails = false;
  bool read_fails = false;
  bool write_fails = false;
  bool pipes_forbidden = false;  // any pipe call fails the test

  std::vector<BYTE> replies;
  std::vector<DWORD> write_sizes;      // one entry per WriteFile
  std::vector<size_t> events_at;       // reply bytes written when the event was set
  std::vector<DWORD> closed_handles;

  DWORD now = 5000;
  DWORD slept_ms = 0;
  DWORD waited_ms = 0;  // spent in WaitForPipeInput

  int threads_started = 0;
  void (*thread_body)(void*) = nullptr;
  void* thread_argument = nullptr;
  LPTOP_LEVEL_EXCEPTION_FILTER filter = nullptr;
  std::vector<UINT> process_ends;  // exit codes of TerminateProcess and ExitProcess

  HRESULT co_initialize_hr = S_OK;
  int co_initialized = 0;  // CoInitialize calls minus CoUninitialize calls

  bool create_bitmap_fails = false;
  LONG bitmap_width_bytes = 4;
  int bitmaps_alive = 0;

  BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read) override;
  BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written) override;
  BOOL PeekNamedPipe(HANDLE pipe, void* buffer, DWORD bufferSize, DWORD* read, DWORD* totalAvailable) override;
  // Nothing arrives while the server waits: an empty open pipe takes the
  // whole time, anything else returns at once.
  void WaitForPipeInput(HANDLE pipe, DWORD milliseconds) override;
  BOOL SetEvent(HANDLE event) override;
  BOOL CloseHandle(HANDLE handle) override;
  DWORD GetTickCount() override { return now; }
  void Sleep(DWORD milliseconds) override;
  bool StartThread(void (*body)(void*), void* argument) override;
  void SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER f) override { filter = f; }
  void TerminateProcess(UINT exitCode) override { process_ends.push_back(exitCode); }
  void ExitProcess(UINT exitCode) override { process_ends.push_back(exitCode); }
  HRESULT CoInitialize(void* reserved) override;
  void CoUninitialize() override { --co_initialized; }
  HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) override;
  int GetObjectA(HGDIOBJ object, int size, void* out) override;
  BOOL DeleteObject(HGDIOBJ object) override;
  HMODULE LoadLibraryA(LPCSTR name) override;
  FARPROC GetProcAddress(HMODULE module, LPCSTR name) override;
  BOOL FreeLibrary(HMODULE module) override;

  // Hand-overs: each answers `hand_over` and records the socket and budget
  // it was asked with; a held file counts as one until dropped.
  HandOver hand_over = HandOver::kHeld;
  std::vector<DWORD> hand_over_sockets;
  std::vector<ULONGLONG> hand_over_budgets;
  int files_held = 0;
  ReadTally tally;
  LockResult lock = {true, 3};
  int locks = 0;
  HandOver ReceiveFile(HANDLE socket, ULONGLONG readBudget) override;
  void DropHandedFile() override { files_held = 0; }
  ReadTally LastReadTally() override { return tally; }
  LockResult LockFileAccess() override {
    ++locks;
    return lock;
  }

 private:
  int bitmap_ = 0;  // its address is the probe bitmap's handle
};

// Value of a handle that the fake hands to the server.
inline DWORD ValueOf(HANDLE handle) { return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(handle)); }
