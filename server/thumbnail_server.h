// TThumbnailServer: the server's state and its commands. The parent talks to
// it over three inherited handles: a pipe of one-byte commands and their
// arguments, a pipe of replies, and an event set after each reply. The bytes
// on the wire are those of protocol/messages.h.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "grabber/thumbnailer.h"
#include "platform/kernel/platform.h"
#include "protocol/messages.h"
#include "protocol/server_timing.h"

// True when more than the idle limit has passed from last to now, counted as
// an unsigned 32-bit difference so that the wrap of the tick count does no
// harm. Exactly the limit is still in time.
constexpr bool IdleLimitPassed(DWORD now, DWORD last) { return static_cast<DWORD>(now - last) > wire::kIdleLimitMs; }

// The tick count at which the last command byte was taken, or at which
// start-up ended. Written by the main thread, read by the watchdog.
extern std::atomic<DWORD> LastActivityTick;

// One round of the watchdog: sleeps 1000 ms, then ends the process through
// the platform when the idle limit has passed. False once it has ended it.
bool WatchdogStep(Platform& platform);
// The watchdog thread's body; argument is the Platform. Does not return
// (on the real platform the process ends inside it).
void WatchdogThread(void* platform);
// The process's crash filter: ends the process with code 0 through the
// platform that the last constructed server received.
LONG CrashFilter(EXCEPTION_POINTERS* exception);

class TThumbnailServer {
 public:
  // Installs the crash filter, starts the watchdog and runs Init; a failed
  // start-up sets InitFailed. The idle limit counts from the end of this.
  // The platform outlives the server.
  TThumbnailServer(Platform& platform, const char* commandLineTail);
  // Closes the reply event, ends an open request, uninitialises COM. The
  // pipes close with the process.
  ~TThumbnailServer();
  TThumbnailServer(const TThumbnailServer&) = delete;
  TThumbnailServer& operator=(const TThumbnailServer&) = delete;

  // Starts COM, reads the three handle values after "-com" and probes the
  // row alignment of bitmaps. False when COM or any handle value failed.
  bool Init(const char* commandLineTail);

  // One poll of the command pipe: takes a waiting command byte and runs its
  // command, or sleeps 50 ms. Sets Quit after a failed start-up, on the quit
  // command and when the idle limit has passed.
  void PollCommand();

  // Reads a NUL-ended string of at most limit bytes into buffer, which has
  // room for limit + 1; the buffer is NUL-terminated afterwards. Bytes are
  // taken one at a time, so nothing after the NUL leaves the pipe. False when
  // the pipe ended or failed first; the server then quits.
  bool ReadString(char* buffer, int limit);
  // Reads one 32-bit little-endian value; 0 without a read pipe, or when the
  // pipe ended or failed before all four bytes came (the server then quits).
  DWORD ReadDword();
  // Writes one 32-bit little-endian value; nonzero when the platform took
  // it, 0 when the write failed or there is no write pipe.
  BOOL WriteDword(DWORD value);

  // The commands.
  void ThumbnailFile();
  // As ThumbnailFile, with a position after the size that the walk starts
  // from: a kind (wire::PositionKind; any other value counts as
  // milliseconds) and a value.
  void ThumbnailFileAt();
  // The reason the last thumbnail request failed and the codec it names.
  void ReportFailure();
  // Where the frame of the last thumbnail request came from and its time.
  void ReportFrameOrigin();
  void GetLines();
  void EndThumbnail();
  void GetStatus();
  void ReportDirectXLevel();

  std::unique_ptr<TDirectShowThumbnailer> Thumbnailer;
  bool InitFailed;
  bool Quit;
  DWORD ReadPipe;
  DWORD WritePipe;
  DWORD ReplyEvent;
  bool RowsDwordAligned;
  bool FixedSize;
  bool ThumbnailFailed;
  LONG RequestedWidth;
  LONG RequestedHeight;
  bool InThumbnail;

 private:
  // Commands 2 and 7 after their own arguments: the grab, the reply, and
  // what commands 8 and 9 tell of it.
  void OpenRequest(bool placed);
  // Keeps the reason and the frame's origin of the request that just ran.
  void KeepOutcome(bool pathComplete, int result);
  // Writes count zero bytes, in blocks of bounded size.
  void WriteZeros(size_t count);
  // Sets the reply event.
  void SignalReply();

  // The command pipe and the reply pipe as fields of messages, read and
  // written with ReadString, ReadDword and WriteDword.
  class PipeFields;

  Platform& platform_;
  // A request has been closed since start; selects a trace only.
  bool closed_a_request_ = false;
  // The command pipe ended in the middle of a command's arguments: the
  // command is not acted on and the server quits.
  bool command_pipe_ended_ = false;
  // Of the last thumbnail request, for commands 8 and 9.
  wire::Reason lastReason_ = wire::kNoFailure;
  std::string lastCodec_;
  wire::FrameOrigin lastOrigin_ = wire::kNoFrame;
  DWORD lastFrameMs_ = 0;
};
