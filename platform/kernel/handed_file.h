// The file a parent handed over for the next request, and what the requests
// read of their files. The server receives the descriptor (ReceiveFile of the
// platform) and the media source takes it when it opens a request's file by
// an empty name; both meet here, in one slot per process, because the
// command that receives a file and the request that reads it are two
// commands apart and the graph in between knows only names.
#pragma once

#include <cstdint>

// How a hand-over went.
enum class HandOver {
  kHeld,            // one readable regular file, held for the next request
  kNothing,         // no socket, no message, or a message without a descriptor
  kSeveral,         // more than one descriptor came; all are closed
  kCutShort,        // the control message was truncated; what came is closed
  kNotRegularFile,  // a pipe, a folder, a socket, a device
  kNotReadable,     // opened for writing only, or a read failed at once
};

// What one request read of its file, through the media source's own I/O.
struct ReadTally {
  uint64_t bytes = 0;   // bytes given to the demuxers
  uint32_t seeks = 0;   // moves to anywhere but the next byte
  uint64_t budget = 0;  // the most it may read; 0 for no limit
  bool budgetSpent = false;  // a read was refused for the budget
};

// What the lock managed.
struct LockResult {
  bool locked = false;   // the seccomp rule is in: nothing more can be opened
  int landlockAbi = 0;   // the Landlock ABI of the domain entered, 0 for none
};

namespace handed_file {

// Holds fd (owned from now on) and the read budget of the next request,
// closing any file held before.
void Hold(int fd, uint64_t budget);
// Closes the held file, if any.
void Drop();
// Gives up the held file to the caller, who owns it from now on: -1 when
// none is held. *budget is its read budget.
int Take(uint64_t* budget);

// The tally of the request under way; a new request's file starts it again.
ReadTally& Tally();

}  // namespace handed_file
