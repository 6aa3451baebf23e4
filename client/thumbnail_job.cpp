#include "client/thumbnail_job.h"

#include <sys/stat.h>

#include "client/atomic_file.h"
#include "client/image_scale.h"

namespace thumbnail {
namespace {

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

bool MakeThumbnail(ThumbnailClient& client, const std::string& video, const PictureOutput& picture, std::string* error) {
  if (SameFile(video, picture.path)) {
    *error = "the picture " + picture.path + " would replace the video";
    return false;
  }
  Frame frame;
  Status status = client.Thumbnail(video, &frame);
  if (!status.ok()) {
    *error = status.reason;
    return false;
  }
  PictureSize size = FitLongerEdge(frame.width, frame.height, picture.longer_edge, picture.enlarge);
  Frame scaled;
  if (!ScaleFrame(frame, size.width, size.height, &scaled)) {
    *error = "cannot scale the frame";
    return false;
  }
  std::vector<uint8_t> bytes;
  std::string why;
  if (!EncodeImage(picture.format, scaled, picture.text, &bytes, &why)) {
    *error = "cannot encode the picture: " + why;
    return false;
  }
  return WriteFileAtomically(picture.path, bytes, error);
}

}  // namespace thumbnail
