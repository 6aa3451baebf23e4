#include "tool/compose/sprite_track.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace thumbnail {

SpriteTrackBuilder::SpriteTrackBuilder(const Grid& grid, int tile_width, int max_edge, uint32_t interval_ms)
    : asked_(grid), tile_width_(tile_width), max_edge_(max_edge), interval_ms_(interval_ms) {}

void SpriteTrackBuilder::Start(const VideoFacts& facts) { facts_ = facts; }

bool SpriteTrackBuilder::ChooseTileSize(const Frame& first, std::string* error) {
  // The video's size as shown, else the first frame's, for its aspect.
  const int width = facts_.width > 0 ? facts_.width : first.width;
  const int height = facts_.width > 0 ? facts_.height : first.height;
  const int tile_width = tile_width_ > 0 ? std::min(tile_width_, width) : width;
  track_.tile = {tile_width, std::max(1, static_cast<int>(std::lround(double{1} * tile_width * height / width)))};
  if (FitGrid(asked_, track_.tile, max_edge_, &track_.grid)) return true;
  *error = "a tile of " + std::to_string(track_.tile.width) + "x" + std::to_string(track_.tile.height) +
           " is larger than a sprite image holds (" + std::to_string(max_edge_) + " pixels a side)";
  return false;
}

bool SpriteTrackBuilder::Add(const TimedFrame& frame, std::string* error) {
  if (frame.missing || frame.origin.source != FrameOrigin::Source::kVideo) return true;
  const int64_t start = frame.origin.milliseconds;
  if (!track_.tiles.empty() &&
      (start <= track_.tiles.back().start_ms || (facts_.duration_ms >= 0 && start >= facts_.duration_ms)))
    return true;
  if (track_.tiles.empty() && !ChooseTileSize(frame.frame, error)) return false;
  Frame scaled;
  if (!ScaleFrame(frame.frame, track_.tile.width, track_.tile.height, &scaled)) {
    *error = "cannot scale a frame to a tile";
    return false;
  }
  const Grid& grid = track_.grid;
  const size_t slot = track_.tiles.size() % static_cast<size_t>(grid.count());
  if (slot == 0) {
    track_.images.push_back({{grid.columns, 0}, track_.tiles.size(), 0});
    filling_.width = grid.columns * track_.tile.width;
    filling_.height = grid.rows * track_.tile.height;
    filling_.bgr.assign(static_cast<size_t>(filling_.width) * filling_.height * 3, 0);
  }
  SpriteImage& image = track_.images.back();
  const int x = static_cast<int>(slot) % grid.columns * track_.tile.width;
  const int y = static_cast<int>(slot) / grid.columns * track_.tile.height;
  for (int row = 0; row < scaled.height; ++row)
    std::memcpy(&filling_.bgr[(static_cast<size_t>(y + row) * filling_.width + x) * 3],
                &scaled.bgr[static_cast<size_t>(row) * scaled.width * 3], static_cast<size_t>(scaled.width) * 3);
  track_.tiles.push_back({start, 0, track_.images.size() - 1, x, y});
  ++image.tiles;
  image.grid.rows = static_cast<int>((image.tiles + grid.columns - 1) / grid.columns);
  full_ = image.tiles == static_cast<size_t>(grid.count());
  return true;
}

bool SpriteTrackBuilder::TakeFullImage(Frame* image) {
  if (!full_) return false;
  *image = std::move(filling_);
  filling_ = Frame{};
  full_ = false;
  return true;
}

bool SpriteTrackBuilder::Finish(Frame* image, std::string* error) {
  *image = Frame{};
  if (track_.tiles.empty()) {
    *error = "no frame of the video with a known time could be decoded for its sprites";
    return false;
  }
  if (!filling_.bgr.empty()) {
    filling_.height = track_.images.back().grid.rows * track_.tile.height;
    filling_.bgr.resize(static_cast<size_t>(filling_.width) * filling_.height * 3);
    *image = std::move(filling_);
    filling_ = Frame{};
  }
  for (size_t i = 0; i + 1 < track_.tiles.size(); ++i) track_.tiles[i].end_ms = track_.tiles[i + 1].start_ms;
  // The last tile runs to the end; where the end is not known, or does
  // not come after it, for one interval.
  SpriteTile& last = track_.tiles.back();
  last.end_ms = facts_.duration_ms > last.start_ms ? facts_.duration_ms : last.start_ms + interval_ms_;
  track_.end_ms = last.end_ms;
  return true;
}

}  // namespace thumbnail
