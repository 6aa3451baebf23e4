#include "client/kept_picture.h"

#include <png.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>

#include "client/desktop_cache.h"

namespace thumbnail {
namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

// The text chunks of a PNG, empty when it has none or is no PNG libpng
// reads.
std::map<std::string, std::string> TextChunks(const std::string& path) {
  std::map<std::string, std::string> text;
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return text;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (info && !setjmp(png_jmpbuf(png))) {
    png_init_io(png, file.get());
    png_read_info(png, info);
    png_textp chunks = nullptr;
    int count = png_get_text(png, info, &chunks, nullptr);
    for (int i = 0; i < count; ++i) text[chunks[i].key] = chunks[i].text;
  }
  png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  return text;
}

bool Newer(const timespec& a, const timespec& b) {
  return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
}

uint32_t Big(const unsigned char* p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | p[i];
  return v;
}

uint32_t Little32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// The size a JPEG's first frame header gives.
bool JpegSize(std::ifstream& in, PictureSize* size) {
  unsigned char head[9];
  in.seekg(2);
  while (in.read(reinterpret_cast<char*>(head), 4) && head[0] == 0xff) {
    const unsigned char marker = head[1];
    const uint32_t length = Big(head + 2, 2);
    const bool frame = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
    if (frame) {
      if (!in.read(reinterpret_cast<char*>(head), 5)) return false;
      *size = {static_cast<int>(Big(head + 3, 2)), static_cast<int>(Big(head + 1, 2))};
      return true;
    }
    if (length < 2 || marker == 0xda) return false;
    in.seekg(length - 2, std::ios::cur);
  }
  return false;
}

// Whether a picture of `size` is what this job makes of a frame: its
// longer edge the one asked, or below it where frames are not enlarged.
bool OfTheSizeAsked(const PictureSize& size, const PictureOutput& picture) {
  const int longer = std::max(size.width, size.height);
  if (picture.longer_edge == 0) return longer > 0;
  return picture.enlarge ? longer == picture.longer_edge : longer > 0 && longer <= picture.longer_edge;
}

}  // namespace

bool PictureHeader(const std::string& path, ImageFormat* format, PictureSize* size) {
  std::ifstream in(path, std::ios::binary);
  unsigned char head[26] = {};
  if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return false;
  if (std::string(reinterpret_cast<char*>(head), 8) == "\x89PNG\r\n\x1a\n") {
    *format = ImageFormat::kPng;
    *size = {static_cast<int>(Big(head + 16, 4)), static_cast<int>(Big(head + 20, 4))};
    return true;
  }
  if (head[0] == 'B' && head[1] == 'M') {
    *format = ImageFormat::kBmp;
    *size = {static_cast<int>(Little32(head + 18)), std::abs(static_cast<int>(Little32(head + 22)))};
    return true;
  }
  if (head[0] == 0xff && head[1] == 0xd8) {
    *format = ImageFormat::kJpeg;
    return JpegSize(in, size);
  }
  return false;
}

KeptState KeptPicture(const Job& job) {
  KeptState state;
  struct stat video, picture;
  if (job.keep == KeepPicture::kNever || ::stat(job.video.c_str(), &video) != 0) return state;
  ImageFormat format;
  PictureSize size;
  const bool readable = PictureHeader(job.picture.path, &format, &size) && format == job.picture.format &&
                        OfTheSizeAsked(size, job.picture);
  if (job.keep == KeepPicture::kNewerThanVideo) {
    if (readable && ::stat(job.picture.path.c_str(), &picture) == 0 && Newer(picture.st_mtim, video.st_mtim))
      state = {KeptState::Kind::kCurrent, size, ""};
    return state;
  }
  std::string mtime = std::to_string(static_cast<long long>(video.st_mtime));
  if (readable && TextChunks(job.picture.path)["Thumb::MTime"] == mtime) return {KeptState::Kind::kCurrent, size, ""};
  if (job.failure_record.empty() || job.retry_failed) return state;
  std::map<std::string, std::string> record = TextChunks(job.failure_record);
  if (record["Thumb::MTime"] == mtime) state = {KeptState::Kind::kKnownFailure, {}, record[kFailureKey]};
  return state;
}

}  // namespace thumbnail
