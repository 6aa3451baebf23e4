// The thumbnail server process: serves one parent over the handles named on
// its command line until told to quit, idle for ten seconds, or crashed.
// Every end of the process has exit code 0.
#include <malloc.h>

#include <string>

#include "platform/kernel/linux_platform.h"
#include "platform/media/media_classes.h"
#include "platform/sandbox/address_space_limit.h"
#include "platform/sandbox/sandbox.h"
#include "server/thumbnail_server.h"

namespace {

// Every request allocates and frees pictures of tens of megabytes. By default
// glibc maps each one afresh and hands it back on free, so the next request
// faults every page in again; kept in the heap they are reused. The peak stays
// where it was: only memory already in use once is kept.
void KeepPictureMemoryForReuse() {
  constexpr int kMiB = 1 << 20;
  mallopt(M_MMAP_THRESHOLD, 64 * kMiB);
  mallopt(M_TRIM_THRESHOLD, 256 * kMiB);
}

}  // namespace

int main(int argc, char** argv) {
  // The command line without the program's own name, as one text.
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += argv[i];
  }
  LimitAddressSpace();
  KeepPictureMemoryForReuse();
  // Never destroyed: the detached watchdog thread uses it until the process
  // is gone, which is after main returns.
  static LinuxPlatform& platform = *new LinuxPlatform;
  RegisterMediaClasses();
  {
    TThumbnailServer server(platform, tail.c_str());
    // Confined from before the first command to the end.
    if (!server.InitFailed) InstallSandbox();
    // The thread has no message queue on Linux; each pass is one poll.
    do {
      server.PollCommand();
    } while (!server.Quit && !server.InitFailed);
  }
  return 0;
}
