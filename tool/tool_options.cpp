#include "tool/tool_options.h"

#include <getopt.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace thumbnail {
namespace {

constexpr int kMaxSize = 16384;
constexpr int kMaxJobs = 64;
constexpr int kMaxShards = 1000000;
constexpr int kMaxGridSide = 100;
// The tiles of sheets and sprites, unless -s says otherwise.
constexpr int kTileSize = 320;
constexpr CacheSize kCacheSizes[] = {{"normal", 128}, {"large", 256}, {"x-large", 512}, {"xx-large", 1024}};

bool ParseCount(const char* text, int low, int high, int* value) {
  if (!*text) return false;
  char* end = nullptr;
  errno = 0;
  long n = std::strtol(text, &end, 10);
  if (errno != 0 || *end || n < low || n > high) return false;
  *value = static_cast<int>(n);
  return true;
}

// "K/N" with 0 <= K < N.
bool ParseShard(const std::string& text, int* shard, int* shards) {
  size_t slash = text.find('/');
  if (slash == std::string::npos) return false;
  return ParseCount(text.substr(slash + 1).c_str(), 1, kMaxShards, shards) &&
         ParseCount(text.substr(0, slash).c_str(), 0, *shards - 1, shard);
}

// "CxR": columns and rows.
bool ParseGrid(const std::string& text, Grid* grid) {
  size_t x = text.find('x');
  return x != std::string::npos && ParseCount(text.substr(0, x).c_str(), 1, kMaxGridSide, &grid->columns) &&
         ParseCount(text.substr(x + 1).c_str(), 1, kMaxGridSide, &grid->rows);
}

// A decimal number of at most three fraction digits, in thousandths.
bool ParseThousandths(const std::string& text, uint64_t* value) {
  size_t dot = text.find('.');
  std::string whole = text.substr(0, dot), fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
  if (whole.empty() || whole.size() > 12 || fraction.size() > 3 ||
      whole.find_first_not_of("0123456789") != std::string::npos ||
      fraction.find_first_not_of("0123456789") != std::string::npos)
    return false;
  fraction.resize(3, '0');
  *value = std::stoull(whole) * 1000 + std::stoull(fraction);
  return true;
}

}  // namespace

bool ParsePosition(const std::string& text, Position* position) {
  uint64_t value = 0;
  if (!text.empty() && text.back() == '%') {
    // Thousandths of a percent are hundred-thousandths; ten of them a millionth.
    if (!ParseThousandths(text.substr(0, text.size() - 1), &value) || value > 100000) return false;
    *position = {Position::Kind::kMillionths, static_cast<uint32_t>(value * 10)};
    return true;
  }
  // Up to two colons: hours and minutes before the seconds.
  uint64_t total = 0;
  size_t start = 0;
  int fields = 0;
  for (;;) {
    size_t colon = text.find(':', start);
    std::string field = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    bool last = colon == std::string::npos;
    if (++fields > 3 || !ParseThousandths(field, &value) || (!last && value % 1000 != 0)) return false;
    if (fields > 1 && value >= 60000) return false;
    total = total * 60 + value;
    if (last) break;
    start = colon + 1;
  }
  if (total > UINT32_MAX) return false;
  *position = {Position::Kind::kMilliseconds, static_cast<uint32_t>(total)};
  return true;
}

namespace {

enum LongOnly {
  kVersion = 256,
  kThumbnailer,
  kCache,
  kCacheSize,
  kStripExtension,
  kTree,
  kSkipExisting,
  kFilesFrom,
  kJson,
  kShard,
  kForce,
  kRetryFailed,
  kSheet,
  kSprites,
  kGrid,
  kExact,
  kWalk,
  kCrop,
  kMaxRead,
};

// Options of other thumbnailers that users type out of habit, and where
// their meaning lives here.
struct Habit {
  char option;
  const char* hint;
};
constexpr Habit kHabits[] = {
    {'i', "videos are named without -i"},
    {'c', "the picture format is -f"},
    {'v', "--version prints the version"},
    {'a', "the aspect ratio is always kept"},
    {'w', "no workaround is needed"},
};

std::string UnknownOption(int option, const char* as_typed) {
  if (!option) return std::string("unknown option ") + as_typed;
  std::string line = std::string("unknown option -") + static_cast<char>(option);
  for (const Habit& habit : kHabits)
    if (habit.option == option) line += std::string(" (") + habit.hint + ")";
  return line;
}

bool AllDigits(const char* text) { return *text && std::strspn(text, "0123456789") == std::strlen(text); }

// `-q 8`: another thumbnailer's quality, here --quiet and a video named 8.
bool QualityHabit(int argc, char** argv, std::string* error) {
  for (int i = 1; i + 1 < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "-q") != 0 || !AllDigits(argv[i + 1]) || ::access(argv[i + 1], F_OK) == 0) continue;
    *error = std::string("-q is --quiet, and there is no video '") + argv[i + 1] +
             "' (the quality is -Q 1 to 100)";
    return true;
  }
  return false;
}

