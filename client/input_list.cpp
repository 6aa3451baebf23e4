#include "client/input_list.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>

#include "client/md5.h"
#include "client/system.h"

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
  return options.files_from.empty() ||
         ReadList(options.files_from, options.null_separated ? '\0' : '\n', videos, error);
}

std::vector<std::string> ThisRunsShare(const std::vector<std::string>& paths, const ToolOptions& options) {
  std::vector<std::string> share;
  for (const std::string& path : WithoutRepeats(paths))
    if (ShardOf(path, options.shards) == options.shard) share.push_back(path);
  return share;
}

std::vector<std::string> WithoutRepeats(const std::vector<std::string>& paths) {
  std::set<std::string> names;
  std::set<std::pair<dev_t, ino_t>> files;
  std::vector<std::string> kept;
  for (const std::string& path : paths) {
    if (!names.insert(std::filesystem::path(path).lexically_normal().string()).second) continue;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !files.insert({st.st_dev, st.st_ino}).second) continue;
    kept.push_back(path);
  }
  return kept;
}

int ShardOf(const std::string& path, int shards) {
  // The first 64 bits of the digest, which spread any set of names evenly.
  return static_cast<int>(std::stoull(Md5Hex(path).substr(0, 16), nullptr, 16) % static_cast<unsigned>(shards));
}

}  // namespace thumbnail
