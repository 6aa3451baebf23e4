// Turning a picture by quarter turns, for streams whose display matrix says
// they are shown rotated.
#pragma once

#include "platform/media/ffmpeg_ptr.h"

namespace media {

// True when RotateFrame can turn pictures of this pixel format: planar YUV
// with equal subsampling in both directions, or packed RGB, 8 bits a sample.
bool CanRotate(AVPixelFormat format);

// A new frame holding `frame` turned clockwise by quarterTurns (1 to 3).
// Null when memory runs out or the format cannot be turned.
FramePtr RotateFrame(const AVFrame& frame, int quarterTurns);

}  // namespace media
