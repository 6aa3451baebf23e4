// How a stream's pictures are shown: turned by quarter turns and perhaps
// mirrored, as its display matrix says.
#pragma once

#include <cstdint>

#include "platform/media/ffmpeg/ffmpeg_ptr.h"

namespace media {

struct Orientation {
  int quarterTurns = 0;   // clockwise, 0 to 3
  bool mirrored = false;  // flipped left to right after turning

  bool upright() const { return quarterTurns == 0 && !mirrored; }
  bool sideways() const { return quarterTurns % 2 != 0; }
};

// The orientation a display matrix (nine 16.16 and 2.30 fixed-point values)
// asks for, read as the ffmpeg tool reads it; upright for a matrix that is
// no right-angle turn or flip.
Orientation OrientationOf(const int32_t matrix[9]);

// True when OrientFrame can turn pictures of this pixel format: planar YUV
// with equal subsampling in both directions, 8 or 16 bits a sample, or
// packed RGB.
bool CanOrient(AVPixelFormat format);

// A new frame holding `frame` shown as `orientation` says. Null when memory
// runs out or the format cannot be turned.
FramePtr OrientFrame(const AVFrame& frame, Orientation orientation);

}  // namespace media
