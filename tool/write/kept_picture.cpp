#include "tool/write/kept_picture.h"

#include <png.h>
#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <memory>

#include "tool/desktop/desktop_cache.h"
#include "tool/encode/picture_formats.h"

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

// Whether a picture of `size` is what this job makes of a frame: its
// longer edge the one asked, or below it where frames are not enlarged.
bool OfTheSizeAsked(const PictureSize& size, const PictureOutput& picture) {
  const int longer = std::max(size.width, size.height);
  if (picture.longer_edge == 0) return longer > 0;
  return picture.enlarge ? longer == picture.longer_edge : longer > 0 && longer <= picture.longer_edge;
}

}  // namespace

KeptState KeptPicture(const Job& job) {
  KeptState state;
  struct stat video, picture;
  if (job.keep == KeepPicture::kNever || ::stat(job.video.c_str(), &video) != 0) return state;
  ImageFormat format;
  PictureSize size;
  bool marked = false;
  const bool readable = ReadPictureHead(job.picture.path, &format, &size, &marked) &&
                        format == job.picture.format && OfTheSizeAsked(size, job.picture);
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
