// file:// URIs as file managers pass them to a thumbnailer.
#pragma once

#include <string>

namespace thumbnail {

// The local path an argument names: a file:// URI (with an empty host or
// "localhost", percent-escapes decoded) or a plain path as it stands. False
// for any other URI and for a URI whose escapes are broken or decode to NUL.
bool PathFromArgument(const std::string& argument, std::string* path);

// The file:// URI of an absolute path, escaped as desktops escape it: every
// byte percent-escaped but the unreserved characters and !$&'()*+,=:@/.
std::string FileUri(const std::string& absolute_path);

}  // namespace thumbnail
