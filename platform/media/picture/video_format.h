// The uncompressed video layouts the graph carries between its filters: each
// DirectShow subtype with the FFmpeg pixel format of the same memory layout,
// and views of pictures in those layouts.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
}

#include "platform/dshow/media_type.h"

namespace media {

struct VideoFormat {
  const GUID* subtype;
  AVPixelFormat pixelFormat;
  WORD bitCount;
  DWORD compression;  // BI_RGB or the FOURCC
  bool bottomUp;      // RGB: DIB rows, bottom row first, padded to 32 bits
};

// True for YUV pictures of three or more components (not RGB, grey or a
// palette); false for a null descriptor.
bool IsYuv(const AVPixFmtDescriptor* desc);

// The layout of a subtype, or null for one the graph cannot carry.
const VideoFormat* FindVideoFormat(const GUID& subtype);
const VideoFormat& Rgb24Format();

// Bytes of one picture in the layout, rows as the layout stores them.
size_t ImageBytes(const VideoFormat& format, int width, int height);

// A video type of the layout: MEDIATYPE_Video, FORMAT_VideoInfo and a
// VIDEOINFOHEADER with a positive height.
MediaType MakeVideoType(const VideoFormat& format, int width, int height, LONGLONG avgTimePerFrame);

// What the values of a picture mean: how YUV becomes RGB (matrix, range,
// where the chroma samples sit), how RGB becomes light (transfer, primaries)
// and how bright the brightest part of the content is.
struct PictureColour {
  AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
  AVChromaLocation siting = AVCHROMA_LOC_UNSPECIFIED;
  AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
  AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
  // In cd/m²: the content light level, else the mastering display's peak;
  // 0 when the stream says neither.
  double peakLuminance = 0;
};

// A picture somewhere in memory: plane pointers and strides (a negative
// stride walks up), with the colour description its values follow.
struct PictureView {
  AVPixelFormat format = AV_PIX_FMT_NONE;
  int width = 0;
  int height = 0;
  const uint8_t* data[4] = {};
  int linesize[4] = {};
  PictureColour colour;
};

// The content light level (AVContentLightMetadata), else the mastering
// display's peak (AVMasteringDisplayMetadata), in cd/m², from side data of
// either kind (null or short when absent); 0 when neither says.
double DeclaredPeakLuminance(const uint8_t* light, size_t lightSize, const uint8_t* display, size_t displaySize);

// A view of the frame with its colour description, every value checked: a
// decoder copies them from the bitstream unchecked.
PictureView ViewOfFrame(const AVFrame& frame);

// A view of `bytes` holding one picture in `format`'s layout, top row first
// whatever the layout stores; false when the bytes are too few.
bool ViewOfBytes(const VideoFormat& format, int width, int height, const uint8_t* bytes, size_t size,
                 PictureView* view);

// The same picture upside down.
PictureView Flipped(const PictureView& view);

// Writes the picture (already in format's pixel format and size) into `out`,
// ImageBytes(format, ...) bytes in the layout's row order and padding.
void PackPicture(const PictureView& view, const VideoFormat& format, uint8_t* out);

}  // namespace media
