// The parent's side of the protocol on Windows: starts thumbnail-server.exe
// with CreateProcess, handing it inherited ends of two anonymous pipes and an
// auto-reset event: the Windows ends of the parent's channel, so that the
// test speaks the same messages, with the same time limits, as every parent.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/parent_channel.h"

class ServerChild final : public wire::ChannelEnds {
 public:
  // Starts the server next to this test program. started() tells.
  ServerChild();
  // Ends the server if it still runs and closes every handle.
  ~ServerChild() override;
  ServerChild(const ServerChild&) = delete;
  ServerChild& operator=(const ServerChild&) = delete;

  bool started() const { return process_ != nullptr; }

  wire::ParentChannel& channel() { return channel_; }
  // The deadline of a reply asked for now that may take timeoutMs.
  static wire::Clock::time_point In(DWORD timeoutMs) {
    return wire::Clock::now() + std::chrono::milliseconds(timeoutMs);
  }

  wire::ChannelResult Write(const uint8_t* bytes, size_t size, wire::Clock::time_point deadline) override;
  wire::ChannelResult Read(uint8_t* out, size_t size, wire::Clock::time_point deadline) override;
  // The event resets itself as it is taken: one setting at a time.
  wire::ChannelResult TakeEvent(wire::Clock::time_point deadline, bool alone, uint64_t* settings) override;

  // Bytes waiting in the reply pipe right now (0 also when it is broken).
  DWORD Waiting();
  // Waits for the process to end; its exit code, or -1 on a time-out.
  long WaitExit(DWORD timeoutMs);

 private:
  HANDLE process_ = nullptr;
  HANDLE to_server_ = nullptr;
  HANDLE from_server_ = nullptr;
  HANDLE reply_event_ = nullptr;
  wire::ParentChannel channel_{*this};
};

// A Windows path of the fixture folder (THUMBNAIL_FIXTURES) joined with name.
std::string FixturePath(const std::string& name);
// The bytes of a file, empty when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path);
// Peak signal-to-noise ratio of two pictures of the same byte size, in dB
// (99 for identical ones, 0 when the sizes differ).
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
