// The videos a run works on: those on the command line, then those listed
// by --files-from, each file once, and of them the ones of this run's shard.
#pragma once

#include <string>
#include <vector>

#include "tool/tool_options.h"

namespace thumbnail {

// The paths of the command line, then those of the --files-from list; a
// file:// URI that names no file as it stands becomes the local path it
// names. False with the reason in *error when that list cannot be read.
bool ReadVideoList(const ToolOptions& options, std::vector<std::string>* videos, std::string* error);

// A path given to the run, and the earlier one that names the same file, if
// any: the same path written again, or the same file reached another way
// (the same device and inode). Paths that name nothing are compared as
// written.
struct Input {
  std::string path;
  std::string repeat_of;  // empty for the first path of its file
};
std::vector<Input> MarkRepeats(const std::vector<std::string>& paths);

// The inputs of this run's shard, repeats marked: each file is done once,
// by its first path, and its repeats only reported.
std::vector<Input> ThisRunsShare(const std::vector<std::string>& paths, const ToolOptions& options);

// The shard, 0 to shards - 1, that a path belongs to. It depends on the
// path's bytes alone, so every machine splits a list the same way.
int ShardOf(const std::string& path, int shards);

}  // namespace thumbnail
