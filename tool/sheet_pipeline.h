// One video's contact sheet, made by the tool's pipeline: many frames in
// one pass over the file (frames/), laid out under a header (compose/),
// then encoded and written as a thumbnail is.
#pragma once

#include <string>

#include "client/thumbnail_client.h"
#include "tool/picture_pipeline.h"
#include "tool/tool_options.h"

namespace thumbnail {

// The sheet of product.grid frames of `video`, tiles picture.longer_edge
// on their longer edge, written where `picture` says as MakeThumbnail
// writes a thumbnail. Its frames are the outcome's `frames`.
ThumbnailOutcome MakeContactSheet(ThumbnailClient& client, const std::string& video, const PictureOutput& picture,
                                  const Product& product);

}  // namespace thumbnail
