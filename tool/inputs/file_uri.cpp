#include "tool/inputs/file_uri.h"

#include <cctype>
#include <cstring>

namespace thumbnail {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes a path keeps as they are in its URI: the unreserved characters
// and the delimiters a path may hold unescaped. Desktops name their cache
// entries by the digest of the URI, so it must be escaped as they escape
// it (GLib's g_filename_to_uri), byte for byte.
bool KeptInPath(unsigned char c) {
  return std::isalnum(c) || std::strchr("-._~!$&'()*+,=:@/", c) != nullptr;
}

// True when `argument` begins with a URI scheme and "://".
bool HasScheme(const std::string& argument) {
  size_t i = 0;
  while (i < argument.size() && (std::isalnum(static_cast<unsigned char>(argument[i])) || argument[i] == '+' ||
                                 argument[i] == '-' || argument[i] == '.'))
    ++i;
  return i > 0 && std::isalpha(static_cast<unsigned char>(argument[0])) && argument.compare(i, 3, "://") == 0;
}

}  // namespace

bool PathFromArgument(const std::string& argument, std::string* path) {
  static const std::string kScheme = "file://";
  if (!HasScheme(argument)) {
    *path = argument;
    return true;
  }
  if (argument.compare(0, kScheme.size(), kScheme) != 0) return false;
  size_t slash = argument.find('/', kScheme.size());
  if (slash == std::string::npos) return false;
  std::string host = argument.substr(kScheme.size(), slash - kScheme.size());
  if (!host.empty() && host != "localhost") return false;
  std::string decoded;
  for (size_t i = slash; i < argument.size(); ++i) {
    char c = argument[i];
    if (c == '?' || c == '#') break;
    if (c != '%') {
      decoded += c;
      continue;
    }
    int high = i + 2 < argument.size() ? HexValue(argument[i + 1]) : -1;
    int low = high >= 0 ? HexValue(argument[i + 2]) : -1;
    if (low < 0 || (high == 0 && low == 0)) return false;
    decoded += static_cast<char>(high * 16 + low);
    i += 2;
  }
  *path = decoded;
  return true;
}

std::string FileUri(const std::string& absolute_path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (unsigned char c : absolute_path) {
    if (c != 0 && KeptInPath(c)) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

}  // namespace thumbnail
