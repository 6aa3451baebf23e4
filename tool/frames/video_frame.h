// The frames step of the tool's pipeline: a video's frame, and where in the
// video it came from, from a server through the client library.
#pragma once

#include <string>
#include <vector>

#include "client/frame_choice.h"
#include "client/thumbnail_client.h"

namespace thumbnail {

// Which frame the tool takes.
struct FrameWanted {
  // The server's walk from `where` (-t, -m, --walk) instead of the scored
  // choice over the whole video.
  bool walk = false;
  Position where;
  bool crop = false;  // the black bars cut off (--crop)
};

struct VideoFrame {
  Frame frame;
  FrameOrigin origin;  // kNone when the server could not tell
  // Of the scored choice: whether it weighed candidates, and each one.
  bool chosen = false;
  std::vector<CandidateScore> candidates;
};

// The frame of `video` that `wanted` asks for, its longer edge at most
// `longer_edge` (0 for its own size), or the client's failure. The server
// makes it that small, so a picture of an 8K video moves no full-size rows.
Status TakeVideoFrame(ThumbnailClient& client, const std::string& video, const FrameWanted& wanted, int longer_edge,
                      VideoFrame* out);

// The frame inside `box`.
Frame CropFrame(const Frame& frame, const ContentBox& box);

}  // namespace thumbnail