std::string Range(const char* what, int low, int high, const char* given) {
  return std::string(what) + " from " + std::to_string(low) + " to " + std::to_string(high) + ", not '" + given + "'";
}

}  // namespace

std::string UsageText() {
  return "Usage: thumbnail [options] VIDEO...\n"
         "       thumbnail --cache [--cache-size SIZE] PATH...\n"
         "Writes a still picture of each video: the frame that shows it best of\n"
         "candidates spread over the video, scored on darkness, spread of tones,\n"
         "sharpness and colour, never one inside a fade or a dissolve.\n"
         "\n"
         "  -o, --output FILE|DIR|-\n"
         "               the picture for a single video, - for standard output,\n"
         "               or the folder for the pictures (made if missing). It is\n"
         "               a folder when it ends in '/', is one, has no extension\n"
         "               and is no file, or when several videos are given.\n"
         "               Default: the current folder\n"
         "  -f, --format FORMAT\n"
         "               " + FormatNames() + ", for pictures named after their\n"
         "               videos; a FILE's own extension chooses its format\n"
         "               (default " + FormatName(DefaultFormat()) + ")\n"
         "  -s, --size N scale so the longer edge is N pixels (default 256);\n"
         "               0 keeps the video's own size\n"
         "  -Q, --quality N\n"
         "               quality of a lossy format from 1 to 100 (default 90)\n"
         "  -t, --time TIME|N%\n"
         "               the first frame not too dark from this point on\n"
         "               ([[hh:]mm:]ss[.ms], or a share of the duration); the\n"
         "               end (100%, or any time past it) is the last frame\n"
         "  --walk       the first frame not too dark of the first 20 seconds,\n"
         "               as the server's own walk, instead of the scored choice\n"
         "  --crop       cut the black bars off the picture\n"
         "  -m, --prefer-cover\n"
         "               the video's embedded cover art, when it has one\n"
         "  -j, --jobs N thumbnail N videos side by side (default: one per core)\n"
         "  -q, --quiet  no progress line\n"
         "  --strip-extension\n"
         "               name the picture of film.mp4 film.png, not film.mp4.png\n"
         "  --tree       keep the folders of each video's path under the output\n"
         "               folder (a leading '/' and '..' left out)\n"
         "  --skip-existing\n"
         "               keep a picture that is newer than its video and of the\n"
         "               size asked\n"
         "  --force      replace files at the pictures' names that this tool did\n"
         "               not make (an input is never replaced)\n"
         "  --files-from FILE\n"
         "               also thumbnail the videos listed in FILE, one a line\n"
         "               (- for standard input)\n"
         "  -0, --null   the list of --files-from is separated by NUL bytes\n"
         "  --json       one JSON object a line per video on standard output:\n"
         "               path, picture, status, size, position, cover, reason,\n"
         "               chosen, candidates (each one's time and scores);\n"
         "               read (the bytes and seeks the server read of it);\n"
         "               for sheets and sprites also files, frames and times\n"
         "  --max-read SIZE\n"
         "               read at most SIZE of each video (64K to 1T; K, M, G, T\n"
         "               are powers of 1024): one that needs more fails as\n"
         "               costing too much, once SIZE is read\n"
         "  --shard K/N  do only shard K (0 to N-1) of N: a stable split of the\n"
         "               videos by their paths, for runs on several machines\n"
         "  --cache      fill the desktop thumbnail cache ($XDG_CACHE_HOME or\n"
         "               ~/.cache, thumbnails/) for each video, and for each\n"
         "               video file in the folders given; current entries kept\n"
         "  --cache-size normal|large|x-large|xx-large\n"
         "               the cache size to fill (default normal: 128 pixels)\n"
         "  --retry-failed\n"
         "               with --cache, try again the files that failed before\n"
         "               (else they are skipped until they change)\n"
         "  --sheet CxR  a contact sheet instead of a thumbnail: C x R frames from\n"
         "               5% to 95% of the video, each with its time, under the\n"
         "               file's name, duration, picture size, codecs and size;\n"
         "               -s is a tile's longer edge (default 320)\n"
         "  --sprites[=INTERVAL]\n"
         "               a seek preview instead: a frame every INTERVAL\n"
         "               ([[hh:]mm:]ss[.ms], default 10) as sprite images with\n"
         "               WebVTT cues, an HLS image playlist and a DASH adaptation\n"
         "               set, in a folder named as the picture with .sprites for\n"
         "               its extension (-o NAME.sprites names it, for one video);\n"
         "               -s is a tile's width (default 320), -f jpg (default) or\n"
         "               webp\n"
         "  --grid CxR   tiles in each sprite image (default 10x10)\n"
         "  --exact      with --sheet or --sprites, the frame shown at each time\n"
         "               instead of the key frame at or before it (slower)\n"
         "  --thumbnailer -s N INPUT OUTPUT\n"
         "               desktop thumbnailer mode: INPUT a path or file:// URI,\n"
         "               OUTPUT a PNG with the Thumb:: text chunks\n"
         "  -h, --help   this text\n"
         "  --version    the version\n"
         "\n"
         "The server is thumbnail-server: the one THUMBNAIL_SERVER names, else\n"
         "the one beside this program, else the first on PATH.\n"
         "\n"
         "Exit status: 0 when every picture was written or kept, 1 when some\n"
         "failed or the output cannot be written, 2 for bad options.\n";
}

