// A sprite track made of frames handed in directly, as the server would
// send them: which frames become tiles and where, how grids split at a
// format's edge, the cues and playlists that place the tiles in time, and
// the folder that holds them appearing whole or not at all.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/client/picture_files.h"
#include "tool/compose/sprite_track.h"
#include "tool/encode/sprite_track_files.h"

namespace thumbnail {
namespace {

// A key frame of a 128 x 72 video whose grey level tells which it is.
TimedFrame KeyFrame(size_t index, uint32_t ms, uint8_t level) {
  TimedFrame frame;
  frame.index = index;
  frame.origin = {FrameOrigin::Source::kVideo, ms};
  frame.frame = {128, 72, std::vector<uint8_t>(128 * 72 * 3, level)};
  return frame;
}

TimedFrame Missing(size_t index) {
  TimedFrame frame;
  frame.index = index;
  frame.missing = true;
  return frame;
}

VideoFacts Facts(int64_t duration_ms) {
  VideoFacts facts;
  facts.duration_ms = duration_ms;
  facts.width = 128;
  facts.height = 72;
  facts.video_codec = "h264";
  return facts;
}

// The grid narrows at the format's edge and the rest goes to more images;
// a tile that alone passes the edge cannot be.
TEST(FitGrid, NarrowsToTheFormatsEdgeAndRefusesATileTooLarge) {
  struct Case {
    Grid asked;
    PictureSize tile;
    int max_edge;
    bool fits;
    Grid fitted;
  };
  const Case kCases[] = {
      {{10, 10}, {320, 180}, 65500, true, {10, 10}},   // JPEG: as asked
      {{10, 10}, {2000, 1125}, 16383, true, {8, 10}},  // WebP: 20000 px is too wide
      {{60, 60}, {320, 180}, 16383, true, {51, 60}},
      {{10, 10}, {7000, 3000}, 16383, true, {2, 5}},
      {{3, 3}, {16383, 16383}, 16383, true, {1, 1}},   // exactly at the edge
      {{4, 4}, {16384, 100}, 16383, false, {}},
      {{4, 4}, {100, 70000}, 65500, false, {}},
  };
  for (const Case& c : kCases) {
    Grid fitted;
    ASSERT_EQ(FitGrid(c.asked, c.tile, c.max_edge, &fitted), c.fits) << c.tile.width << "x" << c.tile.height;
    if (!c.fits) continue;
    EXPECT_EQ(fitted.columns, c.fitted.columns) << c.tile.width;
    EXPECT_EQ(fitted.rows, c.fitted.rows) << c.tile.width;
  }
}

// Key frames rarer than the interval come again for the next positions;
// each makes one tile, and a missing frame, a frame without a time, one
// that goes back in time or lies at the end make none. Caught: repeated
// key frames as zero-length cues, a missing frame as a black tile.
TEST(SpriteTrackBuilder, OneTileForEachNewTimeAndCuesThatMeet) {
  SpriteTrackBuilder builder({2, 2}, 64, 65500, 1000);
  builder.Start(Facts(9000));
  TimedFrame untimed = KeyFrame(9, 500, 90);
  untimed.origin.source = FrameOrigin::Source::kUnknownTime;
  const TimedFrame frames[] = {KeyFrame(0, 0, 10),    KeyFrame(1, 0, 10),    KeyFrame(2, 2000, 20),
                               KeyFrame(3, 2000, 20), KeyFrame(4, 4000, 40), Missing(5),
                               KeyFrame(6, 6000, 60), KeyFrame(7, 5000, 50), untimed,
                               KeyFrame(8, 8000, 80), KeyFrame(9, 9000, 99)};
  std::vector<Frame> images;
  std::string error;
  for (const TimedFrame& frame : frames) {
    ASSERT_TRUE(builder.Add(frame, &error)) << error;
    Frame full;
    if (builder.TakeFullImage(&full)) images.push_back(std::move(full));
  }
  ASSERT_EQ(images.size(), 1u) << "the first image fills at its fourth tile";
  Frame last;
  ASSERT_TRUE(builder.Finish(&last, &error)) << error;
  images.push_back(std::move(last));

  const SpriteTrack& track = builder.track();
  EXPECT_EQ(track.tile.width, 64);
  EXPECT_EQ(track.tile.height, 36);
  struct Expected {
    int64_t start, end;
    size_t image;
    int x, y;
    uint8_t level;
  };
  const Expected kTiles[] = {{0, 2000, 0, 0, 0, 10},    {2000, 4000, 0, 64, 0, 20}, {4000, 6000, 0, 0, 36, 40},
                             {6000, 8000, 0, 64, 36, 60}, {8000, 9000, 1, 0, 0, 80}};
  ASSERT_EQ(track.tiles.size(), std::size(kTiles));
  for (size_t i = 0; i < track.tiles.size(); ++i) {
    const SpriteTile& tile = track.tiles[i];
    const Expected& want = kTiles[i];
    EXPECT_EQ(tile.start_ms, want.start) << i;
    EXPECT_EQ(tile.end_ms, want.end) << i;
    EXPECT_EQ(tile.image, want.image) << i;
    EXPECT_EQ(tile.x, want.x) << i;
    EXPECT_EQ(tile.y, want.y) << i;
    // The frame is in its own tile, corner to corner.
    const Frame& image = images[tile.image];
    for (auto [dx, dy] : {std::pair{0, 0}, {63, 35}}) {
      const size_t at = (static_cast<size_t>(tile.y + dy) * image.width + tile.x + dx) * 3;
      EXPECT_NEAR(image.bgr[at], want.level, 1) << i << " at " << dx << "," << dy;
    }
  }
  EXPECT_EQ(track.end_ms, 9000);
  ASSERT_EQ(track.images.size(), 2u);
  EXPECT_EQ(images[0].width, 128);
  EXPECT_EQ(images[0].height, 72);
  // The last image keeps only the rows it fills.
  EXPECT_EQ(track.images[1].grid.rows, 1);
  EXPECT_EQ(track.images[1].tiles, 1u);
  EXPECT_EQ(images[1].height, 36);
}

// An image that would pass the format's edge is split: the grid narrows,
// and more images hold the tiles.
TEST(SpriteTrackBuilder, AGridPastTheFormatsEdgeBecomesMoreImages) {
  // Tiles of 128 x 72 in a 4 x 4 grid: 512 px wide, past an edge of 300.
  SpriteTrackBuilder builder({4, 4}, 0, 300, 1000);
  builder.Start(Facts(20000));
  std::vector<Frame> images;
  std::string error;
  for (uint32_t i = 0; i < 20; ++i) {
    ASSERT_TRUE(builder.Add(KeyFrame(i, i * 1000, static_cast<uint8_t>(i * 10)), &error)) << error;
    Frame full;
    if (builder.TakeFullImage(&full)) images.push_back(std::move(full));
  }
  Frame last;
  ASSERT_TRUE(builder.Finish(&last, &error));
  images.push_back(std::move(last));
  const SpriteTrack& track = builder.track();
  EXPECT_EQ(track.grid.columns, 2);
  EXPECT_EQ(track.grid.rows, 4);
  ASSERT_EQ(images.size(), 3u);
  for (const Frame& image : images) {
    EXPECT_LE(image.width, 300);
    EXPECT_LE(image.height, 300);
  }
  EXPECT_EQ(track.images[2].tiles, 4u);
  EXPECT_EQ(track.tiles[19].image, 2u);

}

// Without a duration the last cue lasts an interval; without a single
// frame there is no track at all.
TEST(SpriteTrackBuilder, UnknownEndsAndNoFrames) {
  SpriteTrackBuilder builder({10, 10}, 320, 65500, 2500);
  builder.Start(Facts(-1));
  std::string error;
  ASSERT_TRUE(builder.Add(KeyFrame(0, 0, 1), &error));
  ASSERT_TRUE(builder.Add(KeyFrame(1, 2500, 2), &error));
  Frame last;
  ASSERT_TRUE(builder.Finish(&last, &error));
  EXPECT_EQ(builder.track().tiles.back().end_ms, 5000);
  // Never wider than the video.
  EXPECT_EQ(builder.track().tile.width, 128);
  EXPECT_EQ(last.width, 1280);
  EXPECT_EQ(last.height, 72);

  SpriteTrackBuilder empty({10, 10}, 320, 65500, 1000);
  empty.Start(Facts(5000));
  ASSERT_TRUE(empty.Add(Missing(0), &error));
  EXPECT_FALSE(empty.Finish(&last, &error));
  EXPECT_FALSE(error.empty());
}

// Five tiles of 160 x 90 in 2 x 2 images over 9.5 s.
SpriteTrack FiveTiles() {
  SpriteTrack track;
  track.tile = {160, 90};
  track.grid = {2, 2};
  track.images = {{{2, 2}, 0, 4}, {{2, 1}, 4, 1}};
  track.tiles = {{0, 2000, 0, 0, 0},    {2000, 4000, 0, 160, 0}, {4000, 6000, 0, 0, 90},
                 {6000, 8000, 0, 160, 90}, {8000, 9500, 1, 0, 0}};
  track.end_ms = 9500;
  return track;
}

TEST(SpriteTrackFiles, CuesPointIntoTheImagesForEachTilesOwnTime) {
  EXPECT_EQ(WebVttCues(FiveTiles(), FormatNamed("jpg")),
            std::string("WEBVTT\n\nNOTE ") + SoftwareName() + "\n" +
                "\n00:00:00.000 --> 00:00:02.000\nsprites-001.jpg#xywh=0,0,160,90\n"
                "\n00:00:02.000 --> 00:00:04.000\nsprites-001.jpg#xywh=160,0,160,90\n"
                "\n00:00:04.000 --> 00:00:06.000\nsprites-001.jpg#xywh=0,90,160,90\n"
                "\n00:00:06.000 --> 00:00:08.000\nsprites-001.jpg#xywh=160,90,160,90\n"
                "\n00:00:08.000 --> 00:00:09.500\nsprites-002.jpg#xywh=0,0,160,90\n");
  EXPECT_EQ(SpriteImageName(0, FormatNamed("webp")), "sprites-001.webp");
  EXPECT_EQ(SpriteImageName(999, FormatNamed("jpg")), "sprites-1000.jpg");
}

// Caught: image durations that did not add up to the video's, a last
// image that claimed the whole grid, a DASH timeline that spread the last
// image's tiles over the grid's full count.
TEST(SpriteTrackFiles, PlaylistsCoverTheVideoImageByImage) {
  const SpriteTrack track = FiveTiles();
  EXPECT_EQ(HlsImagePlaylist(track, FormatNamed("jpg")),
            "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-TARGETDURATION:8\n#EXT-X-MEDIA-SEQUENCE:0\n"
            "#EXT-X-PLAYLIST-TYPE:VOD\n#EXT-X-IMAGES-ONLY\n"
            "#EXTINF:8.000,\n#EXT-X-TILES:RESOLUTION=160x90,LAYOUT=2x2,DURATION=2.000\nsprites-001.jpg\n"
            "#EXTINF:1.500,\n#EXT-X-TILES:RESOLUTION=160x90,LAYOUT=2x1,DURATION=1.500\nsprites-002.jpg\n"
            "#EXT-X-ENDLIST\n");
  // 9500 bytes over 9.5 s: 8000 bits a second.
  EXPECT_EQ(HlsMasterLine(track, FormatNamed("jpg"), 9500),
            "#EXT-X-IMAGE-STREAM-INF:BANDWIDTH=8000,RESOLUTION=160x90,CODECS=\"jpeg\",URI=\"thumbnails.m3u8\"\n");
  EXPECT_EQ(DashAdaptationSet(track, FormatNamed("webp"), 9500),
            "<AdaptationSet contentType=\"image\" mimeType=\"image/webp\">\n"
            "  <SegmentTemplate media=\"sprites-$Number%03d$.webp\" startNumber=\"1\" timescale=\"1000\">\n"
            "    <SegmentTimeline>\n"
            "      <S t=\"0\" d=\"8000\"/>\n"
            "      <S d=\"6000\"/>\n"
            "    </SegmentTimeline>\n"
            "  </SegmentTemplate>\n"
            "  <Representation id=\"thumbnails\" bandwidth=\"8000\" width=\"320\" height=\"180\">\n"
            "    <EssentialProperty schemeIdUri=\"http://dashif.org/thumbnail_tile\" value=\"2x2\"/>\n"
            "  </Representation>\n"
            "</AdaptationSet>\n");

  // The first image covers from 0 though its first frame comes later.
  SpriteTrack late = track;
  late.tiles[0].start_ms = 40;
  EXPECT_NE(HlsImagePlaylist(late, FormatNamed("jpg")).find("#EXTINF:8.000,"), std::string::npos);
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A folder is the tool's own only when it holds nothing but a track's
// files and its cues carry the mark: a user's file in it, or cues of
// another maker, keep it from being replaced unasked.
TEST(SpriteTrackFiles, OnlyAFolderOfTheToolsOwnFilesIsItsOwn) {
  const std::string root = ScratchFolder("own-sprite-folder");
  const std::string cues = WebVttCues(FiveTiles(), FormatNamed("jpg"));
  struct Case {
    const char* why;
    std::vector<std::pair<std::string, std::string>> files;
    bool own;
  };
  const Case kCases[] = {
      {"a track", {{"thumbnails.vtt", cues}, {"sprites-001.jpg", "x"}, {"thumbnails.m3u8", ""}}, true},
      {"a user's file too", {{"thumbnails.vtt", cues}, {"notes.txt", "mine"}}, false},
      {"another maker's cues", {{"thumbnails.vtt", "WEBVTT\n\n00:00.000 --> 00:01.000\na.jpg\n"}}, false},
  };
  for (const Case& c : kCases) {
    const std::string folder = root + "/" + c.why;
    std::filesystem::create_directories(folder);
    for (const auto& [name, text] : c.files) WriteText(folder + "/" + name, text);
    EXPECT_EQ(IsOwnSpriteFolder(folder), c.own) << c.why;
  }
  std::filesystem::create_directories(root + "/a track/inner");
  EXPECT_FALSE(IsOwnSpriteFolder(root + "/a track")) << "a folder inside";
  EXPECT_FALSE(IsOwnSpriteFolder(root + "/nothing here"));
}

}  // namespace
}  // namespace thumbnail
