#include "platform/gdi/bitmap.h"

#include <gtest/gtest.h>

namespace {

BITMAPINFO Info(LONG w, LONG h, WORD bits) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = bits;
  return bi;
}

TEST(CreateBitmap, PadsRowsTo16BitsLikeWindows) {
  HBITMAP b = CreateBitmap(1, 1, 1, 24, nullptr);
  ASSERT_NE(b, nullptr);
  BITMAP bm{};
  EXPECT_EQ(GetObjectA(b, sizeof bm, &bm), static_cast<int>(sizeof bm));
  EXPECT_EQ(bm.bmWidthBytes, 4);
  EXPECT_EQ(DeleteObject(b), TRUE);
  EXPECT_EQ(DeleteObject(b), FALSE);  // stale handle refused, not freed twice
}

TEST(CreateDIBSection, ZeroFilledRowsPaddedTo32Bits) {
  BITMAPINFO bi = Info(321, 2, 24);
  void* bits = nullptr;
  HBITMAP b = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(bits, nullptr);
  EXPECT_EQ(BitmapPixelBytes(b), 964u * 2);
  auto* p = static_cast<BYTE*>(bits);
  for (size_t i = 0; i < 964 * 2; ++i) ASSERT_EQ(p[i], 0);
  DeleteObject(b);
}

TEST(CreateDIBSection, RefusesGeometryItCannotHold) {
  struct Case {
    LONG w, h;
    WORD bits;
  } cases[] = {{0, 10, 24}, {-5, 10, 24}, {10, 0, 24}, {10, 10, 12}, {100000, 100000, 24}, {65536, -65536, 32}};
  for (const Case& c : cases) {
    BITMAPINFO bi = Info(c.w, c.h, c.bits);
    void* bits = reinterpret_cast<void*>(1);
    EXPECT_EQ(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr) << c.w << "x" << c.h;
    EXPECT_EQ(bits, nullptr);
  }
}

TEST(CreateDIBSection, NegativeHeightHoldsAbsoluteRows) {
  BITMAPINFO bi = Info(4, -3, 24);
  void* bits = nullptr;
  HBITMAP b = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(BitmapPixelBytes(b), 12u * 3);
  DeleteObject(b);
}

// The bitmaps, the grabber's copy and the server's rows all read this one
// geometry: a stride off by the padding shears every row after the first,
// a row order the wrong way round sends the picture upside down.
TEST(DibGeometry, RowsPaddedTo32BitsEitherWayUp) {
  struct Case {
    LONG width;
    LONG height;
    WORD bitCount;
    size_t stride;
    uint64_t bytes;
    size_t topRowInMemory;
  };
  const Case kCases[] = {
      {1, 1, 24, 4, 4, 0},      {3, 2, 24, 12, 24, 1},      {5, -2, 24, 16, 32, 0},
      {4, 3, 32, 16, 48, 2},    {33, 1, 1, 8, 8, 0},        {321, -240, 24, 964, 964u * 240, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " x " << c.bitCount);
    EXPECT_EQ(DibStride(c.width, c.bitCount), c.stride);
    BITMAPINFOHEADER header{};
    header.biWidth = c.width;
    header.biHeight = c.height;
    header.biBitCount = c.bitCount;
    EXPECT_EQ(DibBytes(header), c.bytes);
    EXPECT_EQ(DibMemoryRow(c.height, 0), c.topRowInMemory);
    EXPECT_EQ(DibMemoryRow(c.height, DibRows(c.height) - 1), DibRows(c.height) - 1 - c.topRowInMemory);
  }
}

}  // namespace
