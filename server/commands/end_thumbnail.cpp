// Command 4: the parent is done with the open request. Opening a request and
// the end of the server close it the same way.
#include "platform/trace.h"
#include "protocol/messages.h"
#include "server/command_handlers.h"

void ServerState::EndThumbnail() {
  DebugTrace("TThumbnailServer::EndThumbnail\n");
  if (InThumbnail) {
    InThumbnail = false;
    ClosedARequest = true;
  }
  if (FixedSize && Thumbnailer) {
    const BITMAPINFOHEADER& frame = Thumbnailer->BitmapInfo.bmiHeader;
    if (frame.biWidth != RequestedWidth || frame.biHeight != RequestedHeight) {
      // The parent was promised another size than the frame has; the
      // server ends rather than serve it again.
      DebugTrace("wrong info\n");
      DebugTrace("%ux%u   %ux%u\n", static_cast<unsigned>(frame.biWidth), static_cast<unsigned>(frame.biHeight),
                 static_cast<unsigned>(RequestedWidth), static_cast<unsigned>(RequestedHeight));
      Quit = true;
      return;
    }
  }
  DebugTrace("Cleaning up\n");
  DebugTrace(InThumbnail ? "in thumbnail\n" : "not in thumbnail\n");
  Thumbnailer.reset();
  Frames.reset();
}

void ServerState::BeginRequest() {
  EndThumbnail();
  if (ClosedARequest) DebugTrace("starting new thumbnail\n");
  InThumbnail = true;
}

template <>
void Handle<wire::kEndThumbnail>(CommandContext& context) {
  context.State.EndThumbnail();
}
