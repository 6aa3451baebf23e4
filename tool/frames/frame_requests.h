// The frames step for the pictures made of many frames: which frames of a
// video a contact sheet and a sprite track ask the server for, all taken in
// one pass over the file.
#pragma once

#include <cstdint>

#include "client/thumbnail_client.h"
#include "tool/compose/tile_grid.h"

namespace thumbnail {

// A sheet's tiles spread evenly from 5 % to 95 % of the video, in millionths
// of its duration: its first and last moments are titles and black more
// often than not. The frames' longer edge is at most `tile_edge`.
FramesRequest SheetRequest(const Grid& grid, int tile_edge, FramesRequest::Mode mode);

// A frame every `interval_ms` over the whole video, for tiles `tile_width`
// pixels wide (0: the video's own width).
FramesRequest SpriteRequest(uint32_t interval_ms, int tile_width, FramesRequest::Mode mode);

}  // namespace thumbnail
