// One video's picture, made by the tool's pipeline: its frames (frames/),
// laid out (compose/), encoded in the format asked (encode/) and written
// whole (write/). Which videos, and where their pictures go, the inputs
// (inputs/) and the output plan (write/) have settled before.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "client/image_scale.h"
#include "client/thumbnail_client.h"
#include "tool/frames/video_frame.h"
#include "tool/encode/picture_formats.h"

namespace thumbnail {

struct PictureOutput {
  std::string path;  // "-" for standard output
  ImageFormat format = DefaultFormat();
  int longer_edge = 256;  // 0 keeps the frame's own size
  bool enlarge = true;    // false: a smaller frame keeps its size
  int quality = 90;       // of a lossy format
  bool private_file = false;  // mode 0600 instead of the usual one
  bool in_place = false;      // into the file already at path (see WriteFileInPlace)
  std::vector<PngText> text;
};

// What a picture of many frames holds: the files written, and the time of
// each of its frames (-1 for a tile without a frame, or with a frame whose
// time the server could not tell).
struct FramesWritten {
  std::vector<std::string> files;
  std::vector<int64_t> times_ms;
};

struct ThumbnailOutcome {
  bool ok = false;
  PictureSize size;                        // of the picture written; of a tile, for sprites
  FrameOrigin origin;                      // of its frame, kNone when the server could not tell
  bool chosen = false;                     // the frame won the scored choice
  std::vector<CandidateScore> candidates;  // of that choice
  Failure request = Failure::kNone;        // why the server gave no frame, if it did not
  std::string error;                       // what went wrong, for the user
  std::optional<FramesWritten> frames;     // of a picture of many frames
};

// Takes the frame of `video` that `wanted` asks for through `client`, scales it, encodes
// it and writes it whole to picture.path, which the caller has found may be
// written (MayWritePicture); when it fails, nothing has been written.
ThumbnailOutcome MakeThumbnail(ThumbnailClient& client, const std::string& video, const PictureOutput& picture,
                               const FrameWanted& wanted = {});

// The end of every picture's way: `composed` encoded as picture.format
// asks and written whole where picture.path says. Fills outcome->ok, size
// and error.
void WritePicture(const Frame& composed, const PictureOutput& picture, ThumbnailOutcome* outcome);

// An outcome that failed for `error`.
ThumbnailOutcome FailedPicture(std::string error, Failure request = Failure::kNone);

}  // namespace thumbnail
