#include "tool/sheet_pipeline.h"

#include <sys/stat.h>

#include "tool/compose/contact_sheet.h"
#include "tool/frames/frame_requests.h"

namespace thumbnail {
namespace {

SheetHeader HeaderOf(const std::string& video) {
  SheetHeader header;
  const std::string trimmed = video.substr(0, video.find_last_not_of('/') + 1);
  header.name = trimmed.substr(trimmed.rfind('/') == std::string::npos ? 0 : trimmed.rfind('/') + 1);
  struct stat st;
  if (::stat(video.c_str(), &st) == 0) header.file_bytes = st.st_size;
  return header;
}

}  // namespace

ThumbnailOutcome MakeContactSheet(ThumbnailClient& client, const std::string& video, const PictureOutput& picture,
                                  const Product& product) {
  VideoFacts facts;
  std::vector<TimedFrame> frames;
  const Status status = client.Frames(
      video, SheetRequest(product.grid, picture.longer_edge, product.mode),
      [&](const VideoFacts& told) {
        facts = told;
        return true;
      },
      [&](const TimedFrame& frame) {
        frames.push_back(frame);
        return true;
      });
  if (!status.ok()) return FailedPicture(status.reason, status.failure);
  ContactSheet sheet;
  std::string error;
  if (!ComposeContactSheet(product.grid, picture.longer_edge, facts, frames, HeaderOf(video), &sheet, &error))
    return FailedPicture(error);
  ThumbnailOutcome outcome;
  WritePicture(sheet.picture, picture, &outcome);
  if (outcome.ok) outcome.frames = FramesWritten{{picture.path}, sheet.times_ms};
  return outcome;
}

}  // namespace thumbnail
