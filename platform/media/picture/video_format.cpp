#include "platform/media/picture/video_format.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "platform/gdi/bitmap.h"

namespace media {
namespace {

constexpr DWORD Fourcc(char a, char b, char c, char d) { return FourccGuid(a, b, c, d).Data1; }

const VideoFormat kFormats[] = {
    {&MEDIASUBTYPE_RGB24, AV_PIX_FMT_BGR24, 24, BI_RGB, true},
    {&MEDIASUBTYPE_RGB32, AV_PIX_FMT_BGRA, 32, BI_RGB, true},
    {&MEDIASUBTYPE_RGB555, AV_PIX_FMT_RGB555LE, 16, BI_RGB, true},
    {&MEDIASUBTYPE_IYUV, AV_PIX_FMT_YUV420P, 12, Fourcc('I', 'Y', 'U', 'V'), false},
    {&MEDIASUBTYPE_YUY2, AV_PIX_FMT_YUYV422, 16, Fourcc('Y', 'U', 'Y', '2'), false},
    {&MEDIASUBTYPE_YUYV, AV_PIX_FMT_YUYV422, 16, Fourcc('Y', 'U', 'Y', 'V'), false},
    {&MEDIASUBTYPE_UYVY, AV_PIX_FMT_UYVY422, 16, Fourcc('U', 'Y', 'V', 'Y'), false},
    {&MEDIASUBTYPE_YVYU, AV_PIX_FMT_YVYU422, 16, Fourcc('Y', 'V', 'Y', 'U'), false},
    {&MEDIASUBTYPE_Y411, AV_PIX_FMT_UYYVYY411, 12, Fourcc('Y', '4', '1', '1'), false},
    {&MEDIASUBTYPE_NV12, AV_PIX_FMT_NV12, 12, Fourcc('N', 'V', '1', '2'), false},
    // YV12 is IYUV with the chroma planes swapped; ViewOfBytes swaps them.
    {&MEDIASUBTYPE_YV12, AV_PIX_FMT_YUV420P, 12, Fourcc('Y', 'V', '1', '2'), false},
};

bool IsYv12(const VideoFormat& format) { return format.subtype == &MEDIASUBTYPE_YV12; }

}  // namespace

bool IsYuv(const AVPixFmtDescriptor* desc) {
  return desc && !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) && desc->nb_components >= 3;
}

const VideoFormat* FindVideoFormat(const GUID& subtype) {
  for (const VideoFormat& f : kFormats)
    if (*f.subtype == subtype) return &f;
  return nullptr;
}

const VideoFormat& Rgb24Format() { return kFormats[0]; }

size_t ImageBytes(const VideoFormat& format, int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  if (format.bottomUp) return DibStride(width, format.bitCount) * static_cast<size_t>(height);
  int size = av_image_get_buffer_size(format.pixelFormat, width, height, 1);
  return size > 0 ? static_cast<size_t>(size) : 0;
}

MediaType MakeVideoType(const VideoFormat& format, int width, int height, LONGLONG avgTimePerFrame) {
  MediaType type;
  VIDEOINFOHEADER vih{};
  vih.rcSource = {0, 0, width, height};
  vih.rcTarget = vih.rcSource;
  vih.AvgTimePerFrame = avgTimePerFrame;
  BITMAPINFOHEADER& h = vih.bmiHeader;
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = format.bitCount;
  h.biCompression = format.compression;
  h.biSizeImage = static_cast<DWORD>(ImageBytes(format, width, height));
  if (avgTimePerFrame > 0) {
    // A huge picture at a tiny frame time exceeds 32 bits; the field saturates.
    double bitRate = static_cast<double>(h.biSizeImage) * 8 * 1e7 / static_cast<double>(avgTimePerFrame);
    vih.dwBitRate = static_cast<DWORD>(std::min(bitRate, 4294967295.0));
  }
  type.majortype = MEDIATYPE_Video;
  type.subtype = *format.subtype;
  type.bFixedSizeSamples = TRUE;
  type.bTemporalCompression = FALSE;
  type.lSampleSize = h.biSizeImage;
  type.formattype = FORMAT_VideoInfo;
  type.SetFormat(&vih, sizeof vih);
  return type;
}

PictureView ViewOfFrame(const AVFrame& frame, const PictureColour& colour) {
  PictureView v;
  v.format = static_cast<AVPixelFormat>(frame.format);
  v.width = frame.width;
  v.height = frame.height;
  for (int i = 0; i < 4; ++i) {
    v.data[i] = frame.data[i];
    v.linesize[i] = frame.linesize[i];
  }
  v.colour = colour;
  return v;
}

PictureView ViewOfFrame(const AVFrame& frame) { return ViewOfFrame(frame, ResolveColour(SignalsOf(frame))); }

bool ViewOfBytes(const VideoFormat& format, int width, int height, const uint8_t* bytes, size_t size,
                 PictureView* view) {
  size_t need = ImageBytes(format, width, height);
  if (need == 0 || size < need) return false;
  PictureView v;
  v.format = format.pixelFormat;
  v.width = width;
  v.height = height;
  v.colour = ResolveColour({.format = format.pixelFormat});
  if (format.bottomUp) {
    v.data[0] = bytes;
    v.linesize[0] = static_cast<int>(DibStride(width, format.bitCount));
    *view = Flipped(v);
    return true;
  }
  uint8_t* planes[4];
  int lines[4];
  if (av_image_fill_arrays(planes, lines, bytes, format.pixelFormat, width, height, 1) < 0) return false;
  for (int i = 0; i < 4; ++i) {
    v.data[i] = planes[i];
    v.linesize[i] = lines[i];
  }
  if (IsYv12(format)) {
    std::swap(v.data[1], v.data[2]);
    std::swap(v.linesize[1], v.linesize[2]);
  }
  *view = v;
  return true;
}

PictureView Flipped(const PictureView& view) {
  PictureView v = view;
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(view.format);
  if (!desc) return v;
  for (int i = 0; i < 4 && view.data[i]; ++i) {
    int rows = view.height;
    if ((i == 1 || i == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB))
      rows = AV_CEIL_RSHIFT(view.height, desc->log2_chroma_h);
    v.data[i] = view.data[i] + static_cast<ptrdiff_t>(rows - 1) * view.linesize[i];
    v.linesize[i] = -view.linesize[i];
  }
  return v;
}

void PackPicture(const PictureView& view, const VideoFormat& format, uint8_t* out) {
  if (format.bottomUp) {
    size_t stride = DibStride(view.width, format.bitCount);
    size_t rowBytes = static_cast<size_t>(view.width) * format.bitCount / 8;
    for (int y = 0; y < view.height; ++y) {
      uint8_t* row = out + static_cast<size_t>(view.height - 1 - y) * stride;
      std::memcpy(row, view.data[0] + static_cast<ptrdiff_t>(y) * view.linesize[0], rowBytes);
      std::memset(row + rowBytes, 0, stride - rowBytes);
    }
    return;
  }
  const uint8_t* planes[4] = {view.data[0], view.data[1], view.data[2], view.data[3]};
  int lines[4] = {view.linesize[0], view.linesize[1], view.linesize[2], view.linesize[3]};
  if (IsYv12(format)) {
    std::swap(planes[1], planes[2]);
    std::swap(lines[1], lines[2]);
  }
  av_image_copy_to_buffer(out, static_cast<int>(ImageBytes(format, view.width, view.height)), planes, lines,
                          format.pixelFormat, view.width, view.height, 1);
}

}  // namespace media
