// A batch of videos thumbnailed by several servers side by side.
#pragma once

#include <string>
#include <vector>

#include "client/output_plan.h"

namespace thumbnail {

struct BatchSettings {
  std::string server_path;
  int jobs = 1;
  int longer_edge = 256;
  bool progress = false;
};

// Thumbnails every job that is not refused, each worker with its own
// server, and reports each failure; the batch goes on past them. Returns
// the number of videos that failed.
int RunBatch(const std::vector<Job>& jobs, const BatchSettings& settings);

}  // namespace thumbnail
