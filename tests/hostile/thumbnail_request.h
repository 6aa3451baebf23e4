// One thumbnail request to a real server, told as what the parent saw: a
// picture, the failure reply, the server's end, or a server that neither
// answered nor ended in time. Shared by the hostile-file tests and the soak.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/server_timing.h"
#include "tests/server/server_process.h"

// Longer than the watchdog's cut-off (within a second after the idle limit).
constexpr int kPastTheWatchdogMs = wire::kIdleLimitMs + 3000;

struct RequestOutcome {
  enum Kind {
    kPicture,      // 1, the size and 24, then every row asked for, then the event
    kFailed,       // the single value 0 and the event
    kServerEnded,  // the pipes broke; the server ended (WaitExit tells how)
    kStuck,        // no complete reply and no end within the watchdog's time
    kMalformed,    // a reply that does not fit the protocol
  };
  Kind kind = kStuck;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rows;  // top-down, width * 3 bytes each
};

const char* KindName(RequestOutcome::Kind kind);

// Sends command 2 with path, width and height; on success fetches the rows
// with command 3 (all of them when the picture is at most maxBytes, else the
// first few) and closes the request with command 4. A fixed-size request
// (both positive) is answered with that size before the grab, and its rows
// come out at the requested width.
RequestOutcome RequestThumbnail(ServerProcess& server, const std::string& path, int32_t width = 0,
                                int32_t height = 0, size_t maxBytes = size_t{64} << 20);

// Command 5: true when the server answers 1 and sets the event.
bool ServerAnswersStatus(ServerProcess& server);

// The wrapper that runs a server under strace, every thread's file calls
// (and `calls`, if given) written to `trace`; empty when strace is not
// installed. Under the sanitizers the server's own leak check is left out:
// it stops the world with ptrace, which strace already holds.
std::vector<std::string> UnderStrace(const std::string& trace, const std::string& calls = "%file");

// Descriptors the process holds open, from /proc/PID/fd.
int OpenDescriptors(int pid);
// Resident memory of the process in KiB, from /proc/PID/status.
long ResidentKib(int pid);
