#include "platform/media/picture/field_interpolation.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace media {
namespace {

// The four-tap half-row filter (-1, 9, 9, -1) / 16: sharper than the mean of
// the two neighbours, and exact on straight gradients.
template <typename T>
void InterpolateRow(const T* above3, const T* above, const T* below, const T* below3, T* out, int count, int max) {
  for (int x = 0; x < count; ++x) {
    int v = (9 * (above[x] + below[x]) - above3[x] - below3[x] + 8) >> 4;
    out[x] = static_cast<T>(std::clamp(v, 0, max));
  }
}

template <typename T>
void InterpolatePlane(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int width, int rows,
                      int firstKept, int max) {
  auto row = [&](int y) {
    // A row of the kept field, the nearest one past either edge.
    if (y < firstKept) y = firstKept;
    while (y >= rows) y -= 2;
    if (y < 0) y = firstKept;
    return reinterpret_cast<const T*>(src + static_cast<ptrdiff_t>(y) * srcStride);
  };
  for (int y = 0; y < rows; ++y) {
    T* out = reinterpret_cast<T*>(dst + static_cast<ptrdiff_t>(y) * dstStride);
    if ((y - firstKept) % 2 == 0) {
      std::memcpy(out, row(y), static_cast<size_t>(width) * sizeof(T));
    } else {
      InterpolateRow(row(y - 3), row(y - 1), row(y + 1), row(y + 3), out, width, max);
    }
  }
}

bool TopFieldFirst(const AVFrame& frame, int streamFieldOrder) {
  if (frame.interlaced_frame) return frame.top_field_first != 0;
  return streamFieldOrder == AV_FIELD_TT || streamFieldOrder == AV_FIELD_TB;
}

}  // namespace

bool IsInterlaced(const AVFrame& frame, int streamFieldOrder) {
  return frame.interlaced_frame || (streamFieldOrder != AV_FIELD_UNKNOWN && streamFieldOrder != AV_FIELD_PROGRESSIVE &&
                                    streamFieldOrder >= AV_FIELD_TT && streamFieldOrder <= AV_FIELD_BT);
}

FramePtr InterpolateFirstField(const AVFrame& frame, int streamFieldOrder) {
  const AVPixelFormat format = static_cast<AVPixelFormat>(frame.format);
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  const uint64_t refused =
      AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_FLOAT;
  if (!desc || (desc->flags & refused)) return nullptr;
  // Samples of more than 8 bits are little-endian 16-bit words.
  const bool words = desc->comp[0].depth > 8;
  if (words && ((desc->flags & AV_PIX_FMT_FLAG_BE) || desc->comp[0].depth > 16)) return nullptr;
  if (frame.height < 2) return nullptr;
  int lineBytes[4];
  if (av_image_fill_linesizes(lineBytes, format, frame.width) < 0) return nullptr;
  FramePtr out(av_frame_alloc());
  if (!out) return nullptr;
  out->format = frame.format;
  out->width = frame.width;
  out->height = frame.height;
  if (av_frame_get_buffer(out.get(), 0) < 0) return nullptr;
  av_frame_copy_props(out.get(), &frame);
  out->interlaced_frame = 0;
  const int firstKept = TopFieldFirst(frame, streamFieldOrder) ? 0 : 1;
  const int max = ((1 << desc->comp[0].depth) - 1) << desc->comp[0].shift;
  for (int p = 0; p < av_pix_fmt_count_planes(format); ++p) {
    const bool chroma = (p == 1 || p == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
    const int rows = chroma ? AV_CEIL_RSHIFT(frame.height, desc->log2_chroma_h) : frame.height;
    if (rows < 2) {
      av_image_copy_plane(out->data[p], out->linesize[p], frame.data[p], frame.linesize[p], lineBytes[p], rows);
      continue;
    }
    if (words) {
      InterpolatePlane<uint16_t>(frame.data[p], frame.linesize[p], out->data[p], out->linesize[p], lineBytes[p] / 2,
                                 rows, firstKept, max);
    } else {
      InterpolatePlane<uint8_t>(frame.data[p], frame.linesize[p], out->data[p], out->linesize[p], lineBytes[p], rows,
                                firstKept, max);
    }
  }
  return out;
}

}  // namespace media
