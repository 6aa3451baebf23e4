// A video's frames as a sprite track, the seek preview of a web player:
// tiles of one size in images of a grid, each tile standing for the stretch
// of the video from its frame's time to the next tile's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "client/image_scale.h"
#include "client/thumbnail_client.h"
#include "tool/compose/tile_grid.h"

namespace thumbnail {

struct SpriteTile {
  int64_t start_ms = 0;  // its frame's time
  int64_t end_ms = 0;    // the next tile's, or the end of the video
  size_t image = 0;
  int x = 0;  // its top left corner in the image
  int y = 0;
};

struct SpriteImage {
  Grid grid;  // the columns and the rows it holds: the last image may hold fewer rows
  size_t first_tile = 0;
  size_t tiles = 0;
};

struct SpriteTrack {
  PictureSize tile;
  Grid grid;  // of a full image
  std::vector<SpriteImage> images;
  std::vector<SpriteTile> tiles;
  int64_t end_ms = 0;  // the last tile's end: the video's duration when it is known
};

// Makes the track of the frames of SpriteRequest(interval_ms, ...) as they
// come, an image at a time.
class SpriteTrackBuilder {
 public:
  // Tiles `tile_width` pixels wide (0: the video's own width, never more)
  // with the video's aspect, in images of `grid`, narrowed where an image
  // would pass `max_edge` pixels a side.
  SpriteTrackBuilder(const Grid& grid, int tile_width, int max_edge, uint32_t interval_ms);

  // The video's facts, before its frames.
  void Start(const VideoFacts& facts);
  // The frame becomes the next tile unless it is missing, its time is not
  // known, or its time is not after the last tile's (the key frame before
  // the next position can be the last one again) or is at the end or past
  // it: no tile is made up, and none stands for no time at all. False,
  // with the reason in *error, when the tile cannot be made.
  bool Add(const TimedFrame& frame, std::string* error);
  // Moves the image the last tile filled to *image; false when that tile
  // filled none.
  bool TakeFullImage(Frame* image);
  // Moves the image being filled, cut to its rows, to *image (0 x 0 when
  // there is none), and gives each tile its end. False, with the reason in
  // *error, when not one frame became a tile.
  bool Finish(Frame* image, std::string* error);

  const SpriteTrack& track() const { return track_; }

 private:
  bool ChooseTileSize(const Frame& first, std::string* error);

  const Grid asked_;
  const int tile_width_;
  const int max_edge_;
  const uint32_t interval_ms_;
  VideoFacts facts_;
  SpriteTrack track_;
  Frame filling_;  // the image the next tile goes into
  bool full_ = false;
};

}  // namespace thumbnail
