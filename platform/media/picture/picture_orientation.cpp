#include "platform/media/picture/picture_orientation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace media {
namespace {

// One plane's elements and where the orientation sends them: the element
// in column x of row y goes to first + x * stepX + y * stepY.
struct PlaneMove {
  const uint8_t* src = nullptr;
  ptrdiff_t srcStride = 0;
  uint8_t* first = nullptr;
  ptrdiff_t stepX = 0;
  ptrdiff_t stepY = 0;
  int width = 0;
  int height = 0;
};

// Where the plane at src, width x height elements of `element` bytes, lands
// in the oriented plane at dst. Each turn is a linear map of (x, y): the
// column and row it gives are a start plus multiples of x and y.
PlaneMove Aim(Orientation orientation, const uint8_t* src, ptrdiff_t srcStride, int width, int height, int element,
              uint8_t* dst, ptrdiff_t dstStride) {
  struct Linear {
    ptrdiff_t start, perX, perY;
  };
  Linear column{0, 1, 0}, row{0, 0, 1};
  switch (orientation.quarterTurns) {
    case 1:  // clockwise: the left column becomes the top row
      column = {height - 1, 0, -1};
      row = {0, 1, 0};
      break;
    case 2:
      column = {width - 1, -1, 0};
      row = {height - 1, 0, -1};
      break;
    case 3:  // anticlockwise: the top row becomes the left column
      column = {0, 0, 1};
      row = {width - 1, -1, 0};
      break;
    default:
      break;
  }
  if (orientation.mirrored) {
    const ptrdiff_t outWidth = orientation.sideways() ? height : width;
    column = {outWidth - 1 - column.start, -column.perX, -column.perY};
  }
  PlaneMove move;
  move.src = src;
  move.srcStride = srcStride;
  move.first = dst + row.start * dstStride + column.start * element;
  move.stepX = row.perX * dstStride + column.perX * element;
  move.stepY = row.perY * dstStride + column.perY * element;
  move.width = width;
  move.height = height;
  return move;
}

// Moves the plane's elements, Size bytes each (0: `element` bytes, known only
// at run time). It goes tile by tile: a quarter turn sends each row read down
// a column, and a square tile keeps the rows it reads and the columns it
// writes in the cache together, where a whole row would spread its writes
// over as many lines as the picture is wide.
template <int Size>
void MovePlane(const PlaneMove& move, int element) {
  constexpr int kTile = 64;
  const size_t size = Size ? Size : static_cast<size_t>(element);
  for (int top = 0; top < move.height; top += kTile) {
    const int bottom = std::min(top + kTile, move.height);
    for (int left = 0; left < move.width; left += kTile) {
      const int right = std::min(left + kTile, move.width);
      for (int y = top; y < bottom; ++y) {
        const uint8_t* in = move.src + y * move.srcStride + static_cast<ptrdiff_t>(left) * size;
        uint8_t* out = move.first + y * move.stepY + left * move.stepX;
        for (int x = left; x < right; ++x, in += size, out += move.stepX) std::memcpy(out, in, size);
      }
    }
  }
}

}  // namespace

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
    const PlaneMove move = Aim(orientation, frame.data[p], frame.linesize[p], AV_CEIL_RSHIFT(frame.width, shift),
                               AV_CEIL_RSHIFT(frame.height, shift), element, out->data[p], out->linesize[p]);
    switch (element) {
      case 1: MovePlane<1>(move, element); break;
      case 2: MovePlane<2>(move, element); break;
      case 3: MovePlane<3>(move, element); break;
      case 4: MovePlane<4>(move, element); break;
      default: MovePlane<0>(move, element); break;
    }
  }
  return out;
}

}  // namespace media
