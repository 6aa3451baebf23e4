#include "tool/compose/tile_grid.h"

#include <algorithm>

namespace thumbnail {

bool FitGrid(const Grid& asked, const PictureSize& tile, int max_edge, Grid* fitted) {
  if (tile.width <= 0 || tile.height <= 0 || tile.width > max_edge || tile.height > max_edge) return false;
  *fitted = {std::min(asked.columns, max_edge / tile.width), std::min(asked.rows, max_edge / tile.height)};
  return true;
}

}  // namespace thumbnail
