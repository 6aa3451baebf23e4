// One video's picture, from the server's frame to the file.
#pragma once

#include <string>
#include <vector>

#include "client/image_encoders.h"
#include "client/thumbnail_client.h"

namespace thumbnail {

struct PictureOutput {
  std::string path;
  ImageFormat format = ImageFormat::kPng;
  int longer_edge = 256;  // 0 keeps the frame's own size
  bool enlarge = true;    // false: a smaller frame keeps its size
  std::vector<PngText> text;
};

// Takes the frame of `video` through `client`, scales it, encodes it and
// writes it whole to picture.path. False with the reason in *error; then
// nothing has been written.
bool MakeThumbnail(ThumbnailClient& client, const std::string& video, const PictureOutput& picture, std::string* error);

}  // namespace thumbnail
