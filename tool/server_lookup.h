// Where the tool finds thumbnail-server.
#pragma once

#include <functional>
#include <string>

namespace thumbnail {

struct ServerPlaces {
  std::string chosen;     // THUMBNAIL_SERVER, empty when unset
  std::string self;       // the tool's own path
  std::string search;     // PATH
};

// The server THUMBNAIL_SERVER names; else thumbnail-server beside the tool
// (the build folder, or where both were installed); else the first one on
// PATH, for a tool copied elsewhere. Empty when there is none. `runnable`
// tells whether a path names a program this process may run.
std::string FindServer(const ServerPlaces& places, const std::function<bool(const std::string&)>& runnable);

// The places of this process: its environment and its own file.
ServerPlaces ServerPlacesOfThisProcess();

// True for a regular file this process may execute.
bool IsRunnable(const std::string& path);

}  // namespace thumbnail
