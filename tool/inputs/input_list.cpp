#include "tool/inputs/input_list.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "client/system.h"
#include "tool/inputs/file_uri.h"
#include "tool/inputs/md5.h"

namespace thumbnail {
namespace {

bool ReadList(const std::string& name, char separator, std::vector<std::string>* out, std::string* error) {
  std::ifstream file;
  if (name != "-") {
    file.open(name, std::ios::binary);
    if (!file) {
      *error = "cannot read the list " + name + ": " + ErrorText(errno);
      return false;
    }
  }
  std::istream& in = name == "-" ? std::cin : file;
  for (std::string line; std::getline(in, line, separator);) {
    if (separator == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) out->push_back(line);
  }
  if (in.bad()) {
    *error = "cannot read the list " + name;
    return false;
  }
  return true;
}

}  // namespace

bool ReadVideoList(const ToolOptions& options, std::vector<std::string>* videos, std::string* error) {
  *videos = options.videos;
  if (!options.files_from.empty() &&
      !ReadList(options.files_from, options.null_separated ? '\0' : '\n', videos, error))
    return false;
  // File managers hand out URIs; a local one is the file it names.
  for (std::string& video : *videos) {
    std::string path;
    if (video.rfind("file://", 0) == 0 && ::access(video.c_str(), F_OK) != 0 && PathFromArgument(video, &path))
      video = path;
  }
  return true;
}

std::vector<Input> ThisRunsShare(const std::vector<std::string>& paths, const ToolOptions& options) {
  std::vector<Input> share;
  for (Input& input : MarkRepeats(paths))
    if (ShardOf(input.path, options.shards) == options.shard) share.push_back(std::move(input));
  return share;
}

std::vector<Input> MarkRepeats(const std::vector<std::string>& paths) {
  std::map<std::string, std::string> first_by_name;
  std::map<std::pair<dev_t, ino_t>, std::string> first_by_file;
  std::vector<Input> inputs;
  for (const std::string& path : paths) {
    Input input{path, ""};
    auto [by_name, new_name] = first_by_name.emplace(std::filesystem::path(path).lexically_normal().string(), path);
    struct stat st;
    if (!new_name) {
      input.repeat_of = by_name->second;
    } else if (::stat(path.c_str(), &st) == 0) {
      auto [by_file, new_file] = first_by_file.emplace(std::make_pair(st.st_dev, st.st_ino), path);
      if (!new_file) input.repeat_of = by_file->second;
    }
    inputs.push_back(std::move(input));
  }
  return inputs;
}

int ShardOf(const std::string& path, int shards) {
  // The first 64 bits of the digest, which spread any set of names evenly.
  return static_cast<int>(std::stoull(Md5Hex(path).substr(0, 16), nullptr, 16) % static_cast<unsigned>(shards));
}

}  // namespace thumbnail
