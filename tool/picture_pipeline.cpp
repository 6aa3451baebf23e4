#include "tool/picture_pipeline.h"

#include "tool/compose/composed_picture.h"
#include "tool/frames/video_frame.h"
#include "tool/write/atomic_file.h"

namespace thumbnail {

ThumbnailOutcome FailedPicture(std::string error, Failure request) {
  ThumbnailOutcome outcome;
  outcome.request = request;
  outcome.error = std::move(error);
  return outcome;
}

ThumbnailOutcome MakeThumbnail(ThumbnailClient& client, const std::string& video, const PictureOutput& picture,
                               const FrameWanted& wanted) {
  VideoFrame taken;
  Status status = TakeVideoFrame(client, video, wanted, picture.longer_edge, &taken);
  if (!status.ok()) return FailedPicture(status.reason, status.failure);
  Frame composed;
  if (!ComposePicture(taken.frame, {picture.longer_edge, picture.enlarge}, &composed))
    return FailedPicture("cannot scale the frame");
  ThumbnailOutcome outcome;
  outcome.origin = taken.origin;
  outcome.chosen = taken.chosen;
  outcome.candidates = std::move(taken.candidates);
  WritePicture(composed, picture, &outcome);
  return outcome;
}

void WritePicture(const Frame& composed, const PictureOutput& picture, ThumbnailOutcome* outcome) {
  std::vector<uint8_t> bytes;
  std::string why;
  if (!EncodeImage(picture.format, composed, {picture.quality, picture.text}, &bytes, &why)) {
    outcome->ok = false;
    outcome->error = "cannot encode the picture: " + why;
    return;
  }
  outcome->size = {composed.width, composed.height};
  outcome->ok = picture.path == "-" ? WriteStandardOutput(bytes, &outcome->error)
                : picture.in_place  ? WriteFileInPlace(picture.path, bytes, &outcome->error)
                                    : WriteFileAtomically(picture.path, bytes,
                                                          picture.private_file ? 0600 : kUsualMode, &outcome->error);
}

}  // namespace thumbnail
