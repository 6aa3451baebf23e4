#include "server/command_channel.h"

#include <algorithm>

#include "platform/trace.h"
#include "protocol/wire.h"

namespace {

// Zero bytes for black rows and the fill of fixed-size rows. A parent may
// name any width, so zeros go out in blocks of this size rather than from a
// buffer as wide as the row; rows of up to 21845 pixels take one write.
constexpr size_t kZeroBlockBytes = 64 * 1024;
const BYTE kZeroBlock[kZeroBlockBytes] = {};

}  // namespace

CommandChannel::Poll CommandChannel::TakeCommand(BYTE* command) {
  DWORD copied = 0;
  DWORD waiting = 0;
  if (!platform_.PeekNamedPipe(HandleFromValue(ReadPipe), command, 1, &copied, &waiting)) {
    DebugTrace("PeekNamedPipeFailed\n");
    return Poll::kPeerGone;
  }
  if (copied == 0) {
    // A command that arrives during the wait is taken on the next pass at
    // once, not at the end of a fixed sleep.
    platform_.WaitForPipeInput(HandleFromValue(ReadPipe), kIdlePollMs);
    return Poll::kNothing;
  }
  DWORD read = 0;
  if (!platform_.ReadFile(HandleFromValue(ReadPipe), command, 1, &read) || read != 1) {
    platform_.Sleep(kIdlePollMs);
    return Poll::kNothing;
  }
  return Poll::kCommand;
}

bool CommandChannel::ReadString(char* buffer, int limit) {
  int count = 0;
  while (count < limit) {
    DWORD read = 0;
    // On Linux a read that gives nothing means the parent has gone for
    // good: waiting for more would only spin until the watchdog strikes.
    if (!platform_.ReadFile(HandleFromValue(ReadPipe), buffer + count, 1, &read) || read != 1) {
      buffer[count] = '\0';
      ended_ = true;
      return false;
    }
    if (buffer[count++] == '\0') return true;
  }
  buffer[count] = '\0';
  return true;
}

DWORD CommandChannel::ReadDword() {
  if (ReadPipe == 0) return 0;
  BYTE bytes[wire::kNumberBytes];
  DWORD have = 0;
  // A pipe may hand out a value in pieces; a short read taken as the whole
  // value would put both sides out of step.
  while (have < sizeof bytes) {
    DWORD read = 0;
    if (!platform_.ReadFile(HandleFromValue(ReadPipe), bytes + have, sizeof bytes - have, &read) || read == 0) {
      ended_ = true;
      return 0;
    }
    have += read;
  }
  return wire::DecodeNumber(bytes);
}

BOOL CommandChannel::WriteDword(DWORD value) {
  if (WritePipe == 0) return 0;
  DebugTrace("writing dword %u\n", value);
  BYTE bytes[wire::kNumberBytes];
  wire::EncodeNumber(value, bytes);
  DWORD written = 0;
  return platform_.WriteFile(HandleFromValue(WritePipe), bytes, sizeof bytes, &written);
}

void CommandChannel::WriteBytes(const void* bytes, size_t count) {
  DWORD written = 0;
  platform_.WriteFile(HandleFromValue(WritePipe), bytes, static_cast<DWORD>(count), &written);
}

void CommandChannel::WriteZeros(size_t count) {
  while (count > 0) {
    const size_t n = std::min(count, kZeroBlockBytes);
    WriteBytes(kZeroBlock, n);
    count -= n;
  }
}

void CommandChannel::SignalReply() { platform_.SetEvent(HandleFromValue(ReplyEvent)); }
