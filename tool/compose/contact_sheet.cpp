#include "tool/compose/contact_sheet.h"

#include <algorithm>
#include <cstdio>

#include "tool/frames/frame_requests.h"

namespace thumbnail {
namespace {

constexpr Colour kBackground{24, 24, 24};
constexpr Colour kNoFrame{56, 56, 56};
constexpr Colour kFacts{200, 200, 200};
constexpr Colour kBlack{0, 0, 0};

std::string SizeText(int64_t bytes) {
  static const char* const kUnits[] = {"bytes", "kB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  while (value >= 1000 && unit + 1 < std::size(kUnits)) {
    value /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);
  return text;
}

// The tile's frame's size: the video's as shown, else the first frame's.
PictureSize TileSize(const VideoFacts& facts, const std::vector<const TimedFrame*>& by_tile, int tile_edge) {
  PictureSize own{facts.width, facts.height};
  for (const TimedFrame* frame : by_tile)
    if (own.width <= 0 && frame && !frame->missing) own = {frame->frame.width, frame->frame.height};
  return own.width > 0 ? FitLongerEdge(own.width, own.height, tile_edge, false) : PictureSize{};
}

// The time a tile's frame was asked at, -1 when the video's duration is not known.
int64_t AskedTime(const FramesRequest& request, size_t tile, const VideoFacts& facts) {
  if (facts.duration_ms < 0) return -1;
  return static_cast<int64_t>(request.positions[tile]) * facts.duration_ms / 1000000;
}

// The time in a box at the tile's bottom right corner, where a picture
// least often has what matters.
void DrawTime(Canvas& canvas, const Area& tile, const std::string& text, const TextStyle& style) {
  const PictureSize size = TextSize(text, style);
  const int pad = std::max(2, style.pixels / 4);
  const Area box{tile.x + tile.width - size.width - 3 * pad, tile.y + tile.height - size.height - 3 * pad,
                 size.width + 2 * pad, size.height + 2 * pad};
  canvas.Fill(box, kBlack, 0.6);
  canvas.Write(text, style, box.x + pad, box.y + pad, 0);
}

}  // namespace

SheetLayout LayOutSheet(const Grid& grid, const PictureSize& tile, int header_height, int gap) {
  SheetLayout layout;
  layout.width = grid.columns * (tile.width + gap) + gap;
  layout.header = {gap, gap, layout.width - 2 * gap, header_height};
  const int top = 2 * gap + header_height;
  layout.height = top + grid.rows * (tile.height + gap);
  for (int row = 0; row < grid.rows; ++row)
    for (int column = 0; column < grid.columns; ++column)
      layout.tiles.push_back(
          {gap + column * (tile.width + gap), top + row * (tile.height + gap), tile.width, tile.height});
  return layout;
}

std::string ClockText(int64_t milliseconds) {
  const int64_t seconds = milliseconds / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return text;
}

std::string FactsLine(const VideoFacts& facts, const SheetHeader& header) {
  const std::string dot = "  \u00b7  ";
  std::string line = facts.duration_ms >= 0 ? ClockText(facts.duration_ms) : "duration unknown";
  if (facts.width > 0) line += dot + std::to_string(facts.width) + "\u00d7" + std::to_string(facts.height);
  line += dot + (facts.video_codec.empty() ? "?" : facts.video_codec) + " / " +
          (facts.audio_codec.empty() ? "no audio" : facts.audio_codec);
  if (header.file_bytes >= 0) line += dot + SizeText(header.file_bytes);
  return line;
}

bool ComposeContactSheet(const Grid& grid, int tile_edge, const VideoFacts& facts, const std::vector<TimedFrame>& frames,
                         const SheetHeader& header, ContactSheet* sheet, std::string* error) {
  const FramesRequest request = SheetRequest(grid, tile_edge, FramesRequest::Mode::kKeyFrame);
  std::vector<const TimedFrame*> by_tile(request.positions.size(), nullptr);
  for (const TimedFrame& frame : frames)
    if (frame.index < by_tile.size()) by_tile[frame.index] = &frame;
  const PictureSize tile = TileSize(facts, by_tile, tile_edge);
  if (std::none_of(by_tile.begin(), by_tile.end(), [](const TimedFrame* f) { return f && !f->missing; })) {
    *error = "no frame of the video could be decoded for its sheet";
    return false;
  }
  // Text in proportion to the tiles, so that a sheet reads the same at any size.
  const TextStyle time_style{std::max(10, std::min(tile.width, tile.height) / 10)};
  const TextStyle name_style{time_style.pixels * 3 / 2, true};
  const TextStyle facts_style{time_style.pixels, false, kFacts};
  const std::string facts_line = FactsLine(facts, header);
  const int gap = std::max(4, std::min(tile.width, tile.height) / 24);
  const int name_height = TextSize(header.name, name_style).height;
  const SheetLayout layout =
      LayOutSheet(grid, tile, name_height + gap / 2 + TextSize(facts_line, facts_style).height, gap);

  Canvas canvas(layout.width, layout.height, kBackground);
  if (!canvas.ok()) {
    *error = "cannot draw a sheet of " + std::to_string(layout.width) + "x" + std::to_string(layout.height) + " pixels";
    return false;
  }
  canvas.Write(header.name, name_style, layout.header.x, layout.header.y, layout.header.width);
  canvas.Write(facts_line, facts_style, layout.header.x, layout.header.y + name_height + gap / 2,
               layout.header.width);
  sheet->times_ms.assign(layout.tiles.size(), -1);
  for (size_t i = 0; i < layout.tiles.size(); ++i) {
    const Area& area = layout.tiles[i];
    const TimedFrame* taken = by_tile[i];
    if (!taken || taken->missing) {
      canvas.Fill(area, kNoFrame);
      canvas.Write("no frame here", time_style, area.x + time_style.pixels / 2, area.y + time_style.pixels / 2,
                   area.width - time_style.pixels);
      const int64_t asked = AskedTime(request, i, facts);
      if (asked >= 0) DrawTime(canvas, area, "~" + ClockText(asked), time_style);
      continue;
    }
    Frame scaled;
    if (!ScaleFrame(taken->frame, tile.width, tile.height, &scaled)) {
      *error = "cannot scale a frame for the sheet";
      return false;
    }
    canvas.Place(scaled, area.x, area.y);
    // A frame of a video the server could not seek in has no time of its
    // own: its tile tells where it was asked for, as an estimate.
    if (taken->origin.source == FrameOrigin::Source::kVideo) {
      sheet->times_ms[i] = taken->origin.milliseconds;
      DrawTime(canvas, area, ClockText(taken->origin.milliseconds), time_style);
    } else if (const int64_t asked = AskedTime(request, i, facts); asked >= 0) {
      DrawTime(canvas, area, "~" + ClockText(asked), time_style);
    }
  }
  sheet->picture = canvas.Picture();
  sheet->layout = layout;
  return true;
}

}  // namespace thumbnail
