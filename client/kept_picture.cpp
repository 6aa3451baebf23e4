#include "client/kept_picture.h"

#include <png.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

namespace thumbnail {
namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

// The Thumb::MTime text chunk of a PNG, empty when it has none or is no
// PNG libpng reads.
std::string ThumbMTime(const std::string& path) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return "";
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::string mtime;
  if (info && !setjmp(png_jmpbuf(png))) {
    png_init_io(png, file.get());
    png_read_info(png, info);
    png_textp chunks = nullptr;
    int count = png_get_text(png, info, &chunks, nullptr);
    for (int i = 0; i < count; ++i)
      if (std::string(chunks[i].key) == "Thumb::MTime") mtime = chunks[i].text;
  }
  png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  return mtime;
}

bool Newer(const timespec& a, const timespec& b) {
  return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
}

}  // namespace

Kept KeptPicture(const Job& job) {
  struct stat video, picture;
  if (job.keep == KeepPicture::kNever || ::stat(job.video.c_str(), &video) != 0) return Kept::kNo;
  if (job.keep == KeepPicture::kNewerThanVideo)
    return ::stat(job.picture.path.c_str(), &picture) == 0 && Newer(picture.st_mtim, video.st_mtim) ? Kept::kCurrent
                                                                                                    : Kept::kNo;
  std::string mtime = std::to_string(static_cast<long long>(video.st_mtime));
  if (ThumbMTime(job.picture.path) == mtime) return Kept::kCurrent;
  if (!job.failure_record.empty() && ThumbMTime(job.failure_record) == mtime) return Kept::kKnownFailure;
  return Kept::kNo;
}

}  // namespace thumbnail
