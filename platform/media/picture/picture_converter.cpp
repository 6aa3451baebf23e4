#include "platform/media/picture/picture_converter.h"

#include <algorithm>
#include <cstring>
#include <memory>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "platform/gdi/bitmap.h"

namespace media {
namespace {

bool IsYuv(AVPixelFormat format) { return media::IsYuv(av_pix_fmt_desc_get(format)); }

int SwsColorspace(AVColorSpace matrix) {
  switch (matrix) {
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
      // BT.601 itself, and the matrices libswscale has no table for (YCgCo,
      // the chroma-derived ones), which it shows with BT.601's as the ffmpeg
      // tool does.
      return SWS_CS_ITU601;
  }
}

// The source rows of the last slice of a DIB conversion, which goes through
// scratch memory.
constexpr int kTailRows = 16;

}  // namespace

bool PictureConverter::Prepare(const PictureView& src, AVPixelFormat format, int width, int height) {
  if (src.width <= 0 || src.height <= 0 || width <= 0 || height <= 0) return false;
  int flags = SWS_BICUBIC;
  // sws_getCachedContext frees the old context itself when it makes a new one.
  context_.reset(sws_getCachedContext(context_.release(), src.width, src.height, src.format, width, height, format,
                                      flags, nullptr, nullptr, nullptr));
  if (!context_) return false;
  if (IsYuv(src.format)) {
    int full = src.colour.range == AVCOL_RANGE_JPEG;
    const int* table = sws_getCoefficients(SwsColorspace(src.colour.matrix));
    // A YUV destination keeps the source's range; an RGB one is full range.
    int dstFull = IsYuv(format) ? full : 1;
    sws_setColorspaceDetails(context_.get(), table, full, table, dstFull, 0, 1 << 16, 1 << 16);
  }
  return true;
}

bool PictureConverter::Convert(const PictureView& src, AVPixelFormat format, int width, int height,
                               uint8_t* const dst[4], const int dstLinesize[4]) {
  if (!Prepare(src, format, width, height)) return false;
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
    frame->color_range = src.colour.range;
    frame->chroma_location = src.colour.siting;
  }
  frame->color_trc = src.colour.transfer;
  frame->color_primaries = src.colour.primaries;
  return frame;
}

int PictureConverter::ConvertSlice(const PictureView& src, int first, int rows, uint8_t* base, int stride) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(src.format);
  if (!d) return -1;
  const uint8_t* planes[4] = {};
  for (int p = 0; p < 4; ++p) {
    if (!src.data[p]) continue;
    // Chroma planes hold fewer rows; a palette is no plane of rows at all.
    const bool palette = p == 1 && (d->flags & AV_PIX_FMT_FLAG_PAL);
    const int row = palette ? 0 : (p == 1 || p == 2) ? first >> d->log2_chroma_h : first;
    planes[p] = src.data[p] + static_cast<ptrdiff_t>(row) * src.linesize[p];
  }
  uint8_t* dst[4] = {base, nullptr, nullptr, nullptr};
  int lines[4] = {stride, 0, 0, 0};
  return sws_scale(context_.get(), planes, src.linesize, first, rows, dst, lines);
}

bool PictureConverter::ConvertToDib(const PictureView& src, int width, int height, uint8_t* dib) {
  if (!DibGeometryAcceptable(width, height, 24) || !Prepare(src, AV_PIX_FMT_BGR24, width, height)) return false;
  const size_t stride = DibStride(width, 24);
  const size_t row = static_cast<size_t>(width) * 3;
  const size_t rows = static_cast<size_t>(height);
  // Reading the source upside down writes the DIB's bottom row first while the
  // destination rows still follow each other upwards in memory, so a block
  // written past a row's end lands in the next row before that row is written.
  const PictureView flipped = Flipped(src);
  // libswscale's fast YUV to RGB path converts whole groups of 8 pixels and
  // leaves the last group out (black) when a row of such groups is longer
  // than the destination stride. Such widths convert at a stride that holds
  // whole groups, and the rows are closed up to the DIB stride.
  const size_t wide = std::max(stride, ((static_cast<size_t>(width) + 7) & ~size_t{7}) * 3);
  if (wide != stride) {
    // Only the pixels of its rows are read back: no need to clear it first.
    auto scratch = std::make_unique_for_overwrite<uint8_t[]>(wide * rows + kSwscaleSlack);
    if (ConvertSlice(flipped, 0, src.height, scratch.get(), static_cast<int>(wide)) != height) return false;
    for (size_t y = 0; y < rows; ++y) std::memcpy(dib + y * stride, scratch.get() + y * wide, row);
    ClearDibPadding(dib, width, rows);
    return true;
  }
  ClearDibPadding(dib, width, rows);
  // The last source rows go through scratch memory: the blocks written past
  // the DIB's top row would land beyond its end. The first slice ends on a
  // boundary of every chroma subsampling.
  const int tail = std::min(src.height, kTailRows);
  const int first = (src.height - tail) & ~3;
  const int written = first > 0 ? ConvertSlice(flipped, 0, first, dib, static_cast<int>(stride)) : 0;
  if (written < 0 || written > height) return false;
  const size_t done = static_cast<size_t>(written);
  std::vector<uint8_t> scratch((rows - done) * stride + kSwscaleSlack);
  // Output rows are placed by their number in the whole picture: the base
  // lies `done` rows before the scratch memory, which they never reach.
  uint8_t* base = reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(scratch.data()) - done * stride);
  if (ConvertSlice(flipped, first, src.height - first, base, static_cast<int>(stride)) != height - written)
    return false;
  std::memcpy(dib + done * stride, scratch.data(), (rows - done) * stride);
  return true;
}

}  // namespace media
