// The server's end of the parent's three handles: a pipe of one-byte
// commands and their arguments, a pipe of replies, and an event set after
// each reply. Values go as protocol/wire.h encodes them.
#pragma once

#include <cstddef>

#include "platform/kernel/platform.h"

// How long one poll of an empty command pipe waits for input.
constexpr DWORD kIdlePollMs = 50;

class CommandChannel {
 public:
  // The platform outlives the channel. The handle values are set by the
  // server's start-up; 0 is no handle.
  explicit CommandChannel(Platform& platform) : platform_(platform) {}

  enum class Poll {
    kCommand,   // a command byte was taken
    kNothing,   // no byte: waited up to kIdlePollMs for one, or slept that long after a failed read
    kPeerGone,  // the peek failed, so the parent has gone; nothing slept
  };
  // One look at the command pipe; *command holds the byte for kCommand.
  Poll TakeCommand(BYTE* command);

  // Reads a NUL-ended string of at most limit bytes into buffer, which has
  // room for limit + 1; the buffer is NUL-terminated afterwards. Bytes are
  // taken one at a time, so nothing after the NUL leaves the pipe. False when
  // the pipe ended or failed first, which ends the channel.
  bool ReadString(char* buffer, int limit);
  // Reads one 32-bit little-endian value; 0 without a read pipe, or when the
  // pipe ended or failed before all four bytes came (which ends the channel).
  DWORD ReadDword();
  // Writes one 32-bit little-endian value; nonzero when the platform took
  // it, 0 when the write failed or there is no write pipe.
  BOOL WriteDword(DWORD value);
  // Writes bytes as they are, in one write; a failed write is the parent's
  // loss, told by the missing bytes.
  void WriteBytes(const void* bytes, size_t count);
  // Writes count zero bytes, in blocks of bounded size.
  void WriteZeros(size_t count);
  // Sets the reply event.
  void SignalReply();

  // The command pipe ended in the middle of a command's arguments: that
  // command is not acted on and the server ends.
  bool Ended() const { return ended_; }

  // The file a parent hands over on its socket: held for the next request
  // with its read budget, or why not. Any file still held is closed first.
  HandOver ReceiveFile(ULONGLONG readBudget) {
    return platform_.ReceiveFile(HandleFromValue(FileSocket), readBudget);
  }
  // Closes a handed file that its request did not take (it named a path).
  void DropHandedFile() { platform_.DropHandedFile(); }
  // What the last request read of its file.
  ReadTally LastReadTally() { return platform_.LastReadTally(); }
  // Opens nothing more from now on; see Platform::LockFileAccess.
  LockResult LockFileAccess() { return platform_.LockFileAccess(); }

  DWORD ReadPipe = 0;
  DWORD WritePipe = 0;
  DWORD ReplyEvent = 0;
  // The socket files are handed over on, named by "-files N" after the
  // three handles; 0 when the parent gave none.
  DWORD FileSocket = 0;

 private:
  Platform& platform_;
  bool ended_ = false;
};
