// A contact sheet made of frames handed in directly, as the server would
// send them: where its header and tiles go, what the header says, and that
// each tile shows its own frame, or says it has none.
#include <gtest/gtest.h>

#include <set>

#include "tool/compose/contact_sheet.h"

namespace thumbnail {
namespace {

bool Overlap(const Area& a, const Area& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

// Faults caught: tiles that overlap, run off the sheet or over the header,
// and rows or columns swapped.
TEST(LayOutSheet, TilesInRowsUnderTheHeaderApartAndInside) {
  struct Case {
    Grid grid;
    PictureSize tile;
    int header, gap;
    int width, height;
    size_t probe;  // a tile whose place is checked
    Area place;
  };
  const Case kCases[] = {
      {{4, 4}, {320, 180}, 50, 8, 1320, 818, 5, {336, 254, 320, 180}},
      {{3, 2}, {90, 160}, 30, 4, 286, 366, 3, {4, 202, 90, 160}},
      {{1, 1}, {256, 144}, 20, 6, 268, 182, 0, {6, 32, 256, 144}},
      {{5, 1}, {100, 50}, 10, 5, 530, 75, 4, {425, 20, 100, 50}},
  };
  for (const Case& c : kCases) {
    const SheetLayout layout = LayOutSheet(c.grid, c.tile, c.header, c.gap);
    SCOPED_TRACE(std::to_string(c.grid.columns) + "x" + std::to_string(c.grid.rows));
    EXPECT_EQ(layout.width, c.width);
    EXPECT_EQ(layout.height, c.height);
    ASSERT_EQ(layout.tiles.size(), static_cast<size_t>(c.grid.count()));
    const Area& probe = layout.tiles[c.probe];
    EXPECT_EQ(probe.x, c.place.x);
    EXPECT_EQ(probe.y, c.place.y);
    EXPECT_EQ(probe.width, c.place.width);
    EXPECT_EQ(probe.height, c.place.height);
    EXPECT_EQ(layout.header.height, c.header);
    for (size_t i = 0; i < layout.tiles.size(); ++i) {
      const Area& a = layout.tiles[i];
      EXPECT_GE(a.x, c.gap);
      EXPECT_LE(a.x + a.width, layout.width - c.gap);
      EXPECT_GE(a.y, layout.header.y + layout.header.height + c.gap);
      EXPECT_LE(a.y + a.height, layout.height - c.gap);
      for (size_t j = i + 1; j < layout.tiles.size(); ++j) EXPECT_FALSE(Overlap(a, layout.tiles[j])) << i << " " << j;
    }
  }
}

TEST(ContactSheetText, TimesAndFactsAsTheHeaderTellsThem) {
  const std::pair<int64_t, const char*> kClocks[] = {
      {0, "0:00:00"}, {59999, "0:00:59"}, {3723004, "1:02:03"}, {360000000, "100:00:00"}};
  for (const auto& [ms, text] : kClocks) EXPECT_EQ(ClockText(ms), text) << ms;

  VideoFacts facts;
  facts.duration_ms = 60000;
  facts.width = 320;
  facts.height = 180;
  facts.video_codec = "h264";
  facts.audio_codec = "aac";
  EXPECT_EQ(FactsLine(facts, {"film.mp4", 1234567}), "0:01:00  \u00b7  320\u00d7180  \u00b7  h264 / aac  \u00b7  1.2 MB");
  EXPECT_EQ(FactsLine(facts, {"film.mp4", 999}), "0:01:00  \u00b7  320\u00d7180  \u00b7  h264 / aac  \u00b7  999 bytes");
  VideoFacts unknown;
  unknown.video_codec = "vp9";
  EXPECT_EQ(FactsLine(unknown, {"film.webm", -1}), "duration unknown  \u00b7  vp9 / no audio");
}

TimedFrame Flat(size_t index, uint32_t ms, uint8_t b, uint8_t g, uint8_t r) {
  TimedFrame frame;
  frame.index = index;
  frame.origin = {FrameOrigin::Source::kVideo, ms};
  frame.frame.width = 160;
  frame.frame.height = 90;
  for (int i = 0; i < 160 * 90; ++i) frame.frame.bgr.insert(frame.frame.bgr.end(), {b, g, r});
  return frame;
}

const uint8_t* Pixel(const Frame& picture, int x, int y) {
  return &picture.bgr[(static_cast<size_t>(y) * picture.width + x) * 3];
}

// Each tile shows its own frame, whatever order the frames came in; a
// missing frame, or one that never came, is a dark tile and no made-up
// picture. Caught: frames placed in the order they came, not by their
// index; a missing tile painted with its neighbour.
TEST(ComposeContactSheet, EachTileItsFrameAndAMissingOneDark) {
  VideoFacts facts;
  facts.duration_ms = 100000;
  facts.width = 320;
  facts.height = 180;
  facts.video_codec = "h264";
  std::vector<TimedFrame> frames = {Flat(2, 50000, 0, 0, 255), Flat(0, 5000, 255, 0, 0), Flat(1, 30000, 0, 255, 0),
                                    Flat(3, 70000, 255, 255, 0)};
  TimedFrame missing;
  missing.index = 4;
  missing.missing = true;
  frames.push_back(missing);  // and tile 5 never comes
  ContactSheet sheet;
  std::string error;
  ASSERT_TRUE(ComposeContactSheet({3, 2}, 160, facts, frames, {"film.mp4", 1000}, &sheet, &error)) << error;
  const SheetLayout& layout = sheet.layout;
  EXPECT_EQ(sheet.picture.width, layout.width);
  EXPECT_EQ(sheet.picture.height, layout.height);
  ASSERT_EQ(layout.tiles.size(), 6u);
  EXPECT_EQ(layout.tiles[0].width, 160);
  EXPECT_EQ(layout.tiles[0].height, 90);
  EXPECT_EQ(sheet.times_ms, (std::vector<int64_t>{5000, 30000, 50000, 70000, -1, -1}));

  const std::array<uint8_t, 3> kColours[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
  for (size_t i = 0; i < 4; ++i) {
    // The top left, away from the time in the bottom right corner.
    const Area& tile = layout.tiles[i];
    for (auto [x, y] : {std::pair{tile.x + 2, tile.y + 2}, {tile.x + tile.width / 2, tile.y + tile.height / 3}}) {
      const uint8_t* pixel = Pixel(sheet.picture, x, y);
      EXPECT_NEAR(pixel[0], kColours[i][0], 2) << "tile " << i;
      EXPECT_NEAR(pixel[1], kColours[i][1], 2) << "tile " << i;
      EXPECT_NEAR(pixel[2], kColours[i][2], 2) << "tile " << i;
    }
  }
  for (size_t i : {4, 5}) {
    const Area& tile = layout.tiles[i];
    const uint8_t* pixel = Pixel(sheet.picture, tile.x + tile.width - 2, tile.y + 2);
    EXPECT_LT(pixel[0] + pixel[1] + pixel[2], 3 * 80) << "tile " << i << " is dark";
    EXPECT_EQ(pixel[0], pixel[2]) << "tile " << i << " is grey, no frame's colour";
  }
  // The header has text: more than one colour.
  std::set<int> shades;
  for (int y = layout.header.y; y < layout.header.y + layout.header.height; ++y)
    for (int x = layout.header.x; x < layout.header.x + layout.header.width; ++x) shades.insert(Pixel(sheet.picture, x, y)[1]);
  EXPECT_GT(shades.size(), 4u);

  std::vector<TimedFrame> none = {missing};
  EXPECT_FALSE(ComposeContactSheet({3, 2}, 160, facts, none, {"film.mp4", 1000}, &sheet, &error));
}

}  // namespace
}  // namespace thumbnail
