// Where the pixels of a device-independent bitmap lie: rows padded to 32
// bits, |biHeight| of them, stored bottom-up when the height is positive and
// top-down when it is negative. The bitmap stand-in that allocates them, the
// grabber that copies a frame in and the server that sends rows out all work
// it out here, on Linux and on Windows alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/win/types.h"

// Bytes per row: the row's bits rounded up to 32. The width is positive.
constexpr size_t DibStride(LONG width, WORD bitCount) {
  return ((static_cast<size_t>(width) * bitCount + 31) / 32) * 4;
}

// The number of rows, whichever way they run.
constexpr size_t DibRows(LONG height) {
  return height < 0 ? static_cast<size_t>(-static_cast<int64_t>(height)) : static_cast<size_t>(height);
}

// Bytes of the whole pixel block.
constexpr uint64_t DibBytes(const BITMAPINFOHEADER& header) {
  return uint64_t{DibStride(header.biWidth, header.biBitCount)} * DibRows(header.biHeight);
}

// The place in memory of the picture's row `row`, counted from the top.
constexpr size_t DibMemoryRow(LONG height, size_t row) { return height > 0 ? DibRows(height) - 1 - row : row; }

// Zeroes the bytes after each row's pixels in a 24-bit DIB of width x rows:
// a conversion writes the pixels alone, and padding left as it was would
// carry stray bytes.
inline void ClearDibPadding(uint8_t* dib, LONG width, size_t rows) {
  const size_t stride = DibStride(width, 24), row = static_cast<size_t>(width) * 3;
  if (stride != row)
    for (size_t y = 0; y < rows; ++y) std::memset(dib + y * stride + row, 0, stride - row);
}

// The size a picture of width x height is made within a longer edge: that
// edge at most (0 for any), the aspect kept to the nearest pixel, never
// enlarged. Every converter and the grabber's own scaling agree on it.
constexpr void FitWithinEdge(ULONG edge, LONG* width, LONG* height) {
  const int64_t w = *width, h = *height, longer = w > h ? w : h;
  if (edge == 0 || longer <= static_cast<int64_t>(edge)) return;
  const int64_t scaledW = (w * edge + longer / 2) / longer, scaledH = (h * edge + longer / 2) / longer;
  *width = static_cast<LONG>(scaledW > 0 ? scaledW : 1);
  *height = static_cast<LONG>(scaledH > 0 ? scaledH : 1);
}
