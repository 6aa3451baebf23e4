#include "platform/media/video_decoder.h"

#include <algorithm>
#include <climits>

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/pixdesc.h>
}

#include "platform/gdi/bitmap.h"
#include "platform/media/media_time.h"
#include "platform/media/picture_rotation.h"

namespace media {
namespace {

// Pictures larger than this decode on one thread per core; smaller ones
// decode faster for a single frame on one thread. FFmpeg's own choice, one
// thread more than there are cores, is slower for one frame and holds
// another picture in flight; beyond a few threads more only cost memory.
constexpr int64_t kThreadedPixels = 1920 * 1088;
constexpr int kMaxThreads = 4;

// The full-range YUV formats are their limited-range twins with another
// colour range: same memory, so they travel as the twin.
AVPixelFormat LimitedTwin(AVPixelFormat format) {
  switch (format) {
    case AV_PIX_FMT_YUVJ420P:
      return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
      return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
      return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
      return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
      return AV_PIX_FMT_YUV411P;
    default:
      return format;
  }
}

const GUID* DirectSubtype(AVPixelFormat format) {
  switch (format) {
    case AV_PIX_FMT_YUV420P:
      return &MEDIASUBTYPE_IYUV;
    case AV_PIX_FMT_YUYV422:
      return &MEDIASUBTYPE_YUY2;
    case AV_PIX_FMT_UYVY422:
      return &MEDIASUBTYPE_UYVY;
    case AV_PIX_FMT_YVYU422:
      return &MEDIASUBTYPE_YVYU;
    case AV_PIX_FMT_BGR24:
      return &MEDIASUBTYPE_RGB24;
    case AV_PIX_FMT_BGRA:
      return &MEDIASUBTYPE_RGB32;
    case AV_PIX_FMT_RGB555LE:
      return &MEDIASUBTYPE_RGB555;
    default:
      return nullptr;
  }
}

const GUID& NearestSubtype(AVPixelFormat format) {
  if (const GUID* direct = DirectSubtype(format)) return *direct;
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  bool yuv = desc && !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) && desc->nb_components >= 3;
  // Other 8-bit 4:2:0 and 4:2:2 layouts are repacked without loss; deeper
  // samples, 4:4:4, RGB, grey and palettes become RGB24 in one conversion,
  // which loses nothing a thumbnail shows.
  bool eightBit = desc && desc->comp[0].depth == 8;
  if (yuv && eightBit && desc->log2_chroma_w == 1 && desc->log2_chroma_h == 1) return MEDIASUBTYPE_IYUV;
  if (yuv && eightBit && desc->log2_chroma_w == 1 && desc->log2_chroma_h == 0) return MEDIASUBTYPE_YUY2;
  return MEDIASUBTYPE_RGB24;
}

}  // namespace

const VideoFormat& DeliveredFormat(AVPixelFormat format, int quarterTurns) {
  const VideoFormat* layout = FindVideoFormat(NearestSubtype(LimitedTwin(format)));
  if (!layout || (quarterTurns != 0 && !CanRotate(layout->pixelFormat))) return Rgb24Format();
  return *layout;
}

HRESULT VideoDecoder::Configure(const StreamInfo& info, AVCodecContext* codec, MediaType* outputType) {
  const AVCodecParameters& par = *info.codecpar;
  if (par.width <= 0 || par.height <= 0) return VFW_E_TYPE_NOT_ACCEPTED;
  quarterTurns_ = info.quarterTurns;
  bool sideways = quarterTurns_ % 2 != 0;
  width_ = sideways ? par.height : par.width;
  height_ = sideways ? par.width : par.height;
  // Square pixels the way a player makes them: turned first, then the width
  // scaled by the turned picture's aspect ratio, the height kept.
  AVRational sar = sideways ? av_inv_q(info.sampleAspect) : info.sampleAspect;
  if (sar.num > 0 && sar.den > 0) {
    // A hostile aspect ratio can ask for a width no int holds: such a
    // picture cannot be shown.
    const double w = width_ * av_q2d(sar);
    if (w >= static_cast<double>(INT_MAX)) return VFW_E_TYPE_NOT_ACCEPTED;
    if (w >= 1) width_ = static_cast<int>(w);
  }
  // Refused before anything that large is allocated: the frame must fit the
  // bitmap it ends in, and so must every coded picture.
  if (!DibGeometryAcceptable(width_, height_, 24) || !DibGeometryAcceptable(par.width, par.height, 24))
    return VFW_E_TYPE_NOT_ACCEPTED;
  codec->max_pixels = static_cast<int64_t>(kMaxDibBytes / 3);
  bool large = static_cast<int64_t>(par.width) * par.height > kThreadedPixels;
  codec->thread_count = large ? std::clamp(av_cpu_count(), 1, kMaxThreads) : 1;
  codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  layout_ = &DeliveredFormat(static_cast<AVPixelFormat>(par.format), quarterTurns_);
  // Scaling to square pixels and the conversion to RGB happen in one pass,
  // as a player does them.
  if (width_ != (sideways ? par.height : par.width)) layout_ = &Rgb24Format();
  LONGLONG perFrame = info.frameRate.num > 0 && info.frameRate.den > 0
                          ? av_rescale(kUnitsPerSecond, info.frameRate.den, info.frameRate.num)
                          : 0;
  *outputType = MakeVideoType(*layout_, width_, height_, perFrame);
  return (*outputType)->pbFormat ? S_OK : E_OUTOFMEMORY;
}

FramePtr VideoDecoder::Shape(FramePtr frame) {
  AVPixelFormat format = static_cast<AVPixelFormat>(frame->format);
  AVPixelFormat twin = LimitedTwin(format);
  if (twin != format) {
    frame->format = twin;
    frame->color_range = AVCOL_RANGE_JPEG;
  }
  if (!DibGeometryAcceptable(frame->width, frame->height, 24)) return nullptr;
  if (quarterTurns_ != 0) {
    // Turned in the decoded format where it can be, like a player's
    // transpose before its scaler; otherwise in the delivered layout.
    if (!CanRotate(static_cast<AVPixelFormat>(frame->format))) {
      frame = converter_.ConvertToFrame(ViewOfFrame(*frame), layout_->pixelFormat, frame->width, frame->height);
      if (!frame) return nullptr;
    }
    frame = RotateFrame(*frame, quarterTurns_);
    if (!frame) return nullptr;
  }
  if (frame->format != layout_->pixelFormat || frame->width != width_ || frame->height != height_)
    frame = converter_.ConvertToFrame(ViewOfFrame(*frame), layout_->pixelFormat, width_, height_);
  return frame;
}

HRESULT VideoDecoder::DeliverFrame(FramePtr frame, LONGLONG time) {
  frame = Shape(std::move(frame));
  if (!frame) return S_OK;  // a picture that cannot be shown is dropped
  return output()->Deliver(Sample::FromFrame(std::move(frame), layout_, time));
}

}  // namespace media
