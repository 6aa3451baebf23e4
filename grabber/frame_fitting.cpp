// The grabber's own scaling, for frames a converter could not make small (the
// system's converter, or a picture that needed none): each pixel of the
// smaller bitmap is the mean of the block of pixels it covers, which keeps
// fine detail from turning into aliasing as a plain pick would.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "grabber/thumbnailer.h"
#include "platform/gdi/bitmap.h"
#include "platform/gdi/dib_geometry.h"

namespace {

// The first source pixel of each target pixel, and one past the last.
std::vector<int64_t> Bounds(int64_t source, int64_t target) {
  std::vector<int64_t> bounds(static_cast<size_t>(target) + 1);
  for (int64_t i = 0; i <= target; ++i) bounds[static_cast<size_t>(i)] = i * source / target;
  return bounds;
}

}  // namespace

void TDirectShowThumbnailer::FitFrameWithin() {
  const BITMAPINFOHEADER& frame = BitmapInfo.bmiHeader;
  if (!Bits || LongerEdge == 0 || frame.biBitCount != 24 || frame.biWidth <= 0 || frame.biHeight <= 0) return;
  LONG width = frame.biWidth, height = frame.biHeight;
  FitWithinEdge(LongerEdge, &width, &height);
  if (width == frame.biWidth && height == frame.biHeight) return;

  BITMAPINFO small = BitmapInfo;
  small.bmiHeader.biWidth = width;
  small.bmiHeader.biHeight = height;
  small.bmiHeader.biSizeImage = static_cast<DWORD>(DibStride(width, 24) * static_cast<size_t>(height));
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &small, DIB_RGB_COLORS, &pixels, nullptr, 0);
  // Without memory for the smaller one the frame stays as it is: larger
  // than asked, but the frame.
  if (!pixels) {
    if (bitmap) DeleteObject(bitmap);
    return;
  }
  const size_t fromStride = DibStride(frame.biWidth, 24), toStride = DibStride(width, 24);
  const std::vector<int64_t> columns = Bounds(frame.biWidth, width), rows = Bounds(frame.biHeight, height);
  std::vector<uint64_t> sums(static_cast<size_t>(width) * 3);
  auto* out = static_cast<BYTE*>(pixels);
  // Both bitmaps run bottom-up, so row r of one covers rows of the other in
  // the same order.
  for (LONG y = 0; y < height; ++y) {
    std::fill(sums.begin(), sums.end(), 0);
    for (int64_t from = rows[y]; from < rows[y + 1]; ++from) {
      const BYTE* row = Bits + static_cast<size_t>(from) * fromStride;
      for (LONG x = 0; x < width; ++x)
        for (int64_t c = columns[x]; c < columns[x + 1]; ++c)
          for (int k = 0; k < 3; ++k) sums[x * 3 + k] += row[c * 3 + k];
    }
    BYTE* to = out + static_cast<size_t>(y) * toStride;
    for (LONG x = 0; x < width; ++x) {
      const uint64_t count = static_cast<uint64_t>((columns[x + 1] - columns[x]) * (rows[y + 1] - rows[y]));
      for (int k = 0; k < 3; ++k) to[x * 3 + k] = static_cast<BYTE>((sums[x * 3 + k] + count / 2) / count);
    }
  }
  DeleteFrameBitmap();
  Bitmap = bitmap;
  Bits = out;
  BitmapInfo = small;
}
