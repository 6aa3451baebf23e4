#include "tool/picture_pipeline.h"

#include <sys/stat.h>

#include "tool/compose/composed_picture.h"
#include "tool/frames/video_frame.h"
#include "tool/write/atomic_file.h"

namespace thumbnail {
namespace {

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

ThumbnailOutcome Failed(std::string error, Failure request = Failure::kNone) {
  ThumbnailOutcome outcome;
  outcome.request = request;
  outcome.error = std::move(error);
  return outcome;
}

}  // namespace

ThumbnailOutcome MakeThumbnail(ThumbnailClient& client, const std::string& video, const PictureOutput& picture,
                               const Position& where) {
  if (SameFile(video, picture.path)) return Failed("the picture " + picture.path + " would replace the video");
  VideoFrame taken;
  Status status = TakeVideoFrame(client, video, where, &taken);
  if (!status.ok()) return Failed(status.reason, status.failure);
  Frame composed;
  if (!ComposePicture(taken.frame, {picture.longer_edge, picture.enlarge}, &composed))
    return Failed("cannot scale the frame");
  std::vector<uint8_t> bytes;
  std::string why;
  if (!EncodeImage(picture.format, composed, {picture.quality, picture.text}, &bytes, &why))
    return Failed("cannot encode the picture: " + why);
  ThumbnailOutcome outcome;
  outcome.size = {composed.width, composed.height};
  outcome.origin = taken.origin;
  outcome.ok = picture.path == "-" ? WriteStandardOutput(bytes, &outcome.error)
               : picture.in_place ? WriteFileInPlace(picture.path, bytes, &outcome.error)
                                  : WriteFileAtomically(picture.path, bytes,
                                                        picture.private_file ? 0600 : kUsualMode, &outcome.error);
  return outcome;
}

}  // namespace thumbnail
