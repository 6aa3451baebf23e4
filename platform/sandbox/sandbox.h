// The server's confinement once it has started: a seccomp filter that keeps
// what a thumbnail needs (reading files, the pipes and the event, threads,
// memory, time) and refuses the rest. A refused call raises SIGSYS, which the
// crash filter turns into the process's silent end with exit code 0.
#pragma once

// Confines the whole process, every thread it already runs included, from
// now on and for good. Refused: sockets and connections, running programs,
// new processes, opening files for writing, creating, renaming or removing
// files, tracing, and every call not listed in sandbox.cpp. Needs a SIGSYS
// handler (the crash filter) in place before the first refused call. Returns
// false, with nothing installed, when the kernel or libseccomp refuses the
// filter. Writes nothing anywhere.
bool InstallSandbox();
