// Start-up, the poll for commands, the end of the server and the two ways in
// which the process ends by itself: the watchdog and the crash filter.
#include "server/thumbnail_server.h"

#include <cstring>

#include "platform/trace.h"
#include "server/command_handlers.h"

std::atomic<DWORD> LastActivityTick{0};

namespace {

// The platform through which the crash filter ends the process while a
// server lives. A crash filter receives no context of its own.
std::atomic<Platform*> crash_platform{nullptr};

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A decimal handle value: leading white space skipped, an optional sign,
// then digits up to the first non-digit; no digits give 0. Values beyond 32
// bits wrap, as a handle value is only ever 32 bits wide.
DWORD ParseHandleValue(const char* text) {
  while (IsSpace(*text)) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  DWORD value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10 + static_cast<DWORD>(*text - '0');
  return negative ? 0u - value : value;
}

// The text after the first blank at or after text, or null when there is no
// blank before the end of the tail.
const char* AfterNextBlank(const char* text) {
  const char* blank = std::strchr(text, ' ');
  return blank ? blank + 1 : nullptr;
}

}  // namespace

bool WatchdogStep(Platform& platform) {
  platform.Sleep(1000);
  if (!IdleLimitPassed(platform.GetTickCount(), LastActivityTick.load(std::memory_order_relaxed))) return true;
  platform.TerminateProcess(0);
  return false;
}

void WatchdogThread(void* platform) {
  while (WatchdogStep(*static_cast<Platform*>(platform))) {
  }
}

LONG CrashFilter(EXCEPTION_POINTERS*) {
  if (Platform* platform = crash_platform.load()) platform->ExitProcess(0);
  return 0;
}

TThumbnailServer::TThumbnailServer(Platform& platform, const char* commandLineTail)
    : Channel(platform), Probe(platform), platform_(platform) {
  crash_platform.store(&platform_);
  platform_.SetUnhandledExceptionFilter(CrashFilter);
  LastActivityTick.store(platform_.GetTickCount());
  // The watchdog guards start-up too; a server without one still runs.
  platform_.StartThread(WatchdogThread, &platform_);
  if (!Init(commandLineTail)) InitFailed = true;
  LastActivityTick.store(platform_.GetTickCount());
}

bool TThumbnailServer::Init(const char* commandLineTail) {
  if (platform_.CoInitialize(nullptr) != S_OK) {
    DebugTrace("Error 1");
    return false;
  }
  // The switch may stand anywhere, also inside a longer word.
  const char* sw = std::strstr(commandLineTail, "-com");
  if (!sw) {
    DebugTrace("Error 2");
    return false;
  }
  // The read handle's text follows the switch and one separator, whatever
  // that separator is; a tail that ends at the switch has no value.
  const char* readText = sw[4] ? sw + 5 : nullptr;
  Channel.ReadPipe = readText ? ParseHandleValue(readText) : 0;
  if (Channel.ReadPipe == 0) {
    DebugTrace("Error 3");
    return false;
  }
  // Each further value follows the first blank at or after the start of the
  // one before, so two blanks before the first value make the first value
  // count twice.
  const char* writeText = AfterNextBlank(readText);
  Channel.WritePipe = writeText ? ParseHandleValue(writeText) : 0;
  if (Channel.WritePipe == 0) {
    DebugTrace("Error 4");
    return false;
  }
  const char* eventText = AfterNextBlank(writeText);
  Channel.ReplyEvent = eventText ? ParseHandleValue(eventText) : 0;
  if (Channel.ReplyEvent == 0) {
    DebugTrace("Error 5");
    return false;
  }
  DebugTrace("Init Ok");
  // A parent that hands files over names its socket after the handles; one
  // that does not is served as before.
  if (const char* files = std::strstr(commandLineTail, "-files ")) Channel.FileSocket = ParseHandleValue(files + 7);

  // A 1 x 1 24-bit bitmap shows whether the platform pads rows: an even
  // row length means the 3-byte row was padded. Without the bitmap, rows are
  // taken as padded, as every DIB section's rows are.
  State.RowsDwordAligned = true;
  const BYTE pixel[4] = {0, 0, 0, 0};
  if (HBITMAP probe = platform_.CreateBitmap(1, 1, 1, 24, pixel)) {
    BITMAP description{};
    platform_.GetObjectA(probe, sizeof description, &description);
    State.RowsDwordAligned = (description.bmWidthBytes & 1) == 0;
    platform_.DeleteObject(probe);
  }
  return true;
}

TThumbnailServer::~TThumbnailServer() {
  if (Channel.ReplyEvent != 0) platform_.CloseHandle(HandleFromValue(Channel.ReplyEvent));
  State.EndThumbnail();
  // A thumbnailer kept by a failed size check goes now, while COM is still
  // initialised, rather than after CoUninitialize.
  State.Thumbnailer.reset();
  platform_.CoUninitialize();
  DebugTrace("Destroying thumbnail server object\n");
  // A crash from here on ends the process through the platform's own exit.
  crash_platform.store(nullptr);
}

void TThumbnailServer::PollCommand() {
  if (InitFailed) {
    State.Quit = true;
    return;
  }
  DebugTrace(State.InThumbnail ? "in thumbnail\n" : "not in thumbnail\n");
  if (IdleLimitPassed(platform_.GetTickCount(), LastActivityTick.load())) {
    State.Quit = true;
    return;
  }
  BYTE command = 0;
  switch (Channel.TakeCommand(&command)) {
    case CommandChannel::Poll::kPeerGone:
      // Ending is left to the idle limit.
      if (IdleLimitPassed(platform_.GetTickCount(), LastActivityTick.load())) State.Quit = true;
      platform_.Sleep(kIdlePollMs);
      return;
    case CommandChannel::Poll::kNothing:
      return;
    case CommandChannel::Poll::kCommand:
      break;
  }
  LastActivityTick.store(platform_.GetTickCount());
  DebugTrace("Got command\n");
  if (const CommandHandler handler = HandlerOf(command)) {
    CommandContext context{Channel, State, Probe};
    handler(context);
  }
  // The parent went in the middle of the command's arguments.
  if (Channel.Ended()) State.Quit = true;
}
