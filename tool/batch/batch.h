// A batch of videos thumbnailed by several servers side by side.
#pragma once

#include <string>
#include <vector>

#include "client/thumbnail_client.h"
#include "tool/frames/video_frame.h"
#include "tool/write/output_plan.h"

namespace thumbnail {

struct BatchSettings {
  std::string server_path;
  int jobs = 1;
  bool progress = false;
  bool json = false;
  FrameWanted wanted;  // which frame of each video
  Product product;     // what is made of each video
  uint64_t max_read = 0;  // the most the server reads of one video; 0 for no limit
};

// Thumbnails every job, each worker with its own server, and reports each
// video; the batch goes on past failures. Jobs that write the same picture
// run in order until one succeeds; the ones after it fail for the clash.
// Returns the number of videos that failed.
int RunBatch(const std::vector<Job>& jobs, const BatchSettings& settings);

}  // namespace thumbnail
