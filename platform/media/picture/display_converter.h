// How a decoded picture becomes the 24-bit frame a person looks at: the one
// place that reads a picture's whole colour description (matrix, range,
// chroma siting, transfer, primaries, light level, as ResolveColour completed
// it) and picks the conversion.
//
// SDR pictures with BT.601 or BT.709 primaries convert exactly as libswscale
// converts them (the frame the ffmpeg tool shows). Wider primaries, PQ and
// HLG go through linear light (libzimg): BT.2020 colours are compressed into
// BT.709, HDR is tone mapped so that reference white becomes SDR white and
// highlights roll off up to the content's peak.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/media/ffmpeg/ffmpeg_ptr.h"
#include "platform/media/picture/picture_converter.h"
#include "platform/media/picture/video_format.h"

namespace media {

// What a picture's colour description asks of the conversion.
enum class ColourRoute {
  kDirect,     // SDR, BT.601/709 primaries: libswscale's matrix and range
  kWideGamut,  // SDR transfer, wider primaries: mapped into BT.709
  kHdr,        // PQ or HLG: tone mapped to SDR
};
ColourRoute RouteOf(const PictureView& picture);

class DisplayConverter {
 public:
  // The bottom-up 24-bit DIB of width x height (rows padded to 32 bits) at
  // dib, which holds exactly DibStride(width, 24) * height bytes: every one
  // of them is written, none beyond. False on failure.
  bool ToDib(const PictureView& src, int width, int height, uint8_t* dib);

  // A new BGR24 frame of width x height, described as BT.709 RGB. Null on
  // failure.
  FramePtr ToBgrFrame(const PictureView& src, int width, int height);

 private:
  // Writes the picture through linear light as BGR rows, the top row at
  // `top`, the next `stride` bytes on. False when libzimg cannot take it.
  bool ThroughLight(const PictureView& src, int width, int height, uint8_t* top, ptrdiff_t stride);

  PictureConverter direct_;
  PictureConverter repack_;  // formats libzimg does not read, to ones it does
};

}  // namespace media
