#include "tool/encode/sprite_track_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

namespace thumbnail {
namespace {

constexpr char kImagePrefix[] = "sprites-";
constexpr char kCuesMark[] = "WEBVTT\n\nNOTE ";

// "1.5" as HLS writes seconds, from milliseconds.
std::string Seconds(int64_t milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(milliseconds / 1000),
                static_cast<long long>(milliseconds % 1000));
  return text;
}

// "01:02:03.004", a WebVTT timestamp.
std::string CueTime(int64_t milliseconds) {
  const int64_t seconds = milliseconds / 1000;
  char text[40];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60),
                static_cast<long long>(milliseconds % 1000));
  return text;
}

// The stretch of the video image `index` covers: from its first tile's
// time, the first image from 0, to the next image's.
struct Span {
  int64_t start_ms;
  int64_t end_ms;
};
Span ImageSpan(const SpriteTrack& track, size_t index) {
  const auto start_of = [&](size_t image) { return track.tiles[track.images[image].first_tile].start_ms; };
  return {index == 0 ? 0 : start_of(index), index + 1 < track.images.size() ? start_of(index + 1) : track.end_ms};
}

// "jpeg" of image/jpeg: the name HLS gives the images' codec.
std::string Subtype(ImageFormat format) {
  const std::string mime = format->mime_type;
  return mime.substr(mime.find('/') + 1);
}

// Bits a second, as players weigh renditions: never 0.
uint64_t Bandwidth(const SpriteTrack& track, uint64_t image_bytes) {
  const double seconds = std::max<int64_t>(track.end_ms, 1) / 1000.0;
  return std::max<uint64_t>(1, static_cast<uint64_t>(std::ceil(image_bytes * 8 / seconds)));
}

std::string Size(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

bool IsImageName(const std::string& name) {
  if (name.compare(0, std::strlen(kImagePrefix), kImagePrefix) != 0) return false;
  const size_t digits = name.find_first_not_of("0123456789", std::strlen(kImagePrefix));
  ImageFormat format;
  return digits != std::strlen(kImagePrefix) && digits != std::string::npos &&
         FormatFromName(name, &format) && name.compare(digits, std::string::npos, FormatExtension(format)) == 0;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

bool IsTrackFileName(const std::string& name) {
  return name == kCuesFile || name == kPlaylistFile || name == kMasterLineFile || name == kDashFile ||
         IsImageName(name);
}

}  // namespace

std::string SpriteImageName(size_t image, ImageFormat format) {
  char number[24];
  std::snprintf(number, sizeof number, "%03zu", image + 1);
  return kImagePrefix + std::string(number) + FormatExtension(format);
}

std::string WebVttCues(const SpriteTrack& track, ImageFormat format) {
  std::string text = std::string(kCuesMark) + SoftwareName() + "\n";
  for (const SpriteTile& tile : track.tiles)
    text += "\n" + CueTime(tile.start_ms) + " --> " + CueTime(tile.end_ms) + "\n" +
            SpriteImageName(tile.image, format) + "#xywh=" + std::to_string(tile.x) + "," + std::to_string(tile.y) +
            "," + std::to_string(track.tile.width) + "," + std::to_string(track.tile.height) + "\n";
  return text;
}

std::string HlsImagePlaylist(const SpriteTrack& track, ImageFormat format) {
  int64_t longest = 0;
  for (size_t i = 0; i < track.images.size(); ++i) {
    const Span span = ImageSpan(track, i);
    longest = std::max(longest, span.end_ms - span.start_ms);
  }
  std::string text = "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-TARGETDURATION:" + std::to_string((longest + 999) / 1000) +
                     "\n#EXT-X-MEDIA-SEQUENCE:0\n#EXT-X-PLAYLIST-TYPE:VOD\n#EXT-X-IMAGES-ONLY\n";
  for (size_t i = 0; i < track.images.size(); ++i) {
    const SpriteImage& image = track.images[i];
    const Span span = ImageSpan(track, i);
    char tile_seconds[32];
    std::snprintf(tile_seconds, sizeof tile_seconds, "%.3f",
                  static_cast<double>(span.end_ms - span.start_ms) / 1000 / static_cast<double>(image.tiles));
    text += "#EXTINF:" + Seconds(span.end_ms - span.start_ms) + ",\n#EXT-X-TILES:RESOLUTION=" +
            Size(track.tile.width, track.tile.height) + ",LAYOUT=" + Size(image.grid.columns, image.grid.rows) +
            ",DURATION=" + tile_seconds + "\n" + SpriteImageName(i, format) + "\n";
  }
  return text + "#EXT-X-ENDLIST\n";
}

std::string HlsMasterLine(const SpriteTrack& track, ImageFormat format, uint64_t image_bytes) {
  return "#EXT-X-IMAGE-STREAM-INF:BANDWIDTH=" + std::to_string(Bandwidth(track, image_bytes)) +
         ",RESOLUTION=" + Size(track.tile.width, track.tile.height) + ",CODECS=\"" + Subtype(format) + "\",URI=\"" +
         kPlaylistFile + "\"\n";
}

std::string DashAdaptationSet(const SpriteTrack& track, ImageFormat format, uint64_t image_bytes) {
  std::string timeline;
  for (size_t i = 0; i < track.images.size(); ++i) {
    const Span span = ImageSpan(track, i);
    // A player spreads the tiles of the whole grid over a segment: the
    // last image, which may hold fewer, gets the time its tiles stand for
    // times the grid's share, and runs past the end by the tiles it lacks.
    const double share = static_cast<double>(track.grid.count()) / static_cast<double>(track.images[i].tiles);
    const int64_t duration = std::llround(static_cast<double>(span.end_ms - span.start_ms) * share);
    timeline += "      <S " + (i == 0 ? std::string("t=\"0\" ") : "") + "d=\"" + std::to_string(duration) + "\"/>\n";
  }
  const std::string extension = FormatExtension(format);
  return "<AdaptationSet contentType=\"image\" mimeType=\"" + std::string(format->mime_type) + "\">\n" +
         "  <SegmentTemplate media=\"" + kImagePrefix + "$Number%03d$" + extension +
         "\" startNumber=\"1\" timescale=\"1000\">\n    <SegmentTimeline>\n" + timeline +
         "    </SegmentTimeline>\n  </SegmentTemplate>\n" +
         "  <Representation id=\"thumbnails\" bandwidth=\"" + std::to_string(Bandwidth(track, image_bytes)) +
         "\" width=\"" + std::to_string(track.grid.columns * track.tile.width) + "\" height=\"" +
         std::to_string(track.grid.rows * track.tile.height) + "\">\n" +
         "    <EssentialProperty schemeIdUri=\"http://dashif.org/thumbnail_tile\" value=\"" +
         Size(track.grid.columns, track.grid.rows) + "\"/>\n  </Representation>\n</AdaptationSet>\n";
}

bool IsOwnSpriteFolder(const std::string& folder) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return false;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    struct stat st;
    if (name == "." || name == "..") continue;
    if (!IsTrackFileName(name) || ::lstat((folder + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      return false;
  }
  std::ifstream cues(folder + "/" + kCuesFile, std::ios::binary);
  std::string head(std::strlen(kCuesMark) + std::strlen(kMarkPrefix), '\0');
  cues.read(head.data(), static_cast<std::streamsize>(head.size()));
  return cues && head == std::string(kCuesMark) + kMarkPrefix;
}

}  // namespace thumbnail
