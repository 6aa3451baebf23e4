// A video's contact sheet: frames spread over the video in a grid of
// tiles, each showing the time of its frame, under a header that names the
// file and tells its duration, picture size, codecs and file size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "client/image_scale.h"
#include "client/thumbnail_client.h"
#include "tool/compose/canvas.h"
#include "tool/compose/tile_grid.h"

namespace thumbnail {

struct SheetLayout {
  int width = 0;
  int height = 0;
  Area header;              // the header's lines
  std::vector<Area> tiles;  // row by row, each row left to right
};

// Where things go on a sheet of `grid` tiles of `tile`'s size under a
// header `header_height` pixels tall: `gap` pixels between any two of them
// and around them all.
SheetLayout LayOutSheet(const Grid& grid, const PictureSize& tile, int header_height, int gap);

// What the header tells beside the video's facts.
struct SheetHeader {
  std::string name;         // the video's file name
  int64_t file_bytes = -1;  // -1 when unknown
};

// "h:mm:ss", the time of a tile.
std::string ClockText(int64_t milliseconds);

// The header's second line: "0:01:00 · 320×180 · h264 / aac · 1.2 MB".
std::string FactsLine(const VideoFacts& facts, const SheetHeader& header);

struct ContactSheet {
  Frame picture;
  SheetLayout layout;  // where its header and tiles are
  // Each tile's frame's time; -1 for a tile without a frame, or whose
  // frame's time the server could not tell (its tile shows "~" and the
  // time it was asked for).
  std::vector<int64_t> times_ms;
};

// The sheet of `frames`, the answer to SheetRequest(grid, tile_edge, ...)
// for a video with `facts`, in any order. Tiles have the video's aspect and
// a longer edge of `tile_edge` (0, or more than the video's: its own size);
// a tile whose frame is missing, or never came, is dark and says so, with
// "~" and the time it was asked for. False,
// with the reason in *error, when not one frame came or the sheet cannot be
// drawn.
bool ComposeContactSheet(const Grid& grid, int tile_edge, const VideoFacts& facts, const std::vector<TimedFrame>& frames,
                         const SheetHeader& header, ContactSheet* sheet, std::string* error);

}  // namespace thumbnail
