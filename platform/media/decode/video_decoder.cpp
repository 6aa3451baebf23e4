#include "platform/media/decode/video_decoder.h"

#include <algorithm>
#include <climits>

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/pixdesc.h>
}

#include "platform/gdi/bitmap.h"
#include "platform/media/filter/media_time.h"
#include "platform/media/picture/field_interpolation.h"
#include "platform/media/picture/resolve_colour.h"

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
  // Other 4:2:0 and 4:2:2 layouts travel as IYUV and YUY2: 8-bit ones
  // repacked without loss, deeper ones as the decoder's own planes (see
  // Carries), so that the colour conversion sees every bit of an HDR
  // picture. 4:4:4, RGB, grey and palettes become RGB24 in one conversion
  // with the same colour rules, which loses nothing a thumbnail shows.
  if (!IsYuv(desc) || desc->comp[0].depth > 16) return MEDIASUBTYPE_RGB24;
  if (desc->log2_chroma_w == 1 && desc->log2_chroma_h == 1) return MEDIASUBTYPE_IYUV;
  if (desc->log2_chroma_w == 1 && desc->log2_chroma_h == 0) return MEDIASUBTYPE_YUY2;
  return MEDIASUBTYPE_RGB24;
}

}  // namespace

bool Carries(const VideoFormat& layout, AVPixelFormat format) {
  if (format == layout.pixelFormat) return true;
  const AVPixFmtDescriptor* held = av_pix_fmt_desc_get(layout.pixelFormat);
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  if (!IsYuv(held) || !IsYuv(desc)) return false;
  // Planar, little-endian samples in the low bits of 16-bit words.
  if (!(desc->flags & AV_PIX_FMT_FLAG_PLANAR) || (desc->flags & AV_PIX_FMT_FLAG_BE) || desc->comp[0].shift != 0 ||
      desc->comp[0].step != 2 || desc->comp[1].plane == desc->comp[2].plane)
    return false;
  return desc->comp[0].depth > 8 && desc->comp[0].depth <= 16 && desc->log2_chroma_w == held->log2_chroma_w &&
         desc->log2_chroma_h == held->log2_chroma_h;
}

const VideoFormat& DeliveredFormat(AVPixelFormat format, Orientation orientation) {
  const VideoFormat* layout = FindVideoFormat(NearestSubtype(LimitedTwin(format)));
  if (!layout) return Rgb24Format();
  if (!orientation.upright() && !CanOrient(layout->pixelFormat) &&
      !(Carries(*layout, format) && CanOrient(format)))
    return Rgb24Format();
  return *layout;
}

HRESULT VideoDecoder::Configure(const StreamInfo& info, AVCodecContext* codec, MediaType* outputType) {
  const AVCodecParameters& par = *info.codecpar;
  if (par.width <= 0 || par.height <= 0) return VFW_E_TYPE_NOT_ACCEPTED;
  orientation_ = info.orientation;
  fieldOrder_ = info.fieldOrder;
  peakLuminance_ = info.peakLuminance;
  iptBaseLayer_ = info.iptBaseLayer;
  bool sideways = orientation_.sideways();
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
    return E_MEDIA_TOO_LARGE;
  codec->max_pixels = static_cast<int64_t>(kMaxDibBytes / 3);
  bool large = static_cast<int64_t>(par.width) * par.height > kThreadedPixels;
  // av_cpu_count counts the processors this process may run on (its
  // affinity, which the sandbox lets it read), so servers given a share of
  // the cores each decode on their share only.
  codec->thread_count = large ? std::clamp(av_cpu_count(), 1, kMaxThreads) : 1;
  codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  layout_ = &DeliveredFormat(static_cast<AVPixelFormat>(par.format), orientation_);
  // Scaling to square pixels and the conversion to RGB happen in one pass,
  // as a player does them.
  if (width_ != (sideways ? par.height : par.width)) layout_ = &Rgb24Format();
  LONGLONG perFrame = info.frameRate.num > 0 && info.frameRate.den > 0
                          ? av_rescale(kUnitsPerSecond, info.frameRate.den, info.frameRate.num)
                          : 0;
  *outputType = MakeVideoType(*layout_, width_, height_, perFrame);
  return outputType->pbFormat ? S_OK : E_OUTOFMEMORY;
}

FramePtr VideoDecoder::ToLayout(FramePtr frame, PictureColour* colour, int width, int height) {
  if (frame->width == width && frame->height == height && Carries(*layout_, static_cast<AVPixelFormat>(frame->format)))
    return frame;
  if (layout_ == &Rgb24Format()) {
    FramePtr rgb = display_.ToBgrFrame(ViewOfFrame(*frame, *colour), width, height);
    // Its values are now the BT.709 RGB the frame says they are.
    if (rgb) *colour = ResolveColour(SignalsOf(*rgb));
    return rgb;
  }
  // Between layouts the colours stay what they were.
  FramePtr converted = converter_.ConvertToFrame(ViewOfFrame(*frame, *colour), layout_->pixelFormat, width, height);
  if (converted) av_frame_copy_props(converted.get(), frame.get());
  return converted;
}

FramePtr VideoDecoder::Shape(FramePtr frame, PictureColour* colour) {
  // The colour description already holds the full range the format stood for.
  frame->format = LimitedTwin(static_cast<AVPixelFormat>(frame->format));
  if (!DibGeometryAcceptable(frame->width, frame->height, 24)) return nullptr;
  if (IsInterlaced(*frame, fieldOrder_)) {
    // A layout that cannot be split into rows is shown as it came.
    if (FramePtr progressive = InterpolateFirstField(*frame, fieldOrder_)) frame = std::move(progressive);
  }
  if (!orientation_.upright()) {
    // Turned in the decoded format where it can be, like a player's
    // transpose before its scaler; otherwise in the delivered layout.
    if (!CanOrient(static_cast<AVPixelFormat>(frame->format))) {
      const int width = frame->width, height = frame->height;
      frame = ToLayout(std::move(frame), colour, width, height);
      if (!frame) return nullptr;
    }
    frame = OrientFrame(*frame, orientation_);
    if (!frame) return nullptr;
  }
  return ToLayout(std::move(frame), colour, width_, height_);
}

HRESULT VideoDecoder::DeliverFrame(FramePtr frame, LONGLONG time) {
  // What the stream says completes what the frame says, once, before any
  // conversion reads it.
  ColourSignals said = SignalsOf(*frame);
  said.streamPeak = peakLuminance_;
  said.iptBaseLayer = iptBaseLayer_;
  PictureColour colour = ResolveColour(said);
  frame = Shape(std::move(frame), &colour);
  if (!frame) return S_OK;  // a picture that cannot be shown is dropped
  return output()->Deliver(Sample::FromFrame(std::move(frame), layout_, colour, time));
}

}  // namespace media
