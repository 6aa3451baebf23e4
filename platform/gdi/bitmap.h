// The GDI bitmap stand-in: device-dependent bitmaps for the row-alignment
// probe and DIB sections for captured frames.
#pragma once

#include <cstddef>

#include "platform/gdi/dib_geometry.h"
#include "platform/win/types.h"

// On Windows the bitmaps are GDI's own, declared by the system's headers.
#ifndef _WIN32

// The largest pixel block a DIB section may have. Larger pictures are refused
// before anything is allocated.
constexpr size_t kMaxDibBytes = size_t{1} << 30;

// True when CreateDIBSection would accept the geometry: width > 0, height
// non-zero, a bit count of 1, 4, 8, 16, 24 or 32, and no more than
// kMaxDibBytes of pixels.
bool DibGeometryAcceptable(LONG width, LONG height, WORD bitCount);

// A device-dependent bitmap whose rows are padded to 16 bits, as Windows pads
// them; bits (may be null) gives the initial rows at that padding.
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);

// Fills a BITMAP for a bitmap made by CreateBitmap or CreateDIBSection.
// Returns the bytes written, 0 for an unknown object or a short buffer.
int GetObjectA(HGDIOBJ object, int size, void* out);

// Zero-filled pixel memory of |biHeight| rows padded to 32 bits. Returns null
// (and *bits null) for a geometry that DibGeometryAcceptable refuses or when
// memory runs out. The device context, section and offset are ignored.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset);

// Frees either kind. FALSE for null or an unknown object.
BOOL DeleteObject(HGDIOBJ object);

// Size in bytes of the pixel block of a live bitmap, 0 for anything else.
size_t BitmapPixelBytes(HBITMAP bitmap);
#endif  // _WIN32
