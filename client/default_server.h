// The server a client runs when its caller names none.
#pragma once

#include <string>

namespace thumbnail {

// The program THUMBNAIL_SERVER names, else the thumbnail-server installed
// beside this library (the path is fixed when the library is built).
std::string DefaultServerPath();

}  // namespace thumbnail
