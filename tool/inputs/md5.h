// MD5 digests, by libmd: the desktop cache names its entries by them, and
// shards split the videos by them.
#pragma once

#include <string>

namespace thumbnail {

// The digest of `bytes` as 32 lowercase hex digits.
std::string Md5Hex(const std::string& bytes);

}  // namespace thumbnail
