#include "tool/frames/video_frame.h"

#include <algorithm>

#include "client/frame_measures.h"

namespace thumbnail {

Status TakeVideoFrame(ThumbnailClient& client, const std::string& video, const FrameWanted& wanted, int longer_edge,
                      VideoFrame* out) {
  *out = VideoFrame{};
  ContentBox content;
  if (wanted.walk) {
    Status status = client.ThumbnailWithin(video, longer_edge, &out->frame, wanted.where);
    if (!status.ok()) return status;
    // Where the frame came from only informs the user: a server that cannot
    // say leaves it unknown, and the picture is made all the same.
    if (!client.GetFrameOrigin(&out->origin).ok()) out->origin = FrameOrigin{};
    if (wanted.crop) content = FindContent(out->frame);
  } else {
    FrameChoice why;
    Status status = client.ChooseFrame(video, longer_edge, &out->frame, &why);
    if (!status.ok()) return status;
    out->origin = why.origin;
    out->chosen = why.scored;
    out->candidates = std::move(why.candidates);
    content = why.content;
  }
  // The bars were found on a picture scaled within the longer edge asked;
  // cut off, the content is a little smaller than that edge, and the
  // composing step scales it back up.
  if (wanted.crop) out->frame = CropFrame(out->frame, content);
  return Status::Ok();
}

Frame CropFrame(const Frame& frame, const ContentBox& box) {
  const bool whole = box.x == 0 && box.y == 0 && box.width == frame.width && box.height == frame.height;
  if (whole || box.width <= 0 || box.height <= 0 || box.x + box.width > frame.width ||
      box.y + box.height > frame.height)
    return frame;
  Frame cut;
  cut.width = box.width;
  cut.height = box.height;
  cut.bgr.resize(size_t{3} * box.width * box.height);
  const size_t row = size_t{3} * box.width;
  for (int y = 0; y < box.height; ++y)
    std::copy_n(frame.bgr.data() + (size_t{1} * (box.y + y) * frame.width + box.x) * 3, row,
                cut.bgr.data() + y * row);
  return cut;
}

}  // namespace thumbnail