bool ParseReadBudget(const std::string& text, uint64_t* bytes) {
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  // Twelve digits are already past the largest budget.
  if (digits == 0 || digits > 13) return false;
  uint64_t value = std::stoull(text.substr(0, digits));
  std::string unit = text.substr(digits);
  for (char& c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (unit.size() > 1 && (unit.substr(1) == "B" || unit.substr(1) == "IB")) unit = unit.substr(0, 1);
  int shift = -1;
  const char* units[] = {"", "K", "M", "G", "T"};
  for (int i = 0; i < 5; ++i)
    if (unit == units[i]) shift = 10 * i;
  if (shift < 0 || value > (kMaxReadBudget >> shift)) return false;
  value <<= shift;
  if (value < kMinReadBudget) return false;
  *bytes = value;
  return true;
}

bool ParseToolOptions(int argc, char** argv, ToolOptions* options, std::string* error) {
  static const option kLong[] = {{"output", required_argument, nullptr, 'o'},
                                 {"format", required_argument, nullptr, 'f'},
                                 {"size", required_argument, nullptr, 's'},
                                 {"quality", required_argument, nullptr, 'Q'},
                                 {"time", required_argument, nullptr, 't'},
                                 {"prefer-cover", no_argument, nullptr, 'm'},
                                 {"jobs", required_argument, nullptr, 'j'},
                                 {"quiet", no_argument, nullptr, 'q'},
                                 {"null", no_argument, nullptr, '0'},
                                 {"help", no_argument, nullptr, 'h'},
                                 {"version", no_argument, nullptr, kVersion},
                                 {"thumbnailer", no_argument, nullptr, kThumbnailer},
                                 {"cache", no_argument, nullptr, kCache},
                                 {"cache-size", required_argument, nullptr, kCacheSize},
                                 {"strip-extension", no_argument, nullptr, kStripExtension},
                                 {"tree", no_argument, nullptr, kTree},
                                 {"skip-existing", no_argument, nullptr, kSkipExisting},
                                 {"files-from", required_argument, nullptr, kFilesFrom},
                                 {"json", no_argument, nullptr, kJson},
                                 {"shard", required_argument, nullptr, kShard},
                                 {"force", no_argument, nullptr, kForce},
                                 {"retry-failed", no_argument, nullptr, kRetryFailed},
                                 {"sheet", required_argument, nullptr, kSheet},
                                 {"sprites", optional_argument, nullptr, kSprites},
                                 {"grid", required_argument, nullptr, kGrid},
                                 {"exact", no_argument, nullptr, kExact},
                                 {"walk", no_argument, nullptr, kWalk},
                                 {"crop", no_argument, nullptr, kCrop},
                                 {"max-read", required_argument, nullptr, kMaxRead},
                                 {nullptr, 0, nullptr, 0}};
  *options = ToolOptions{};
  opterr = 0;
  optind = 0;  // 0 also resets getopt's own state between calls
  bool cache_size_given = false;
  bool prefer_cover = false;  // -m, kept apart from -t, which replaces the position
  bool time_given = false, size_given = false, grid_given = false, exact = false;
  bool sheet = false, sprites = false;
  Grid sheet_grid, sprite_grid{10, 10};
  // The options that shape pictures named by the tool, which the desktop
  // cache names and sizes itself.
  std::string picture_option;
  if (QualityHabit(argc, argv, error)) return false;
  int c;
  while ((c = getopt_long(argc, argv, ":o:f:s:Q:t:mj:q0h", kLong, nullptr)) != -1) {
    switch (c) {
      case 'o':
        options->output = optarg;
        if (options->output.empty()) {
          *error = "-o needs a file or folder name";
          return false;
        }
        break;
      case 'f':
        options->format = FormatNamed(optarg);
        if (!options->format) {
          *error = std::string("unknown picture format '") + optarg + "' (" + FormatNames() + ")";
          return false;
        }
        options->format_given = true;
        picture_option = "-f";
        break;
      case 's':
        if (!ParseCount(optarg, 0, kMaxSize, &options->size)) {
          *error = Range("-s wants a size", 0, kMaxSize, optarg);
          return false;
        }
        picture_option = "-s";
        size_given = true;
        break;
      case 'Q':
        if (!ParseCount(optarg, 1, 100, &options->quality)) {
          *error = Range("-Q wants a quality", 1, 100, optarg);
          return false;
        }
        picture_option = "-Q";
        break;
      case 't':
        if (!ParsePosition(optarg, &options->wanted.where)) {
          *error = std::string("-t wants [[hh:]mm:]ss[.ms] or a percentage, not '") + optarg + "'";
          return false;
        }
        time_given = true;
        options->wanted.walk = true;
        break;
      case 'm':
        prefer_cover = true;
        break;
      case 'j':
        if (!ParseCount(optarg, 1, kMaxJobs, &options->jobs)) {
          *error = Range("-j wants a count", 1, kMaxJobs, optarg);
          return false;
        }
        break;
      case 'q':
        options->quiet = true;
        break;
      case '0':
        options->null_separated = true;
        break;
      case 'h':
        options->action = ToolOptions::Action::kHelp;
        return true;
      case kVersion:
        options->action = ToolOptions::Action::kVersion;
        return true;
      case kThumbnailer:
        options->thumbnailer = true;
        break;
      case kCache:
        options->cache = true;
        break;
      case kCacheSize: {
        const CacheSize* match = nullptr;
        for (const CacheSize& size : kCacheSizes)
          if (std::strcmp(size.name, optarg) == 0) match = &size;
        if (!match) {
          *error = std::string("unknown cache size '") + optarg + "' (normal, large, x-large or xx-large)";
          return false;
        }
        options->cache_size = *match;
        cache_size_given = true;
        break;
      }
      case kStripExtension:
        options->strip_extension = true;
        picture_option = "--strip-extension";
        break;
      case kTree:
        options->tree = true;
        picture_option = "--tree";
        break;
      case kSkipExisting:
        options->skip_existing = true;
        break;
      case kForce:
        options->force = true;
        break;
      case kRetryFailed:
        options->retry_failed = true;
        break;
      case kWalk:
        options->wanted.walk = true;
        break;
      case kCrop:
        options->wanted.crop = true;
        break;
      case kFilesFrom:
        options->files_from = optarg;
        break;
      case kJson:
        options->json = true;
        break;
      case kMaxRead:
        if (!ParseReadBudget(optarg, &options->max_read)) {
          *error = std::string("--max-read wants a size from 64K to 1T (K, M, G and T are powers of 1024), not '") +
                   optarg + "'";
          return false;
        }
        break;
      case kShard:
        if (!ParseShard(optarg, &options->shard, &options->shards)) {
          *error = std::string("--shard wants K/N with K from 0 to N-1, not '") + optarg + "'";
          return false;
        }
        break;
      case kSheet:
        if (!ParseGrid(optarg, &sheet_grid)) {
          *error = std::string("--sheet wants CxR, columns and rows from 1 to ") + std::to_string(kMaxGridSide) +
                   ", not '" + optarg + "'";
          return false;
        }
        sheet = true;
        break;
      case kSprites: {
        Position interval{Position::Kind::kMilliseconds, options->product.interval_ms};
        if (optarg && (!ParsePosition(optarg, &interval) || interval.kind != Position::Kind::kMilliseconds ||
                       interval.value == 0)) {
          *error = std::string("--sprites wants an interval of [[hh:]mm:]ss[.ms], more than 0, not '") + optarg +
                   "'";
          return false;
        }
        options->product.interval_ms = interval.value;
        sprites = true;
        break;
      }
      case kGrid:
        if (!ParseGrid(optarg, &sprite_grid)) {
          *error = std::string("--grid wants CxR, columns and rows from 1 to ") + std::to_string(kMaxGridSide) +
                   ", not '" + optarg + "'";
          return false;
        }
        grid_given = true;
        break;
      case kExact:
        exact = true;
        break;
      case ':': {
        std::string name = argv[optind - 1];
        if (name.compare(0, 2, "--") != 0) name = std::string("-") + static_cast<char>(optopt);
        *error = "option " + name + " needs a value";
        return false;
      }
      default:
        *error = UnknownOption(optopt, argv[optind - 1]);
        return false;
    }
  }
  // The cover is the walk's: the choice weighs frames of the video.
  options->wanted.where.prefer_cover = prefer_cover;
  if (prefer_cover) options->wanted.walk = true;
  options->videos.assign(argv + optind, argv + argc);
  if (sheet && sprites) {
    *error = "--sheet and --sprites each make their own files: run the tool once for each";
    return false;
  }
  if (grid_given && !sprites) {
    *error = "--grid goes with --sprites (a sheet's grid is --sheet's own)";
    return false;
  }
  if (exact && !sheet && !sprites) {
    *error = "--exact goes with --sheet or --sprites";
    return false;
  }
  if (sheet || sprites) {
    Product& product = options->product;
    product.kind = sheet ? Product::Kind::kSheet : Product::Kind::kSprites;
    product.grid = sheet ? sheet_grid : sprite_grid;
    product.mode = exact ? FramesRequest::Mode::kExact : FramesRequest::Mode::kKeyFrame;
    const std::string what = sheet ? "--sheet" : "--sprites";
    const std::pair<bool, const char*> kRefused[] = {
        {options->thumbnailer, "--thumbnailer, which writes one thumbnail,"},
        {options->cache, "--cache, whose entries are thumbnails,"},
        {time_given, "-t, as the frames come from the whole video,"},
        {prefer_cover, "-m, as the frames come from the whole video,"},
        {options->skip_existing, "--skip-existing, as the files are made again each run,"},
        {sprites && options->output == "-", "-o -, as the files make a folder,"},
    };
    for (const auto& [given, option] : kRefused)
      if (given) {
        *error = std::string(option) + " does not go with " + what;
        return false;
      }
    if (sprites && options->format_given && options->format != FormatNamed("jpg") &&
        options->format != FormatNamed("webp")) {
      *error = std::string("--sprites writes jpg or webp images, not ") + FormatName(options->format);
      return false;
    }
    if (!size_given) options->size = kTileSize;
    if (sprites && !options->format_given) options->format = FormatNamed("jpg");
  }
  if (options->thumbnailer) {
    if (options->videos.size() != 2) {
      *error = "--thumbnailer wants an INPUT and an OUTPUT";
      return false;
    }
    return true;
  }
  if (cache_size_given && !options->cache) {
    *error = "--cache-size goes with --cache";
    return false;
  }
  if (options->cache && !options->output.empty()) {
    *error = "--cache writes into the desktop cache, not to -o";
    return false;
  }
  if (options->cache && !picture_option.empty()) {
    *error = picture_option + " does not go with --cache, which names and sizes its entries itself (--cache-size)";
    return false;
  }
  if (options->retry_failed && !options->cache) {
    *error = "--retry-failed goes with --cache";
    return false;
  }
  if (options->null_separated && options->files_from.empty()) {
    *error = "-0 goes with --files-from";
    return false;
  }
  if (options->output == "-" && options->json) {
    *error = "-o - and --json both want standard output";
    return false;
  }
  if (options->videos.empty() && options->files_from.empty()) {
    *error = "no video given";
    return false;
  }
  return true;
}

}  // namespace thumbnail
