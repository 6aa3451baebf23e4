#include "client/live_servers.h"

#include <signal.h>

#include "client/signal_safe_slots.h"

namespace thumbnail {
namespace {

// As many as the tool's most jobs, and room for a library user's own.
SignalSafeSlots<pid_t, 128> g_servers;

}  // namespace

void NoteServerStarted(pid_t pid) { g_servers.Add(pid); }

void NoteServerEnding(pid_t pid) {
  int found = -1;
  g_servers.ForEachLive([&](int slot, pid_t live) {
    if (live == pid) found = slot;
  });
  g_servers.Remove(found);
}

void KillLiveServers() {
  g_servers.ForEachLive([](int, pid_t pid) { ::kill(pid, SIGKILL); });
}

}  // namespace thumbnail
