#include "tool/tool_signals.h"

#include <signal.h>

#include "client/live_servers.h"
#include "tool/write/atomic_file.h"

namespace thumbnail {
namespace {

void CleanUpAndReraise(int signal_number) {
  RemoveTemporaries();
  KillLiveServers();
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

}  // namespace

void CleanUpOnSignal() {
  struct sigaction action {};
  action.sa_handler = CleanUpAndReraise;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal_number, &action, nullptr);
}

}  // namespace thumbnail
