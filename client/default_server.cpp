#include "client/default_server.h"

#include <cstdlib>

namespace thumbnail {

std::string DefaultServerPath() {
  const char* chosen = std::getenv("THUMBNAIL_SERVER");
  if (chosen && *chosen) return chosen;
  return THUMBNAIL_INSTALLED_SERVER;
}

}  // namespace thumbnail
