// The byte layouts the graph's pins carry: a picture packed into a subtype's
// layout and read back through a view converts to the same bitmap as the
// picture itself, for every layout the converter accepts.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/gdi/bitmap.h"
#include "platform/media/picture/picture_converter.h"

namespace media {
namespace {

// A picture whose every sample differs from its neighbours, so a swapped
// plane, a flipped row or a shifted column changes the result.
FramePtr Pattern(int width, int height) {
  FramePtr f(av_frame_alloc());
  f->format = AV_PIX_FMT_YUV420P;
  f->width = width;
  f->height = height;
  EXPECT_GE(av_frame_get_buffer(f.get(), 0), 0);
  for (int p = 0; p < 3; ++p) {
    int w = p ? (width + 1) / 2 : width, h = p ? (height + 1) / 2 : height;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) f->data[p][y * f->linesize[p] + x] = static_cast<uint8_t>(16 + (x * 7 + y * 13 + p * 71) % 220);
  }
  return f;
}

class Layout : public testing::TestWithParam<const GUID*> {};

TEST_P(Layout, PackedBytesConvertLikeTheFrame) {
  const VideoFormat* format = FindVideoFormat(*GetParam());
  ASSERT_NE(format, nullptr);
  // A width that is no multiple of 16 and rows of DIBs that need padding.
  const int w = 362, h = 21;
  PictureConverter converter;
  FramePtr picture = converter.ConvertToFrame(ViewOfFrame(*Pattern(w, h)), format->pixelFormat, w, h);
  ASSERT_TRUE(picture);
  std::vector<uint8_t> packed(ImageBytes(*format, w, h));
  ASSERT_GT(packed.size(), 0u);
  PackPicture(ViewOfFrame(*picture), *format, packed.data());

  PictureView view;
  EXPECT_FALSE(ViewOfBytes(*format, w, h, packed.data(), packed.size() - 1, &view));
  ASSERT_TRUE(ViewOfBytes(*format, w, h, packed.data(), packed.size(), &view));
  std::vector<uint8_t> fromBytes(DibStride(w, 24) * h), fromFrame(fromBytes.size());
  ASSERT_TRUE(converter.ConvertToDib(view, w, h, fromBytes.data()));
  ASSERT_TRUE(converter.ConvertToDib(ViewOfFrame(*picture), w, h, fromFrame.data()));
  EXPECT_EQ(fromBytes, fromFrame);

  // The video header describes those bytes.
  MediaType type = MakeVideoType(*format, w, h, 200000);
  const VIDEOINFOHEADER* vih = VideoInfoOf(type);
  ASSERT_NE(vih, nullptr);
  EXPECT_EQ(type.subtype, *GetParam());
  EXPECT_EQ(vih->bmiHeader.biSizeImage, packed.size());
  EXPECT_EQ(vih->bmiHeader.biHeight, h);
  EXPECT_EQ(vih->bmiHeader.biBitCount, format->bitCount);
}

INSTANTIATE_TEST_SUITE_P(Subtypes, Layout,
                         testing::Values(&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB555,
                                         &MEDIASUBTYPE_IYUV, &MEDIASUBTYPE_YV12, &MEDIASUBTYPE_YUY2,
                                         &MEDIASUBTYPE_UYVY, &MEDIASUBTYPE_YVYU, &MEDIASUBTYPE_NV12));

TEST(Layout, Rgb24IsABottomUpDib) {
  const VideoFormat& rgb = Rgb24Format();
  FramePtr f(av_frame_alloc());
  f->format = AV_PIX_FMT_BGR24;
  f->width = 3;
  f->height = 2;
  ASSERT_GE(av_frame_get_buffer(f.get(), 0), 0);
  for (int i = 0; i < 9; ++i) {
    f->data[0][i] = 1;                  // top row
    f->data[0][f->linesize[0] + i] = 2;  // bottom row
  }
  std::vector<uint8_t> packed(ImageBytes(rgb, 3, 2), 0xEE);
  ASSERT_EQ(packed.size(), 24u);  // 9 bytes padded to 12, two rows
  PackPicture(ViewOfFrame(*f), rgb, packed.data());
  const std::vector<uint8_t> want = {2, 2, 2, 2, 2, 2, 2, 2, 2, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0};
  EXPECT_EQ(packed, want);
}

TEST(Layout, Yv12StoresVBeforeU) {
  FramePtr f = Pattern(4, 2);
  std::vector<uint8_t> iyuv(12), yv12(12);
  PackPicture(ViewOfFrame(*f), *FindVideoFormat(MEDIASUBTYPE_IYUV), iyuv.data());
  PackPicture(ViewOfFrame(*f), *FindVideoFormat(MEDIASUBTYPE_YV12), yv12.data());
  EXPECT_EQ(iyuv[8], f->data[1][0]);
  EXPECT_EQ(iyuv[10], f->data[2][0]);
  EXPECT_EQ(yv12[8], f->data[2][0]);
  EXPECT_EQ(yv12[10], f->data[1][0]);
}

TEST(Layout, DibRowsAreWholeAtEveryWidth) {
  PictureConverter converter;
  for (int w : {17, 322, 330, 362, 641}) {
    FramePtr f(av_frame_alloc());
    f->format = AV_PIX_FMT_YUV420P;
    f->width = w;
    f->height = 4;
    ASSERT_GE(av_frame_get_buffer(f.get(), 0), 0);
    for (int p = 0; p < 3; ++p) std::memset(f->data[p], p ? 128 : 200, static_cast<size_t>(f->linesize[p]) * (p ? 2 : 4));
    std::vector<uint8_t> dib(DibStride(w, 24) * 4);
    ASSERT_TRUE(converter.ConvertToDib(ViewOfFrame(*f), w, 4, dib.data()));
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < w * 3; ++x)
        ASSERT_EQ(dib[y * DibStride(w, 24) + x], dib[0]) << "width " << w << " row " << y << " byte " << x;
  }
}

TEST(Layout, SubtypesWithoutALayoutAreUnknown) {
  EXPECT_EQ(FindVideoFormat(MEDIASUBTYPE_CLJR), nullptr);
  EXPECT_EQ(FindVideoFormat(FourccGuid('H', '2', '6', '4')), nullptr);
}

}  // namespace
}  // namespace media
