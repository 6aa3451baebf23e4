// The frames step of the tool's pipeline: a video's frame, and where in the
// video it came from, from a server through the client library.
#pragma once

#include <string>

#include "client/thumbnail_client.h"

namespace thumbnail {

struct VideoFrame {
  Frame frame;
  FrameOrigin origin;  // kNone when the server could not tell
};

// The frame of `video` at `where`, its longer edge at most `longer_edge` (0
// for its own size), or the client's failure. The server makes it that
// small, so a picture of an 8K video moves no full-size rows.
Status TakeVideoFrame(ThumbnailClient& client, const std::string& video, const Position& where, int longer_edge,
                      VideoFrame* out);

}  // namespace thumbnail
