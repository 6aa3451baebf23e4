#include "platform/media/picture_orientation.h"

#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace media {

Orientation OrientationOf(const int32_t matrix[9]) {
  double theta = -av_display_rotation_get(matrix);
  if (std::isnan(theta)) return {};
  theta -= 360 * std::floor(theta / 360 + 0.9 / 360);
  long turns = std::lround(theta / 90) % 4;
  if (std::fabs(theta - 90.0 * std::lround(theta / 90)) > 1.0) return {};  // not a right angle: shown upright
  // A flip shows in the signs the pure turn would not have: a turn by 90
  // keeps matrix[3] negative, one by 270 positive; 0 and 180 keep the
  // diagonal's signs equal.
  const bool leftRight = matrix[0] < 0, upDown = matrix[4] < 0;
  switch (turns) {
    case 0:
      return upDown ? Orientation{2, true} : Orientation{};
    case 1:
      return {1, matrix[3] > 0};
    case 2:
      if (leftRight && upDown) return {2, false};
      if (leftRight) return {0, true};
      if (upDown) return {2, true};
      return {};
    default:
      return {3, matrix[3] < 0};
  }
}

bool CanOrient(AVPixelFormat format) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  if (!desc || (desc->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL))) return false;
  if (desc->flags & AV_PIX_FMT_FLAG_PLANAR) {
    const int bytes = desc->comp[0].depth > 8 ? 2 : 1;
    for (int i = 0; i < desc->nb_components; ++i)
      if (desc->comp[i].step != bytes || desc->comp[i].offset != 0) return false;
    return desc->log2_chroma_w == desc->log2_chroma_h && desc->comp[0].depth <= 16;
  }
  return (desc->flags & AV_PIX_FMT_FLAG_RGB) && av_get_bits_per_pixel(desc) % 8 == 0;
}

FramePtr OrientFrame(const AVFrame& frame, Orientation orientation) {
  AVPixelFormat format = static_cast<AVPixelFormat>(frame.format);
  const int turns = orientation.quarterTurns;
  if (!CanOrient(format) || turns < 0 || turns > 3 || orientation.upright()) return nullptr;
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  FramePtr out(av_frame_alloc());
  if (!out) return nullptr;
  out->format = frame.format;
  out->width = orientation.sideways() ? frame.height : frame.width;
  out->height = orientation.sideways() ? frame.width : frame.height;
  if (av_frame_get_buffer(out.get(), 0) < 0) return nullptr;
  av_frame_copy_props(out.get(), &frame);
  bool planar = desc->flags & AV_PIX_FMT_FLAG_PLANAR;
  int element = planar ? desc->comp[0].step : av_get_bits_per_pixel(desc) / 8;
  int planes = planar ? av_pix_fmt_count_planes(format) : 1;
  for (int p = 0; p < planes; ++p) {
    int shift = (p == 1 || p == 2) ? desc->log2_chroma_w : 0;
    int w = AV_CEIL_RSHIFT(frame.width, shift);
    int h = AV_CEIL_RSHIFT(frame.height, shift);
    int outWidth = orientation.sideways() ? h : w;
    const uint8_t* src = frame.data[p];
    uint8_t* dst = out->data[p];
    int srcStride = frame.linesize[p];
    int dstStride = out->linesize[p];
    for (int y = 0; y < h; ++y) {
      const uint8_t* row = src + static_cast<ptrdiff_t>(y) * srcStride;
      for (int x = 0; x < w; ++x) {
        int dx, dy;
        if (turns == 1) {  // clockwise: the left column becomes the top row
          dx = h - 1 - y;
          dy = x;
        } else if (turns == 2) {
          dx = w - 1 - x;
          dy = h - 1 - y;
        } else if (turns == 3) {  // anticlockwise: the top row becomes the left column
          dx = y;
          dy = w - 1 - x;
        } else {
          dx = x;
          dy = y;
        }
        if (orientation.mirrored) dx = outWidth - 1 - dx;
        std::memcpy(dst + static_cast<ptrdiff_t>(dy) * dstStride + dx * element, row + x * element, element);
      }
    }
  }
  return out;
}

}  // namespace media
