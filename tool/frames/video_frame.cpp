#include "tool/frames/video_frame.h"

namespace thumbnail {

Status TakeVideoFrame(ThumbnailClient& client, const std::string& video, const Position& where, int longer_edge,
                      VideoFrame* out) {
  *out = VideoFrame{};
  Status status = client.ThumbnailWithin(video, longer_edge, &out->frame, where);
  if (!status.ok()) return status;
  // Where the frame came from only informs the user: a server that cannot
  // say leaves it unknown, and the picture is made all the same.
  if (!client.GetFrameOrigin(&out->origin).ok()) out->origin = FrameOrigin{};
  return status;
}

}  // namespace thumbnail
