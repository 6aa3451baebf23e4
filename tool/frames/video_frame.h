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

// The frame of `video` at `where`, or the client's failure.
Status TakeVideoFrame(ThumbnailClient& client, const std::string& video, const Position& where, VideoFrame* out);

}  // namespace thumbnail
