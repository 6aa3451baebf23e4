// The parent's half of handing a file over (command 12): the socket pair the
// server's hand-over socket comes from, and the message that carries the
// file's descriptor. The command itself goes on the command pipe as any
// other; this message must be on the socket before it.
#pragma once

#include <cstddef>

namespace wire {

// A connected pair of sequenced-packet sockets, both close-on-exec, so that
// each hand-over is one message and a parent's two files never merge into
// one. 0 or an errno value.
int MakeHandOverSockets(int ends[2]);

// Sends one message on `socket`: one byte of data and `fds` (count of them,
// none for a message without a file) as SCM_RIGHTS. Never waits and never
// raises SIGPIPE. 0 or an errno value.
int SendDescriptors(int socket, const int* fds, size_t count);

}  // namespace wire
