// Tiles in columns and rows: a contact sheet's, and a sprite image's.
#pragma once

#include "client/image_scale.h"

namespace thumbnail {

struct Grid {
  int columns = 0;
  int rows = 0;
  int count() const { return columns * rows; }
};

// `asked` with fewer columns or rows where an image of its tiles would be
// wider or taller than `max_edge` pixels; the tiles left over go into
// further images. False when not even one tile fits.
bool FitGrid(const Grid& asked, const PictureSize& tile, int max_edge, Grid* fitted);

}  // namespace thumbnail
