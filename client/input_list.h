// The videos a run works on: those on the command line, then those listed
// by --files-from, each file once, and of them the ones of this run's shard.
#pragma once

#include <string>
#include <vector>

#include "client/tool_options.h"

namespace thumbnail {

// The paths of the command line, then those of the --files-from list.
// False with the reason in *error when that list cannot be read.
bool ReadVideoList(const ToolOptions& options, std::vector<std::string>* videos, std::string* error);

// The paths this run does: each file once, and of them those of its shard.
std::vector<std::string> ThisRunsShare(const std::vector<std::string>& paths, const ToolOptions& options);

// The paths with every repeat left out, the first of each kept: the same
// path written again, or the same file reached another way (the same
// device and inode). Paths that name nothing are compared as written.
std::vector<std::string> WithoutRepeats(const std::vector<std::string>& paths);

// The shard, 0 to shards - 1, that a path belongs to. It depends on the
// path's bytes alone, so every machine splits a list the same way.
int ShardOf(const std::string& path, int shards);

}  // namespace thumbnail
