#include "tool/compose/composed_picture.h"

namespace thumbnail {

bool ComposePicture(const Frame& frame, const PictureLayout& layout, Frame* picture) {
  const PictureSize size = FitLongerEdge(frame.width, frame.height, layout.longer_edge, layout.enlarge);
  return ScaleFrame(frame, size.width, size.height, picture);
}

}  // namespace thumbnail
