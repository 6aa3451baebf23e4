// TThumbnailServer: start-up, the poll for commands and the two ways the
// process ends by itself. The parent talks to it over three inherited
// handles (the CommandChannel); each command byte goes to its handler in
// server/commands/, and the bytes on the wire are those of
// protocol/messages.h.
#pragma once

#include <atomic>

#include "platform/kernel/platform.h"
#include "protocol/server_timing.h"
#include "server/command_channel.h"
#include "server/directx_probe.h"
#include "server/server_state.h"

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

  // Starts COM, reads the three handle values after "-com" into the channel
  // and probes the row alignment of bitmaps. False when COM or any handle
  // value failed.
  bool Init(const char* commandLineTail);

  // One poll of the command pipe: takes a waiting command byte and runs its
  // handler, or sleeps 50 ms. Sets State.Quit after a failed start-up, on
  // the quit command, when the command pipe ends within a command's
  // arguments and when the idle limit has passed.
  void PollCommand();

  // What the server owns: the parent's handles, the probe behind command 6,
  // and what the command handlers share. Each handler gets all three.
  CommandChannel Channel;
  DirectXLevelProbe Probe;
  ServerState State;
  bool InitFailed = false;

 private:
  Platform& platform_;
};
