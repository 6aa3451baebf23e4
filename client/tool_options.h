// The command line of the `thumbnail` tool.
#pragma once

#include <string>
#include <vector>

#include "client/image_encoders.h"

namespace thumbnail {

struct ToolOptions {
  enum class Action { kRun, kHelp, kVersion };
  Action action = Action::kRun;
  std::vector<std::string> videos;
  std::string output;  // -o: a picture for one video, or a folder; empty for the current folder
  bool format_given = false;
  ImageFormat format = ImageFormat::kPng;  // -f: for pictures named after their videos
  int size = 256;                          // -s: the longer edge; 0 keeps the frame's own size
  int jobs = 0;                            // -j: servers side by side; 0 for one per core
  bool quiet = false;                      // -q
  bool thumbnailer = false;                // --thumbnailer
};

// Reads argv. False, with the complaint in *error, for an unknown option, a
// missing or malformed value, or a wrong number of videos.
bool ParseToolOptions(int argc, char** argv, ToolOptions* options, std::string* error);

// The --help text.
std::string UsageText();

}  // namespace thumbnail
