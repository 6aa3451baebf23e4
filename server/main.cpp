// The thumbnail server process: serves one parent over the handles named on
// its command line until told to quit, idle for ten seconds, or crashed.
// Every end of the process has exit code 0.
#include <string>

#include "platform/kernel/heap_reuse.h"
#include "platform/kernel/linux_platform.h"
#include "platform/media/media_classes.h"
#include "platform/sandbox/address_space_limit.h"
#include "platform/sandbox/sandbox.h"
#include "server/thumbnail_server.h"

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
    if (!server.InitFailed) WidenPipe(HandleFromValue(server.WritePipe));
    // Confined from before the first command to the end.
    if (!server.InitFailed) InstallSandbox();
    // The thread has no message queue on Linux; each pass is one poll.
    do {
      server.PollCommand();
    } while (!server.Quit && !server.InitFailed);
  }
  return 0;
}
