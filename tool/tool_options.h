// The command line of the `thumbnail` tool.
#pragma once

#include <string>
#include <vector>

#include "client/thumbnail_client.h"
#include "tool/compose/tile_grid.h"
#include "tool/encode/picture_formats.h"
#include "tool/frames/video_frame.h"

namespace thumbnail {

// The freedesktop thumbnail cache's sizes: the folder name and the longer
// edge of its pictures.
struct CacheSize {
  const char* name = "normal";
  int edge = 128;
};

// What the tool makes of each video.
struct Product {
  enum class Kind {
    kThumbnail,  // a picture of one frame
    kSheet,      // --sheet: a contact sheet, a picture of many
    kSprites,    // --sprites: a folder of sprite images and the files that place them in time
  };
  Kind kind = Kind::kThumbnail;
  Grid grid;                      // --sheet's tiles, or --grid's in each sprite image
  uint32_t interval_ms = 10000;   // --sprites=INTERVAL
  FramesRequest::Mode mode = FramesRequest::Mode::kKeyFrame;  // kExact with --exact
};

struct ToolOptions {
  enum class Action { kRun, kHelp, kVersion };
  Action action = Action::kRun;
  std::vector<std::string> videos;  // as given on the command line
  std::string files_from;           // --files-from: a list of videos, "-" for stdin
  bool null_separated = false;      // -0: that list is NUL-separated
  std::string output;  // -o: a picture for one video, a folder, "-" for stdout; empty for the current folder
  bool format_given = false;
  ImageFormat format = DefaultFormat();    // -f: for pictures named after their videos
  int size = 256;                          // -s: the longer edge (a sprite's width); 0 keeps the frame's own size
  int jobs = 0;                            // -j: servers side by side; 0 for one per core
  int quality = 90;                        // -Q: quality of a lossy format
  FrameWanted wanted;                      // -t, -m, --walk, --crop: which frame
  bool quiet = false;                      // -q
  bool strip_extension = false;            // the picture of film.mp4 is film.png, not film.mp4.png
  bool tree = false;                       // pictures in the folders of their videos' paths, under -o
  bool skip_existing = false;              // a picture newer than its video is kept
  bool force = false;                      // a file this tool did not make may be replaced (never an input)
  bool json = false;                       // one JSON line per video on stdout
  int shard = 0;                           // --shard K/N: this run does the videos of shard K of N
  int shards = 1;
  bool thumbnailer = false;  // --thumbnailer
  bool cache = false;        // --cache: fill the desktop thumbnail cache
  CacheSize cache_size;
  bool retry_failed = false;  // --retry-failed: try the files the cache remembers as failed
  uint64_t max_read = 0;      // --max-read: the most the server reads of one video; 0 for no limit
  Product product;
};

// Reads argv. False, with a one-line complaint in *error, for an unknown
// option, a missing or malformed value, options that do not go together, or
// no video at all.
bool ParseToolOptions(int argc, char** argv, ToolOptions* options, std::string* error);

// -t's value: [[hh:]mm:]ss[.fff] or N% (a share of the duration, to a
// millionth). False for anything else, or a time past 49 days.
bool ParsePosition(const std::string& text, Position* position);

// --max-read's bounds: less than one read of the server's input buffer
// cannot give any picture, and more than this is no limit at all.
inline constexpr uint64_t kMinReadBudget = uint64_t{64} << 10;
inline constexpr uint64_t kMaxReadBudget = uint64_t{1} << 40;

// --max-read's value: digits and an optional K, M, G or T (powers of 1024,
// "KB" and "KiB" alike), from kMinReadBudget to kMaxReadBudget. False for
// anything else.
bool ParseReadBudget(const std::string& text, uint64_t* bytes);

// The --help text.
std::string UsageText();

}  // namespace thumbnail
