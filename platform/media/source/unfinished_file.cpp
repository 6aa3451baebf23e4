#include "platform/media/source/unfinished_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace media {
namespace {

// Enough for any real file's top level; a file of more tiny boxes is no
// movie worth the walk.
constexpr int kMostBoxes = 4096;

uint64_t BigEndian(const unsigned char* bytes, int count) {
  uint64_t value = 0;
  for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
  return value;
}

bool IsBoxType(const unsigned char* type) {
  for (int i = 0; i < 4; ++i)
    if (type[i] < 0x20 || type[i] > 0x7e) return false;
  return true;
}

}  // namespace

bool EndsBeforeItsIndex(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const uint64_t end = static_cast<uint64_t>(st.st_size);
  uint64_t at = 0;
  bool media = false;  // a file type or media data box seen: an ISO movie
  for (int boxes = 0; boxes < kMostBoxes && at + 8 <= end; ++boxes) {
    unsigned char head[16];
    if (::pread(fd, head, 8, static_cast<off_t>(at)) != 8 || !IsBoxType(head + 4)) return false;
    const unsigned char* type = head + 4;
    if (std::memcmp(type, "moov", 4) == 0) return false;
    if (boxes == 0 && std::memcmp(type, "ftyp", 4) != 0 && std::memcmp(type, "mdat", 4) != 0 &&
        std::memcmp(type, "wide", 4) != 0 && std::memcmp(type, "free", 4) != 0)
      return false;
    media = media || std::memcmp(type, "ftyp", 4) == 0 || std::memcmp(type, "mdat", 4) == 0;
    uint64_t size = BigEndian(head, 4);
    uint64_t header = 8;
    if (size == 1) {
      if (at + 16 > end || ::pread(fd, head + 8, 8, static_cast<off_t>(at + 8)) != 8) return media;
      size = BigEndian(head + 8, 8);
      header = 16;
    }
    // Size 0 is "to the end of the file": what a writer leaves until it
    // knows the size.
    if (size == 0) return media;
    if (size < header) return false;
    if (size > end - at) return media;
    at += size;
  }
  return media && at >= end;
}

}  // namespace media
