// The thumbnail server process on Windows: the same service loop as on
// Linux, over the Windows platform, with the thread's message queue drained
// between polls and the sample renderer registered for the process.
#include "platform/windows/class_registration.h"
#include "platform/windows/windows_platform.h"
#include "server/thumbnail_server.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLineTail, int) {
  WindowsPlatform platform;
  {
    TThumbnailServer server(platform, commandLineTail ? commandLineTail : "");
    // The server's start-up initialised COM on this thread; the classes are
    // registered in its apartment and revoked before it uninitialises.
    MediaClassRegistration classes;
    do {
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
        GetMessageA(&message, nullptr, 0, 0);
        DispatchMessageA(&message);
        server.PollCommand();
      }
      server.PollCommand();
    } while (!server.State.Quit && !server.InitFailed);
  }
  return 0;
}
