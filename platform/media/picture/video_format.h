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
#include "platform/media/picture/resolve_colour.h"

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

// A view of the frame whose values follow `colour`.
PictureView ViewOfFrame(const AVFrame& frame, const PictureColour& colour);
// A view of the frame with the colours it describes itself.
PictureView ViewOfFrame(const AVFrame& frame);

// A view of `bytes` holding one picture in `format`'s layout, top row first
// whatever the layout stores, with the colours of a picture that says
// nothing of them; false when the bytes are too few.
bool ViewOfBytes(const VideoFormat& format, int width, int height, const uint8_t* bytes, size_t size,
                 PictureView* view);

// The same picture upside down.
PictureView Flipped(const PictureView& view);

// Writes the picture (already in format's pixel format and size) into `out`,
// ImageBytes(format, ...) bytes in the layout's row order and padding.
void PackPicture(const PictureView& view, const VideoFormat& format, uint8_t* out);

}  // namespace media
