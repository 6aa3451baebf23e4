#include "client/tool_signals.h"

#include <signal.h>

#include "client/atomic_file.h"
#include "client/live_servers.h"

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
