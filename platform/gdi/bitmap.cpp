#include "platform/gdi/bitmap.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

namespace {

struct BitmapObject {
  LONG width;
  LONG height;  // as created: negative for a top-down DIB
  WORD bitCount;
  size_t stride;
  size_t bytes;
  BYTE* pixels;
};

// Every live bitmap, so that DeleteObject and GetObjectA refuse a stale or
// foreign handle instead of freeing it.
std::mutex live_lock;
std::unordered_set<BitmapObject*>& Live() {
  static auto* live = new std::unordered_set<BitmapObject*>;
  return *live;
}

bool BitCountKnown(WORD b) { return b == 1 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32; }

HBITMAP Make(LONG width, LONG height, WORD bitCount, size_t stride) {
  size_t rows = height < 0 ? static_cast<size_t>(-static_cast<int64_t>(height)) : static_cast<size_t>(height);
  size_t bytes = stride * rows;
  BYTE* pixels = static_cast<BYTE*>(std::calloc(bytes ? bytes : 1, 1));
  if (!pixels) return nullptr;
  auto* b = new (std::nothrow) BitmapObject{width, height, bitCount, stride, bytes, pixels};
  if (!b) {
    std::free(pixels);
    return nullptr;
  }
  std::lock_guard<std::mutex> hold(live_lock);
  Live().insert(b);
  return reinterpret_cast<HBITMAP>(b);
}

BitmapObject* Find(HGDIOBJ object) {
  auto* b = static_cast<BitmapObject*>(object);
  std::lock_guard<std::mutex> hold(live_lock);
  return Live().count(b) ? b : nullptr;
}

}  // namespace

bool DibGeometryAcceptable(LONG width, LONG height, WORD bitCount) {
  if (width <= 0 || height == 0 || !BitCountKnown(bitCount)) return false;
  return DibRows(height) <= kMaxDibBytes / DibStride(width, bitCount);
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  if (width <= 0 || height <= 0 || planes != 1 || !BitCountKnown(static_cast<WORD>(bitsPerPixel))) return nullptr;
  size_t stride = ((static_cast<size_t>(width) * bitsPerPixel + 15) / 16) * 2;
  if (static_cast<size_t>(height) > kMaxDibBytes / stride) return nullptr;
  HBITMAP h = Make(width, height, static_cast<WORD>(bitsPerPixel), stride);
  if (h && bits) {
    auto* b = reinterpret_cast<BitmapObject*>(h);
    std::memcpy(b->pixels, bits, b->bytes);
  }
  return h;
}

int GetObjectA(HGDIOBJ object, int size, void* out) {
  BitmapObject* b = Find(object);
  if (!b || !out || size < static_cast<int>(sizeof(BITMAP))) return 0;
  BITMAP bm{};
  bm.bmType = 0;
  bm.bmWidth = b->width;
  bm.bmHeight = b->height < 0 ? -b->height : b->height;
  bm.bmWidthBytes = static_cast<LONG>(b->stride);
  bm.bmPlanes = 1;
  bm.bmBitsPixel = b->bitCount;
  bm.bmBits = b->pixels;
  std::memcpy(out, &bm, sizeof bm);
  return static_cast<int>(sizeof bm);
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT, void** bits, HANDLE, DWORD) {
  if (bits) *bits = nullptr;
  if (!info) return nullptr;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (!DibGeometryAcceptable(h.biWidth, h.biHeight, h.biBitCount)) return nullptr;
  HBITMAP made = Make(h.biWidth, h.biHeight, h.biBitCount, DibStride(h.biWidth, h.biBitCount));
  if (made && bits) *bits = reinterpret_cast<BitmapObject*>(made)->pixels;
  return made;
}

BOOL DeleteObject(HGDIOBJ object) {
  auto* b = static_cast<BitmapObject*>(object);
  {
    std::lock_guard<std::mutex> hold(live_lock);
    if (!b || !Live().erase(b)) return FALSE;
  }
  std::free(b->pixels);
  delete b;
  return TRUE;
}

size_t BitmapPixelBytes(HBITMAP bitmap) {
  BitmapObject* b = Find(bitmap);
  return b ? b->bytes : 0;
}
