#include "client/own_pictures.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace thumbnail {
namespace {

// The marks sit in the first chunks or segments, before any pixel.
constexpr size_t kHeadBytes = 4096;

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

std::string Head(const std::string& path) {
  std::string head(kHeadBytes, '\0');
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return "";
  struct stat st;
  ssize_t n = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::pread(fd, head.data(), head.size(), 0) : -1;
  ::close(fd);
  head.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return head;
}

bool PngMarked(const std::string& head) {
  return head.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0 &&
         head.find(std::string("tEXtSoftware") + '\0' + kMarkPrefix) != std::string::npos;
}

bool JpegMarked(const std::string& head) {
  if (head.compare(0, 2, "\xff\xd8") != 0) return false;
  // Segments, each a marker and a big-endian length, up to the first frame.
  for (size_t at = 2; at + 4 <= head.size() && static_cast<unsigned char>(head[at]) == 0xff;) {
    unsigned char marker = static_cast<unsigned char>(head[at + 1]);
    size_t length = static_cast<unsigned char>(head[at + 2]) << 8 | static_cast<unsigned char>(head[at + 3]);
    if (marker == 0xfe) return head.compare(at + 4, std::strlen(kMarkPrefix), kMarkPrefix) == 0;
    if (marker == 0xda || length < 2) return false;
    at += 2 + length;
  }
  return false;
}

bool BmpMarked(const std::string& head) {
  return head.size() >= 10 && head.compare(0, 2, "BM") == 0 && head.compare(6, 4, kBmpMark, 4) == 0;
}

}  // namespace

const char* SoftwareName() { return "thumbnail " THUMBNAIL_VERSION; }

bool CarriesToolMark(const std::string& path) {
  std::string head = Head(path);
  return PngMarked(head) || JpegMarked(head) || BmpMarked(head);
}

InputFiles::InputFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) files_.insert({st.st_dev, st.st_ino});
  }
}

bool InputFiles::Contains(const std::string& path) const {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && files_.count({st.st_dev, st.st_ino}) != 0;
}

bool MayWritePicture(const std::string& video, const std::string& picture, bool replace_any, const InputFiles& inputs,
                     std::string* why) {
  struct stat there, of_video;
  if (::lstat(picture.c_str(), &there) != 0) return true;
  if (::stat(video.c_str(), &of_video) == 0 && SameFile(there, of_video)) {
    *why = "its picture " + picture + " would replace the video itself";
    return false;
  }
  if (inputs.Contains(picture)) {
    *why = "its picture " + picture + " would replace another input of this run";
    return false;
  }
  if (replace_any || CarriesToolMark(picture)) return true;
  *why = "its picture " + picture + " would replace a file this tool did not make (--force replaces it)";
  return false;
}

}  // namespace thumbnail
