#include "client/default_server.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdlib>
#include <memory>

namespace thumbnail {
namespace {

// The folder, symbolic links resolved, of the file this library was loaded
// from; empty when the system cannot tell.
std::string OwnFolder() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&DefaultServerPath), &info) == 0 || !info.dli_fname) return "";
  std::unique_ptr<char, decltype(&::free)> real(::realpath(info.dli_fname, nullptr), &::free);
  if (!real) return "";
  std::string path = real.get();
  return path.substr(0, path.rfind('/'));
}

std::string RealFolder(const char* folder) {
  std::unique_ptr<char, decltype(&::free)> real(::realpath(folder, nullptr), &::free);
  return real ? real.get() : "";
}

}  // namespace

std::string DefaultServerPath() {
  const char* chosen = std::getenv("THUMBNAIL_SERVER");
  if (chosen && *chosen) return chosen;
  // A library loaded from the build tree that made it runs that build's
  // server, not one installed earlier (perhaps of another version).
  static const std::string kOwn = OwnFolder();
  static const std::string kBuilt = RealFolder(THUMBNAIL_BUILD_LIBRARY_FOLDER);
  if (!kOwn.empty() && kOwn == kBuilt) return THUMBNAIL_BUILD_SERVER;
  return THUMBNAIL_INSTALLED_SERVER;
}

}  // namespace thumbnail
