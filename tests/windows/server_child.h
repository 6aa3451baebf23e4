// The parent's side of the protocol on Windows: starts thumbnail-server.exe
// with CreateProcess, handing it inherited ends of two anonymous pipes and an
// auto-reset event, and speaks to it with time-outs, so that a silent or
// dead server fails a test instead of hanging it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class ServerChild {
 public:
  // Starts the server next to this test program. started() tells.
  ServerChild();
  // Ends the server if it still runs and closes every handle.
  ~ServerChild();
  ServerChild(const ServerChild&) = delete;
  ServerChild& operator=(const ServerChild&) = delete;

  bool started() const { return process_ != nullptr; }

  bool SendByte(uint8_t byte);
  bool SendDword(uint32_t value);
  // The text and its NUL.
  bool SendString(const std::string& text);

  // Reads exactly count bytes within timeoutMs; false if they do not come.
  bool Read(void* buffer, size_t count, DWORD timeoutMs);
  bool ReadDword(uint32_t* value, DWORD timeoutMs);
  // Bytes waiting in the reply pipe right now (0 also when it is broken).
  DWORD Waiting();
  // Waits for the reply event.
  bool WaitReply(DWORD timeoutMs);
  // Waits for the process to end; its exit code, or -1 on a time-out.
  long WaitExit(DWORD timeoutMs);

 private:
  HANDLE process_ = nullptr;
  HANDLE to_server_ = nullptr;
  HANDLE from_server_ = nullptr;
  HANDLE reply_event_ = nullptr;
};

// A Windows path of the fixture folder (THUMBNAIL_FIXTURES) joined with name.
std::string FixturePath(const std::string& name);
// The bytes of a file, empty when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path);
// Peak signal-to-noise ratio of two pictures of the same byte size, in dB
// (99 for identical ones, 0 when the sizes differ).
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
