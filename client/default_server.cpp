#include "client/default_server.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdlib>
#include <memory>

namespace thumbnail {
namespace {

// The path with symbolic links resolved; empty when it names nothing.
std::string RealPath(const char* path) {
  std::unique_ptr<char, decltype(&::free)> real(::realpath(path, nullptr), &::free);
  return real ? real.get() : "";
}

// The folder of the file this library was loaded from; empty when the
// system cannot tell.
std::string OwnFolder() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&DefaultServerPath), &info) == 0 || !info.dli_fname) return "";
  std::string file = RealPath(info.dli_fname);
  return file.substr(0, file.rfind('/') == std::string::npos ? 0 : file.rfind('/'));
}

}  // namespace

std::string DefaultServerPath() {
  const char* chosen = std::getenv("THUMBNAIL_SERVER");
  if (chosen && *chosen) return chosen;
  // A library loaded from the build tree that made it runs that build's
  // server, not one installed earlier (perhaps of another version).
  static const std::string kOwn = OwnFolder();
  static const std::string kBuilt = RealPath(THUMBNAIL_BUILD_LIBRARY_FOLDER);
  if (!kOwn.empty() && kOwn == kBuilt) return THUMBNAIL_BUILD_SERVER;
  return THUMBNAIL_INSTALLED_SERVER;
}

}  // namespace thumbnail
