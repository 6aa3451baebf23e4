#include "client/tool_options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>

namespace thumbnail {
namespace {

constexpr int kMaxSize = 16384;
constexpr int kMaxJobs = 64;

bool ParseCount(const char* text, int low, int high, int* value) {
  if (!*text) return false;
  char* end = nullptr;
  errno = 0;
  long n = std::strtol(text, &end, 10);
  if (errno != 0 || *end || n < low || n > high) return false;
  *value = static_cast<int>(n);
  return true;
}

enum LongOnly { kHelp = 256, kVersion, kThumbnailer };

}  // namespace

std::string UsageText() {
  return "Usage: thumbnail [options] VIDEO...\n"
         "Writes a still picture of each video, skipping dark frames at its start.\n"
         "\n"
         "  -o FILE|DIR  the picture for a single video, or the folder for the\n"
         "               pictures (made if missing); default: the current folder,\n"
         "               each picture named after its video\n"
         "  -f FORMAT    png, jpg or bmp, for pictures named after their videos;\n"
         "               a FILE's own extension chooses its format (default png)\n"
         "  -s N         scale so the longer edge is N pixels (default 256);\n"
         "               0 keeps the video's own size\n"
         "  -j N         thumbnail N videos side by side (default: one per core)\n"
         "  -q           no progress line\n"
         "  --thumbnailer -s N INPUT OUTPUT\n"
         "               desktop thumbnailer mode: INPUT a path or file:// URI,\n"
         "               OUTPUT a PNG with the Thumb:: text chunks\n"
         "  --help       this text\n"
         "  --version    the version\n"
         "\n"
         "Exit status: 0 when every picture was written, 1 when some failed,\n"
         "2 for bad options.\n";
}

bool ParseToolOptions(int argc, char** argv, ToolOptions* options, std::string* error) {
  static const option kLong[] = {{"help", no_argument, nullptr, kHelp},
                                 {"version", no_argument, nullptr, kVersion},
                                 {"thumbnailer", no_argument, nullptr, kThumbnailer},
                                 {nullptr, 0, nullptr, 0}};
  *options = ToolOptions{};
  opterr = 0;
  optind = 0;  // 0 also resets getopt's own state between calls
  int c;
  while ((c = getopt_long(argc, argv, ":o:f:s:j:q", kLong, nullptr)) != -1) {
    switch (c) {
      case 'o':
        options->output = optarg;
        if (options->output.empty()) {
          *error = "-o needs a file or folder name";
          return false;
        }
        break;
      case 'f':
        if (!FormatFromName(std::string(".") + optarg, &options->format)) {
          *error = std::string("unknown picture format '") + optarg + "' (png, jpg or bmp)";
          return false;
        }
        options->format_given = true;
        break;
      case 's':
        if (!ParseCount(optarg, 0, kMaxSize, &options->size)) {
          *error = std::string("-s wants a size from 0 to ") + std::to_string(kMaxSize) + ", not '" + optarg + "'";
          return false;
        }
        break;
      case 'j':
        if (!ParseCount(optarg, 1, kMaxJobs, &options->jobs)) {
          *error = std::string("-j wants a count from 1 to ") + std::to_string(kMaxJobs) + ", not '" + optarg + "'";
          return false;
        }
        break;
      case 'q':
        options->quiet = true;
        break;
      case kHelp:
        options->action = ToolOptions::Action::kHelp;
        return true;
      case kVersion:
        options->action = ToolOptions::Action::kVersion;
        return true;
      case kThumbnailer:
        options->thumbnailer = true;
        break;
      case ':':
        *error = std::string("option -") + static_cast<char>(optopt) + " needs a value";
        return false;
      default:
        *error = optopt ? std::string("unknown option -") + static_cast<char>(optopt)
                        : std::string("unknown option ") + argv[optind - 1];
        return false;
    }
  }
  options->videos.assign(argv + optind, argv + argc);
  if (options->thumbnailer) {
    if (options->videos.size() != 2) {
      *error = "--thumbnailer wants an INPUT and an OUTPUT";
      return false;
    }
    return true;
  }
  if (options->videos.empty()) {
    *error = "no video given";
    return false;
  }
  return true;
}

}  // namespace thumbnail
