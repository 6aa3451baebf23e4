#include "platform/media/picture_converter.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "platform/gdi/bitmap.h"

namespace media {
namespace {

bool IsYuv(AVPixelFormat format) { return media::IsYuv(av_pix_fmt_desc_get(format)); }

int SwsColorspace(AVColorSpace space) {
  switch (space) {
    case AVCOL_SPC_BT709:
      return SWS_CS_ITU709;
    case AVCOL_SPC_FCC:
      return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M:
      return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
      return SWS_CS_BT2020;
    default:
      return SWS_CS_ITU601;
  }
}

bool IsFullRangeFormat(AVPixelFormat format) {
  return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P ||
         format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
}

}  // namespace

bool PictureConverter::Convert(const PictureView& src, AVPixelFormat format, int width, int height,
                               uint8_t* const dst[4], const int dstLinesize[4]) {
  if (src.width <= 0 || src.height <= 0 || width <= 0 || height <= 0) return false;
  int flags = SWS_BICUBIC;
  // sws_getCachedContext frees the old context itself when it makes a new one.
  context_.reset(sws_getCachedContext(context_.release(), src.width, src.height, src.format, width, height, format,
                                      flags, nullptr, nullptr, nullptr));
  if (!context_) return false;
  if (IsYuv(src.format)) {
    int full = src.colour.range == AVCOL_RANGE_JPEG || IsFullRangeFormat(src.format);
    const int* table = sws_getCoefficients(SwsColorspace(src.colour.matrix));
    // A YUV destination keeps the source's range; an RGB one is full range.
    int dstFull = IsYuv(format) ? full : 1;
    sws_setColorspaceDetails(context_.get(), table, full, table, dstFull, 0, 1 << 16, 1 << 16);
  }
  int rows = sws_scale(context_.get(), src.data, src.linesize, 0, src.height, dst, dstLinesize);
  return rows > 0;
}

FramePtr PictureConverter::ConvertToFrame(const PictureView& src, AVPixelFormat format, int width, int height) {
  FramePtr frame(av_frame_alloc());
  if (!frame) return nullptr;
  frame->format = format;
  frame->width = width;
  frame->height = height;
  // av_frame_get_buffer pads every plane beyond what swscale overwrites.
  if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
  if (!Convert(src, format, width, height, frame->data, frame->linesize)) return nullptr;
  if (IsYuv(format)) {
    frame->colorspace = src.colour.matrix;
    frame->color_range = (src.colour.range == AVCOL_RANGE_JPEG || IsFullRangeFormat(src.format))
                             ? AVCOL_RANGE_JPEG
                             : AVCOL_RANGE_MPEG;
    frame->chroma_location = src.colour.siting;
  }
  frame->color_trc = src.colour.transfer;
  frame->color_primaries = src.colour.primaries;
  return frame;
}

size_t PictureConverter::ConvertToDib(const PictureView& src, int width, int height, std::vector<uint8_t>* out) {
  if (!DibGeometryAcceptable(width, height, 24)) return 0;
  size_t stride = DibStride(width, 24);
  size_t size = stride * static_cast<size_t>(height);
  // libswscale's fast YUV to RGB path converts whole groups of 8 pixels and
  // leaves the last group out (black) when a row of such groups is longer
  // than the destination stride. Convert at a stride that holds whole groups,
  // then close the rows up to the DIB stride.
  size_t wide = std::max(stride, ((static_cast<size_t>(width) + 7) & ~size_t{7}) * 3);
  out->resize(wide * static_cast<size_t>(height) + kSwscaleSlack);
  // Reading the source upside down writes the DIB's bottom row first while the
  // destination rows still follow each other upwards in memory, so a block
  // written past a row's end lands in the next row before that row is written.
  PictureView flipped = Flipped(src);
  uint8_t* dst[4] = {out->data(), nullptr, nullptr, nullptr};
  int lines[4] = {static_cast<int>(wide), 0, 0, 0};
  if (!Convert(flipped, AV_PIX_FMT_BGR24, width, height, dst, lines)) return 0;
  if (wide != stride) {
    size_t row = static_cast<size_t>(width) * 3;
    uint8_t* base = out->data();
    for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
      std::memmove(base + y * stride, base + y * wide, row);
      std::memset(base + y * stride + row, 0, stride - row);
    }
  }
  return size;
}

}  // namespace media
