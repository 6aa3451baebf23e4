#include "tool/frames/frame_requests.h"

namespace thumbnail {
namespace {

constexpr uint32_t kSheetFirst = 50000;  // millionths
constexpr uint32_t kSheetLast = 950000;

}  // namespace

FramesRequest SheetRequest(const Grid& grid, int tile_edge, FramesRequest::Mode mode) {
  FramesRequest request;
  request.mode = mode;
  request.longer_edge = tile_edge;
  request.kind = Position::Kind::kMillionths;
  const uint32_t count = static_cast<uint32_t>(grid.count());
  for (uint32_t i = 0; i < count; ++i)
    request.positions.push_back(count == 1 ? (kSheetFirst + kSheetLast) / 2
                                           : kSheetFirst + static_cast<uint32_t>(uint64_t{kSheetLast - kSheetFirst} *
                                                                                 i / (count - 1)));
  return request;
}

FramesRequest SpriteRequest(uint32_t interval_ms, int tile_width, FramesRequest::Mode mode) {
  FramesRequest request;
  request.mode = mode;
  // The video's aspect is known only once its facts come, after the
  // request: twice the tile's width lets a portrait video up to 1:2 come
  // large enough, and a landscape one is scaled down by the tool with the
  // area filter.
  request.longer_edge = tile_width * 2;
  request.interval_ms = interval_ms;
  return request;
}

}  // namespace thumbnail
