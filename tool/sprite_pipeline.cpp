#include "tool/sprite_pipeline.h"

#include "tool/compose/sprite_track.h"
#include "tool/encode/sprite_track_files.h"
#include "tool/frames/frame_requests.h"
#include "tool/write/atomic_file.h"

namespace thumbnail {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The images as they fill, written into the folder.
class ImageWriter {
 public:
  ImageWriter(AtomicFolder& out, const PictureOutput& folder) : out_(out), folder_(folder) {}

  bool Write(const Frame& image, std::string* error) {
    std::vector<uint8_t> bytes;
    std::string why;
    if (!EncodeImage(folder_.format, image, {folder_.quality, {}}, &bytes, &why)) {
      *error = "cannot encode a sprite image: " + why;
      return false;
    }
    const std::string name = SpriteImageName(files_.size(), folder_.format);
    if (!out_.Write(name, bytes, error)) return false;
    bytes_ += bytes.size();
    files_.push_back(folder_.path + "/" + name);
    return true;
  }

  uint64_t bytes() const { return bytes_; }
  const std::vector<std::string>& files() const { return files_; }

 private:
  AtomicFolder& out_;
  const PictureOutput& folder_;
  uint64_t bytes_ = 0;
  std::vector<std::string> files_;
};

}  // namespace

ThumbnailOutcome MakeSpriteTrack(ThumbnailClient& client, const std::string& video, const PictureOutput& folder,
                                 const Product& product) {
  AtomicFolder out(folder.path);
  std::string error;
  if (!out.Open(&error)) return FailedPicture(error);
  SpriteTrackBuilder builder(product.grid, folder.longer_edge, folder.format->max_edge, product.interval_ms);
  ImageWriter images(out, folder);
  const Status status = client.Frames(
      video, SpriteRequest(product.interval_ms, folder.longer_edge, product.mode),
      [&](const VideoFacts& facts) {
        builder.Start(facts);
        return true;
      },
      [&](const TimedFrame& frame) {
        Frame full;
        return builder.Add(frame, &error) && (!builder.TakeFullImage(&full) || images.Write(full, &error));
      });
  if (!status.ok()) return FailedPicture(status.reason, status.failure);
  Frame last;
  if (!error.empty() || !builder.Finish(&last, &error) || (last.width > 0 && !images.Write(last, &error)))
    return FailedPicture(error);
  const SpriteTrack& track = builder.track();
  const std::pair<const char*, std::string> texts[] = {
      {kCuesFile, WebVttCues(track, folder.format)},
      {kPlaylistFile, HlsImagePlaylist(track, folder.format)},
      {kMasterLineFile, HlsMasterLine(track, folder.format, images.bytes())},
      {kDashFile, DashAdaptationSet(track, folder.format, images.bytes())},
  };
  FramesWritten written{images.files(), {}};
  for (const auto& [name, text] : texts) {
    if (!out.Write(name, Bytes(text), &error)) return FailedPicture(error);
    written.files.push_back(folder.path + "/" + name);
  }
  if (!out.Place(&error)) return FailedPicture(error);
  for (const SpriteTile& tile : track.tiles) written.times_ms.push_back(tile.start_ms);
  ThumbnailOutcome outcome;
  outcome.ok = true;
  outcome.size = track.tile;
  outcome.frames = std::move(written);
  return outcome;
}

}  // namespace thumbnail
