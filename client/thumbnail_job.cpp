#include "client/thumbnail_job.h"

#include <sys/stat.h>

#include "client/atomic_file.h"

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
  Frame frame;
  Status status = client.Thumbnail(video, &frame, where);
  if (!status.ok()) return Failed(status.reason, status.failure);
  ThumbnailOutcome outcome;
  // Where the frame came from only informs the user: a server that cannot
  // say leaves it unknown, and the picture is made all the same.
  if (!client.GetFrameOrigin(&outcome.origin).ok()) outcome.origin = FrameOrigin{};
  outcome.size = FitLongerEdge(frame.width, frame.height, picture.longer_edge, picture.enlarge);
  Frame scaled;
  if (!ScaleFrame(frame, outcome.size.width, outcome.size.height, &scaled)) return Failed("cannot scale the frame");
  std::vector<uint8_t> bytes;
  std::string why;
  if (!EncodeImage(picture.format, scaled, picture.quality, picture.text, &bytes, &why))
    return Failed("cannot encode the picture: " + why);
  bool written = picture.path == "-" ? WriteStandardOutput(bytes, &outcome.error)
                 : picture.in_place ? WriteFileInPlace(picture.path, bytes, &outcome.error)
                                    : WriteFileAtomically(picture.path, bytes,
                                                          picture.private_file ? 0600 : kUsualMode, &outcome.error);
  outcome.ok = written;
  return outcome;
}

}  // namespace thumbnail
