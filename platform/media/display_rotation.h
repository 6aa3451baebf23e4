// How a stream asks to be turned for display: its display matrix read as
// clockwise quarter turns.
#pragma once

#include "platform/media/ffmpeg_ptr.h"

namespace media {

// 0 to 3 clockwise quarter turns; 0 for a stream without a display matrix or
// with one that is not a right angle (shown unrotated).
int QuarterTurns(const AVStream* stream);

}  // namespace media
