#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "grabber/thumbnailer.h"
#include "platform/gdi/bitmap.h"
#include "platform/gdi/dib_geometry.h"
#include "platform/trace.h"

namespace {

// The brightness measure below which a frame is too dark to show.
constexpr unsigned DarkThreshold = 70;

// The renderer's connected type describes a video frame only when its format
// block is a whole VIDEOINFOHEADER.
const VIDEOINFOHEADER* VideoHeader(const AM_MEDIA_TYPE* type) {
  if (!type || !type->pbFormat || type->formattype != FORMAT_VideoInfo || type->cbFormat < sizeof(VIDEOINFOHEADER))
    return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
}

// The sum of count bytes. The measure reads every byte of every frame tried
// (a hundred megabytes for an 8K one), so sixteen bytes go at a time: the sum
// of absolute differences against zero adds them into two 64-bit lanes, which
// never overflow.
uint64_t ByteSum(const BYTE* bytes, uint64_t count) {
  uint64_t sum = 0;
  uint64_t i = 0;
#if defined(__SSE2__) && defined(__x86_64__)
  const __m128i zero = _mm_setzero_si128();
  __m128i lanes = zero;
  for (; count - i >= 16; i += 16)
    lanes = _mm_add_epi64(lanes, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i)), zero));
  sum = static_cast<uint64_t>(_mm_cvtsi128_si64(lanes)) +
        static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(lanes, lanes)));
#endif
  for (; i < count; ++i) sum += bytes[i];
  return sum;
}

}  // namespace

void TDirectShowThumbnailer::GrabFrameDX7() {
  DebugTrace("TDirectShowThumbnailer::GrabFrameDX7 1\n");
  // The type belongs to the renderer: read here, never freed.
  AM_MEDIA_TYPE* type = nullptr;
  if (!MyGrabber || FAILED(MyGrabber->get_MediaType(&type))) {
    DebugTrace("MyGrabber->get_MediaType failed\n");
    return;
  }
  DebugTrace("TDirectShowThumbnailer::GrabFrameDX7 2\n");
  const VIDEOINFOHEADER* pVideoHeader = VideoHeader(type);
  if (!pVideoHeader) {
    DebugTrace("!pVideoHeader\n");
    return;
  }
  DeleteFrameBitmap();
  std::memset(&BitmapInfo, 0, sizeof BitmapInfo);
  std::memcpy(&BitmapInfo.bmiHeader, reinterpret_cast<const BYTE*>(pVideoHeader) + offsetof(VIDEOINFOHEADER, bmiHeader),
              sizeof(BITMAPINFOHEADER));
  DebugTrace("TDirectShowThumbnailer::GrabFrameDX7 3\n");

  void* pixels = nullptr;
  Bitmap = CreateDIBSection(nullptr, &BitmapInfo, DIB_RGB_COLORS, &pixels, nullptr, 0);
  Bits = static_cast<BYTE*>(pixels);
  DebugTrace("TDirectShowThumbnailer::GrabFrameDX7 4\n");
  if (!Bits) return;

  LONG size = 0;
  if (FAILED(MyGrabber->GetCurrentBuffer(&size, nullptr))) {
    DebugTrace("MyGrabber->GetCurrentBuffer failed\n");
    // No sample came through this run (a file with nothing decodable at
    // this position): an unfilled bitmap would pass for a black frame and,
    // at the last position, be sent as the thumbnail.
    DeleteFrameBitmap();
    return;
  }
  // The copy is bounded by the bitmap itself, rows padded, so a picture whose
  // rows need padding arrives whole and no sample, however large or whatever
  // the sign of the height, writes past the section.
  uint64_t room = DibBytes(BitmapInfo.bmiHeader);
  if (room < static_cast<ULONG>(size)) size = static_cast<LONG>(room);
  DebugTrace("TDirectShowThumbnailer::GrabFrameDX7 5\n");
  // The renderer may make the picture only now (converting it straight into
  // the bitmap): one it could not make must not pass for a black frame.
  if (FAILED(MyGrabber->GetCurrentBuffer(&size, Bits))) {
    DebugTrace("MyGrabber->GetCurrentBuffer failed\n");
    DeleteFrameBitmap();
    return;
  }
  DebugTrace("TDirectShowThumbnailer::GrabFrameDX7 6\n");
}

int TDirectShowThumbnailer::IsTooDark() {
  if (!Bits) return 1;
  const BITMAPINFOHEADER& h = BitmapInfo.bmiHeader;
  if (h.biBitCount != 24) return 0;

  // Each run of 3 * w bytes adds three times its byte sum over the width in
  // pixels; the runs ignore row padding. Sums are 64-bit: a wide frame of
  // bright pixels overflows 32 bits.
  unsigned measure = 0;
  if (h.biWidth > 0 && h.biHeight > 0) {
    const uint64_t width = static_cast<uint64_t>(h.biWidth);
    const uint64_t run = 3 * width;
    uint64_t total = 0;
    const BYTE* p = Bits;
    for (LONG row = 0; row < h.biHeight; ++row, p += run) total += 3 * (ByteSum(p, run) / width);
    measure = static_cast<unsigned>(total / static_cast<uint64_t>(h.biHeight));
  }
  DebugTrace("too dark : %u ", measure);
  return measure < DarkThreshold ? 1 : 0;
}
