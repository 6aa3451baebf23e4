// What the last request left for commands 8 and 9: why it gave no frame, or
// where its frame came from. Thumbnail requests keep it once; a frames
// request with each frame it gives.
#include <algorithm>

#include "server/failure_reason.h"
#include "server/server_state.h"

void ServerState::KeepReason(wire::Reason reason) {
  LastReason = reason;
  LastCodec.clear();
  LastOrigin = wire::kNoFrame;
  LastFrameMs = 0;
}

bool ServerState::MayOpen(const std::string& path) {
  if (!Locked || path.empty()) return true;
  KeepReason(wire::kPathRefused);
  return false;
}

void ServerState::KeepOutcome(bool pathComplete, bool gaveFrame, bool budgetSpent) {
  KeepReason(wire::kNoFailure);
  const TDirectShowThumbnailer& thumbnailer = *Thumbnailer;
  if (gaveFrame) {
    const LONGLONG position = thumbnailer.FramePosition;
    if (thumbnailer.FromCover) {
      LastOrigin = wire::kCoverPicture;
    } else if (position < 0) {
      LastOrigin = wire::kFrameOfUnknownTime;
    } else {
      LastOrigin = wire::kVideoFrame;
      LastFrameMs = static_cast<DWORD>(std::min<LONGLONG>(position / 10000, 0xFFFFFFFF));
    }
  } else if (!pathComplete) {
    LastReason = wire::kUnreadable;
  } else if (budgetSpent) {
    LastReason = wire::kTooCostly;
  } else {
    LastReason = ReasonOf(thumbnailer.Failure);
    if (LastReason == wire::kCodecUnavailable) LastCodec = thumbnailer.FailureCodec;
  }
}
