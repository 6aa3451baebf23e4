// Pixel format conversion and scaling over one cached SwsContext, honouring
// the source's YUV matrix (BT.601, BT.709, BT.2020 ...) and range.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/media/ffmpeg/ffmpeg_ptr.h"
#include "platform/media/picture/video_format.h"

namespace media {

// Bytes past the end of every swscale destination: its SIMD converters write
// whole blocks beyond the last pixel of a tightly packed picture.
constexpr size_t kSwscaleSlack = 256;

class PictureConverter {
 public:
  // Converts `src` into planes of `format` at width x height, top row first
  // at dst. The destination planes need kSwscaleSlack bytes after their end.
  bool Convert(const PictureView& src, AVPixelFormat format, int width, int height, uint8_t* const dst[4],
               const int dstLinesize[4]);

  // Converts `src` into a new frame of `format` at width x height; YUV
  // results keep the source's colour description. Null on failure.
  FramePtr ConvertToFrame(const PictureView& src, AVPixelFormat format, int width, int height);

  // Converts `src` into the bottom-up 24-bit DIB of width x height (rows
  // padded to 32 bits) at dib, which holds exactly DibStride(width, 24) *
  // height bytes: every one of them is written, none beyond. False on
  // failure.
  bool ConvertToDib(const PictureView& src, int width, int height, uint8_t* dib);

 private:
  // Sets up the cached context for a conversion of `src` into `format` at
  // width x height, with the source's matrix and range. False on failure.
  bool Prepare(const PictureView& src, AVPixelFormat format, int width, int height);
  // The source rows from `first` on, given as a slice of the conversion that
  // `Convert` would make in one call; output row y goes to base + y * stride.
  // Returns the number of output rows written, which follow those before.
  int ConvertSlice(const PictureView& src, int first, int rows, uint8_t* base, int stride);

  SwsContextPtr context_;  // reused while the geometry and formats hold
};

}  // namespace media
