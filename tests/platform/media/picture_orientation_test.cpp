// Turning a picture's planes, element by element, tile by tile.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "platform/media/picture/picture_orientation.h"

namespace media {
namespace {

// A picture whose every byte of every plane differs from its neighbours,
// 130 x 67: planes of whole tiles and of part tiles, and odd chroma sizes.
FramePtr Numbered(AVPixelFormat format) {
  FramePtr f(av_frame_alloc());
  f->format = format;
  f->width = 130;
  f->height = 67;
  EXPECT_GE(av_frame_get_buffer(f.get(), 0), 0);
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  for (int p = 0; p < 4 && f->data[p]; ++p) {
    const int rows = AV_CEIL_RSHIFT(f->height, (p == 1 || p == 2) ? d->log2_chroma_h : 0);
    for (int y = 0; y < rows; ++y)
      for (int i = 0; i < f->linesize[p]; ++i) f->data[p][y * f->linesize[p] + i] = static_cast<uint8_t>(y * 31 + i * 7 + p);
  }
  return f;
}

// The bytes of a plane's elements, padding left out.
std::vector<uint8_t> PlaneBytes(const AVFrame& f, int p) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f.format));
  const int shift = (p == 1 || p == 2) ? d->log2_chroma_w : 0;
  const bool planar = d->flags & AV_PIX_FMT_FLAG_PLANAR;
  const int rowBytes = AV_CEIL_RSHIFT(f.width, shift) * (planar ? d->comp[0].step : av_get_bits_per_pixel(d) / 8);
  std::vector<uint8_t> bytes;
  for (int y = 0; y < AV_CEIL_RSHIFT(f.height, (p == 1 || p == 2) ? d->log2_chroma_h : 0); ++y)
    bytes.insert(bytes.end(), f.data[p] + y * f.linesize[p], f.data[p] + y * f.linesize[p] + rowBytes);
  return bytes;
}

// Caught: an element at a tile's edge left unwritten or written twice, a
// mirror applied to the wrong axis, and elements of 3 or 6 bytes moved as
// if they were 4 or 8. Every orientation followed by its inverse gives the
// picture back and equals its two steps done one by one; the top left
// element lands where a viewer expects it.
TEST(OrientFrame, EveryOrientationUndoneGivesThePictureBack) {
  const AVPixelFormat formats[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_RGB24, AV_PIX_FMT_RGBA,
                                   AV_PIX_FMT_RGB48LE};
  for (AVPixelFormat format : formats) {
    FramePtr picture = Numbered(format);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    const int element = (d->flags & AV_PIX_FMT_FLAG_PLANAR) ? d->comp[0].step : av_get_bits_per_pixel(d) / 8;
    for (int turns = 0; turns < 4; ++turns) {
      for (bool mirrored : {false, true}) {
        const Orientation there{turns, mirrored};
        if (there.upright()) continue;
        // A flip after any turn is its own inverse; a plain turn is undone by
        // the rest of the full circle.
        const Orientation back = mirrored ? there : Orientation{(4 - turns) % 4, false};
        const std::string what = std::string(d->name) + " turns " + std::to_string(turns) + (mirrored ? " mirrored" : "");
        FramePtr turned = OrientFrame(*picture, there);
        ASSERT_TRUE(turned) << what;
        EXPECT_EQ(turned->width, there.sideways() ? 67 : 130) << what;
        // Where the top left element goes: clockwise to the top right,
        // half round to the bottom right, anticlockwise to the bottom left,
        // then across for a mirror.
        int x = turns == 1 || turns == 2 ? turned->width - 1 : 0, y = turns >= 2 ? turned->height - 1 : 0;
        if (mirrored) x = turned->width - 1 - x;
        EXPECT_EQ(0, std::memcmp(turned->data[0] + y * turned->linesize[0] + x * element, picture->data[0], element))
            << what;
        // A mirror is the flip of the turned picture; a turn is one quarter
        // turn more than the turn before it.
        if (mirrored ? turns > 0 : turns > 1) {
          FramePtr first = OrientFrame(*picture, {mirrored ? turns : turns - 1, false});
          FramePtr parts = OrientFrame(*first, mirrored ? Orientation{0, true} : Orientation{1, false});
          for (int p = 0; p < 4 && picture->data[p]; ++p)
            EXPECT_EQ(PlaneBytes(*turned, p), PlaneBytes(*parts, p)) << what << " in two steps, plane " << p;
        }
        FramePtr again = OrientFrame(*turned, back);
        ASSERT_TRUE(again) << what;
        for (int p = 0; p < 4 && picture->data[p]; ++p)
          EXPECT_EQ(PlaneBytes(*again, p), PlaneBytes(*picture, p)) << what << " plane " << p;
      }
    }
  }
}

}  // namespace
}  // namespace media
