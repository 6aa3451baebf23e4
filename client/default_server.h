// The server a client runs when its caller names none.
#pragma once

#include <string>

namespace thumbnail {

// The program THUMBNAIL_SERVER names; else, for this library loaded from
// the build tree that made it, that build's thumbnail-server; else the one
// installed beside this library (the path is fixed when it is built).
std::string DefaultServerPath();

}  // namespace thumbnail
