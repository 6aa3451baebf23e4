#include "platform/media/picture_rotation.h"

#include <cstring>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace media {

bool CanRotate(AVPixelFormat format) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  if (!desc || (desc->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL))) return false;
  if (desc->flags & AV_PIX_FMT_FLAG_PLANAR)
    return desc->log2_chroma_w == desc->log2_chroma_h && desc->comp[0].depth == 8 && desc->comp[0].step == 1;
  return (desc->flags & AV_PIX_FMT_FLAG_RGB) && av_get_bits_per_pixel(desc) % 8 == 0;
}

FramePtr RotateFrame(const AVFrame& frame, int quarterTurns) {
  AVPixelFormat format = static_cast<AVPixelFormat>(frame.format);
  if (!CanRotate(format) || quarterTurns < 1 || quarterTurns > 3) return nullptr;
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  bool sideways = quarterTurns != 2;
  FramePtr out(av_frame_alloc());
  if (!out) return nullptr;
  out->format = frame.format;
  out->width = sideways ? frame.height : frame.width;
  out->height = sideways ? frame.width : frame.height;
  if (av_frame_get_buffer(out.get(), 0) < 0) return nullptr;
  av_frame_copy_props(out.get(), &frame);
  bool planar = desc->flags & AV_PIX_FMT_FLAG_PLANAR;
  int element = planar ? 1 : av_get_bits_per_pixel(desc) / 8;
  int planes = planar ? desc->nb_components : 1;
  for (int p = 0; p < planes; ++p) {
    int shift = (p == 1 || p == 2) ? desc->log2_chroma_w : 0;
    int w = AV_CEIL_RSHIFT(frame.width, shift);
    int h = AV_CEIL_RSHIFT(frame.height, shift);
    const uint8_t* src = frame.data[p];
    uint8_t* dst = out->data[p];
    int srcStride = frame.linesize[p];
    int dstStride = out->linesize[p];
    for (int y = 0; y < h; ++y) {
      const uint8_t* row = src + static_cast<ptrdiff_t>(y) * srcStride;
      for (int x = 0; x < w; ++x) {
        int dx, dy;
        if (quarterTurns == 1) {  // clockwise: the left column becomes the top row
          dx = h - 1 - y;
          dy = x;
        } else if (quarterTurns == 2) {
          dx = w - 1 - x;
          dy = h - 1 - y;
        } else {  // anticlockwise: the top row becomes the left column
          dx = y;
          dy = w - 1 - x;
        }
        std::memcpy(dst + static_cast<ptrdiff_t>(dy) * dstStride + dx * element, row + x * element, element);
      }
    }
  }
  return out;
}

}  // namespace media
