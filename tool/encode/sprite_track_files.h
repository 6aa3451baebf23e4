// The files of a sprite track's folder: its images, and what tells players
// where each tile is and which stretch of the video it stands for: WebVTT
// cues for a web page's <track>, an HLS image playlist and the line that
// names it in a master playlist, and a DASH image adaptation set to paste
// into an MPD. Each names the images relative to the folder.
//
// HLS and DASH say one time per tile of an image, so there each tile of an
// image stands for an even share of the stretch the image covers; the
// WebVTT cues carry each tile's own time.
#pragma once

#include <cstdint>
#include <string>

#include "tool/compose/sprite_track.h"
#include "tool/encode/picture_formats.h"

namespace thumbnail {

// What a sprite track's folder is named after its video: film.mp4.sprites,
// as its picture would be film.mp4.png.
inline constexpr char kSpriteFolderExtension[] = ".sprites";

inline constexpr char kCuesFile[] = "thumbnails.vtt";
inline constexpr char kPlaylistFile[] = "thumbnails.m3u8";
inline constexpr char kMasterLineFile[] = "master-playlist-line.txt";
inline constexpr char kDashFile[] = "dash-adaptation-set.xml";

// "sprites-001.jpg" for the first image, image 0.
std::string SpriteImageName(size_t image, ImageFormat format);

// WebVTT: a cue a tile, from its start to its end, whose text is its place
// in its image (sprites-001.jpg#xywh=320,0,320,180). Its NOTE carries the
// tool's mark.
std::string WebVttCues(const SpriteTrack& track, ImageFormat format);

// An HLS image media playlist (EXT-X-IMAGES-ONLY): each image for the
// stretch from its first tile's time (0 for the first image) to the next
// image's, which together make the video's duration.
std::string HlsImagePlaylist(const SpriteTrack& track, ImageFormat format);

// The EXT-X-IMAGE-STREAM-INF line that names the playlist in a master
// playlist beside it. `image_bytes` is what all the images weigh.
std::string HlsMasterLine(const SpriteTrack& track, ImageFormat format, uint64_t image_bytes);

// A DASH AdaptationSet of contentType image, its images on a segment
// timeline, with the thumbnail_tile property that gives their grid.
std::string DashAdaptationSet(const SpriteTrack& track, ImageFormat format, uint64_t image_bytes);

// Whether `folder` holds a sprite track this tool wrote: nothing but the
// files of one, with the tool's mark in its cues.
bool IsOwnSpriteFolder(const std::string& folder);

}  // namespace thumbnail
