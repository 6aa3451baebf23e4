// What the server's command handlers share: the open thumbnail request, what
// the last one gave, and whether the server is to end. The server owns one;
// each handler works on it through its CommandContext.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "grabber/thumbnailer.h"
#include "protocol/wire.h"
#include "server/frames_plan.h"

struct ServerState {
  // Closes the open request and drops its thumbnailer. A fixed-size request
  // whose frame came out at another size than the parent was promised sets
  // Quit instead and keeps the thumbnailer: the server ends rather than serve
  // that frame again. Lives with command 4, in commands/end_thumbnail.cpp.
  void EndThumbnail();
  // Every new request first closes the one still open, then is open itself.
  void BeginRequest();

  // Keeps for commands 8 and 9 why the thumbnailer gave no frame, or where
  // its frame came from. A path cut short is unreadable, whatever the
  // thumbnailer said. Lives in request_outcome.cpp.
  // A request whose read budget ran out is too costly, whatever the
  // thumbnailer made of the refused reads.
  void KeepOutcome(bool pathComplete, bool gaveFrame, bool budgetSpent = false);
  // Whether a request may go on to open its file: not a path once the
  // server is locked (the reason is kept then). An empty path is the file
  // handed over.
  bool MayOpen(const std::string& path);
  // Keeps `reason` for command 8, with no codec and no frame.
  void KeepReason(wire::Reason reason);

  std::unique_ptr<TDirectShowThumbnailer> Thumbnailer;
  // The open frames request's steps; empty for a thumbnail request.
  std::optional<FramesPlan> Frames;
  bool Quit = false;
  // Every file comes handed over from now on (command 13).
  bool Locked = false;
  // Whether the platform pads bitmap rows to 32 bits; found at start-up.
  bool RowsDwordAligned = false;
  bool FixedSize = false;
  bool ThumbnailFailed = false;
  LONG RequestedWidth = 0;
  LONG RequestedHeight = 0;
  bool InThumbnail = false;
  // A request has been closed since start; selects a trace only.
  bool ClosedARequest = false;
  // Of the last thumbnail request, for commands 8 and 9.
  wire::Reason LastReason = wire::kNoFailure;
  std::string LastCodec;
  wire::FrameOrigin LastOrigin = wire::kNoFrame;
  DWORD LastFrameMs = 0;
};
