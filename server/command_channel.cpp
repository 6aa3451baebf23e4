// The command pipe: the poll for a command byte, its dispatch, and the wire
// primitives every command reads and writes its values with.
#include "platform/trace.h"
#include "server/thumbnail_server.h"

namespace {

constexpr DWORD kIdlePollMs = 50;

}  // namespace

void TThumbnailServer::PollCommand() {
  if (InitFailed) {
    Quit = true;
    return;
  }
  DebugTrace(InThumbnail ? "in thumbnail\n" : "not in thumbnail\n");
  if (IdleLimitPassed(platform_.GetTickCount(), LastActivityTick.load())) {
    Quit = true;
    return;
  }
  BYTE command = 0;
  DWORD copied = 0;
  DWORD waiting = 0;
  if (!platform_.PeekNamedPipe(HandleFromValue(ReadPipe), &command, 1, &copied, &waiting)) {
    // The parent has gone. Ending is left to the idle limit.
    DebugTrace("PeekNamedPipeFailed\n");
    if (IdleLimitPassed(platform_.GetTickCount(), LastActivityTick.load())) Quit = true;
    platform_.Sleep(kIdlePollMs);
    return;
  }
  if (copied == 0) {
    // A command that arrives during the wait is taken on the next pass at
    // once, not at the end of a fixed sleep.
    platform_.WaitForPipeInput(HandleFromValue(ReadPipe), kIdlePollMs);
    return;
  }
  DWORD read = 0;
  if (!platform_.ReadFile(HandleFromValue(ReadPipe), &command, 1, &read) || read != 1) {
    platform_.Sleep(kIdlePollMs);
    return;
  }
  LastActivityTick.store(platform_.GetTickCount());
  DebugTrace("Got command\n");
  switch (command) {
    case wire::kQuit:
      Quit = true;
      break;
    case wire::kThumbnailFile:
      ThumbnailFile();
      break;
    case wire::kGetLines:
      GetLines();
      break;
    case wire::kEndThumbnail:
      EndThumbnail();
      break;
    case wire::kGetStatus:
      GetStatus();
      break;
    case wire::kGetDirectXLevel:
      ReportDirectXLevel();
      break;
    case wire::kThumbnailFileAt:
      ThumbnailFileAt();
      break;
    case wire::kGetFailure:
      ReportFailure();
      break;
    case wire::kGetFrameOrigin:
      ReportFrameOrigin();
      break;
    default:
      break;
  }
}

bool TThumbnailServer::ReadString(char* buffer, int limit) {
  int count = 0;
  while (count < limit) {
    DWORD read = 0;
    // On Linux a read that gives nothing means the parent has gone for
    // good: waiting for more would only spin until the watchdog strikes.
    if (!platform_.ReadFile(HandleFromValue(ReadPipe), buffer + count, 1, &read) || read != 1) {
      buffer[count] = '\0';
      command_pipe_ended_ = true;
      Quit = true;
      return false;
    }
    if (buffer[count++] == '\0') return true;
  }
  buffer[count] = '\0';
  return true;
}

DWORD TThumbnailServer::ReadDword() {
  if (ReadPipe == 0) return 0;
  BYTE bytes[wire::kNumberBytes];
  DWORD have = 0;
  // A pipe may hand out a value in pieces; a short read taken as the whole
  // value would put both sides out of step.
  while (have < sizeof bytes) {
    DWORD read = 0;
    if (!platform_.ReadFile(HandleFromValue(ReadPipe), bytes + have, sizeof bytes - have, &read) || read == 0) {
      command_pipe_ended_ = true;
      Quit = true;
      return 0;
    }
    have += read;
  }
  return wire::DecodeNumber(bytes);
}

BOOL TThumbnailServer::WriteDword(DWORD value) {
  if (WritePipe == 0) return 0;
  DebugTrace("writing dword %u\n", value);
  BYTE bytes[wire::kNumberBytes];
  wire::EncodeNumber(value, bytes);
  DWORD written = 0;
  return platform_.WriteFile(HandleFromValue(WritePipe), bytes, sizeof bytes, &written);
}

void TThumbnailServer::SignalReply() { platform_.SetEvent(HandleFromValue(ReplyEvent)); }
