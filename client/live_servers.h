// The servers this process runs, so that a program ending on a signal can
// take them with it instead of leaving them to end by themselves.
#pragma once

#include <sys/types.h>

namespace thumbnail {

// Kept by ServerProcess: from its start until it is killed, before it is
// reaped, so that the pid cannot have been reused meanwhile.
void NoteServerStarted(pid_t pid);
void NoteServerEnding(pid_t pid);

// Sends SIGKILL to every server noted as running. Safe in a signal handler.
void KillLiveServers();

}  // namespace thumbnail
