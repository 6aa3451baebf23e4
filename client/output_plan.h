// Where the tool writes the picture of each video.
#pragma once

#include <string>
#include <vector>

#include "client/tool_options.h"

namespace thumbnail {

struct Job {
  std::string video;
  std::string output;
  ImageFormat format = ImageFormat::kPng;
  // Set when the job must not run: another video of the batch already
  // writes the same picture.
  std::string refused;
};

// One job per video. -o names the picture for a single video unless it ends
// in '/' or is a folder; for several videos it is a folder, made if
// missing. Pictures in a folder are named after their videos (the name
// without its extension, and the format's). False with a complaint in
// *error for a picture name without a known format, or a single picture
// name for several videos.
bool PlanOutputs(const ToolOptions& options, std::vector<Job>* jobs, std::string* error);

}  // namespace thumbnail
