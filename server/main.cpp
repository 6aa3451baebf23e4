// The thumbnail server process: serves one parent over the handles named on
// its command line until told to quit, idle for ten seconds, or crashed.
// Every end of the process has exit code 0.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/kernel/heap_reuse.h"
#include "platform/kernel/linux_platform.h"
#include "platform/media/ffmpeg/late_libraries.h"
#include "platform/media/graph/media_classes.h"
#include "platform/sandbox/address_space_limit.h"
#include "platform/sandbox/sandbox.h"
#include "server/thumbnail_server.h"

namespace {

// For a person who runs the server by hand; a parent never passes these.
bool AnswerPerson(int argc, char** argv) {
  if (argc != 2) return false;
  if (std::strcmp(argv[1], "--version") == 0) {
    std::puts("thumbnail-server " THUMBNAIL_VERSION);
    return true;
  }
  if (std::strcmp(argv[1], "--help") != 0 && std::strcmp(argv[1], "-h") != 0) return false;
  std::fputs(
      "Usage: thumbnail-server -com READ WRITE EVENT [-files SOCKET]\n"
      "Serves still frames of video files to the program that started it, over\n"
      "the inherited descriptors READ (commands), WRITE (replies) and EVENT (an\n"
      "eventfd set after each reply), and SOCKET, on which it may hand files\n"
      "over instead of naming them. It is not run by hand: the thumbnail tool\n"
      "and the thumbnail-client library start it. See thumbnail-server(1).\n",
      stdout);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (AnswerPerson(argc, argv)) return 0;
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
  // Tests see the lock's seccomp rule stand alone, as on a kernel without
  // Landlock; a parent never passes this.
  platform.landlockAllowed = tail.find("-nolandlock") == std::string::npos;
  platform.beforeLock = media::LoadLateLibraries;
  RegisterMediaClasses();
  {
    TThumbnailServer server(platform, tail.c_str());
    if (!server.InitFailed) WidenPipe(HandleFromValue(server.Channel.WritePipe));
    // Confined from before the first command to the end.
    if (!server.InitFailed) InstallSandbox();
    // The thread has no message queue on Linux; each pass is one poll.
    do {
      server.PollCommand();
    } while (!server.State.Quit && !server.InitFailed);
  }
  return 0;
}
