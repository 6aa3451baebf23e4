// The compose step of the tool's pipeline: the frames of a video laid out as
// the picture to encode. Today one frame, scaled so that its longer edge is
// the one asked.
#pragma once

#include "client/image_scale.h"
#include "client/thumbnail_client.h"

namespace thumbnail {

struct PictureLayout {
  int longer_edge = 256;  // 0 keeps the frame's own size
  bool enlarge = true;    // false: a smaller frame keeps its size
};

// False when the frame cannot be scaled.
bool ComposePicture(const Frame& frame, const PictureLayout& layout, Frame* picture);

}  // namespace thumbnail
