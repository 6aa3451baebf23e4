// What the tool does when it is told to stop.
#pragma once

namespace thumbnail {

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary files of the
// writes in progress and kill the running servers at once, then end the
// program by the signal as it would have ended without a handler.
void CleanUpOnSignal();

}  // namespace thumbnail
