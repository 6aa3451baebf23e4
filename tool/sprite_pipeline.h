// One video's sprite track, made by the tool's pipeline: a frame every
// interval in one pass over the file (frames/), laid out as tiles of
// images (compose/), the images encoded and the files that place them in
// time written (encode/), all in a folder that appears whole (write/).
#pragma once

#include <string>

#include "client/thumbnail_client.h"
#include "tool/picture_pipeline.h"
#include "tool/tool_options.h"

namespace thumbnail {

// The sprite folder of `video` at folder.path: tiles folder.longer_edge
// wide in images of product.grid in folder.format, and their cues,
// playlists and adaptation set (see sprite_track_files.h). What was at the
// path, which the caller has found may be replaced (MayWriteSpriteFolder),
// is replaced at once when the folder is complete; when it fails, nothing
// has changed. The files and the tiles' times are the outcome's `frames`,
// its size a tile's.
ThumbnailOutcome MakeSpriteTrack(ThumbnailClient& client, const std::string& video, const PictureOutput& folder,
                                 const Product& product);

}  // namespace thumbnail
