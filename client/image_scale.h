// Fitting and scaling of frames, for the library's pictures of a size and
// for the tool.
#pragma once

#include "client/thumbnail_client.h"

namespace thumbnail {

struct PictureSize {
  int width = 0;
  int height = 0;
};

// The size whose longer edge is `longer_edge`, with the frame's aspect kept
// (rounded, never below 1 pixel). A `longer_edge` of 0 keeps the frame's own
// size, and so does a larger edge when `enlarge` is false.
PictureSize FitLongerEdge(int width, int height, int longer_edge, bool enlarge);

// `in` scaled to width x height with libswscale: an area filter when
// shrinking, bicubic when enlarging. False when libswscale refuses.
bool ScaleFrame(const Frame& in, int width, int height, Frame* out);

// A picture of exactly width x height: `in` scaled as large as fits with its
// aspect kept, in the middle, black bars on the two sides left over. False
// when libswscale refuses.
bool FitIntoFrame(const Frame& in, int width, int height, Frame* out);

}  // namespace thumbnail
