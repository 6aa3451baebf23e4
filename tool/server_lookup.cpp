#include "tool/server_lookup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "client/system.h"

namespace thumbnail {
namespace {

constexpr const char* kServerName = "thumbnail-server";

}  // namespace

std::string FindServer(const ServerPlaces& places, const std::function<bool(const std::string&)>& runnable) {
  if (!places.chosen.empty()) return places.chosen;
  size_t slash = places.self.rfind('/');
  if (slash != std::string::npos) {
    std::string beside = places.self.substr(0, slash + 1) + kServerName;
    if (runnable(beside)) return beside;
  }
  if (places.search.empty()) return "";
  for (size_t start = 0; start <= places.search.size();) {
    size_t colon = places.search.find(':', start);
    if (colon == std::string::npos) colon = places.search.size();
    // An empty entry is the current folder, as the shell takes it.
    std::string folder = colon == start ? "." : places.search.substr(start, colon - start);
    std::string candidate = folder + "/" + kServerName;
    if (runnable(candidate)) return candidate;
    start = colon + 1;
  }
  return "";
}

ServerPlaces ServerPlacesOfThisProcess() {
  ServerPlaces places;
  if (const char* chosen = std::getenv("THUMBNAIL_SERVER")) places.chosen = chosen;
  if (const char* search = std::getenv("PATH")) places.search = search;
  places.self = OwnExecutablePath();
  return places;
}

bool IsRunnable(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace thumbnail
