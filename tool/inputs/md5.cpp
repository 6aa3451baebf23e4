#include "tool/inputs/md5.h"

#include <md5.h>

namespace thumbnail {

std::string Md5Hex(const std::string& bytes) {
  char hex[MD5_DIGEST_STRING_LENGTH];
  MD5Data(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), hex);
  return hex;
}

}  // namespace thumbnail
