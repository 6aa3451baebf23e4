#include "platform/media/picture/resolve_colour.h"

#include <cstring>

extern "C" {
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/pixdesc.h>
}

#include "platform/media/picture/light_mapping.h"
#include "platform/media/picture/video_format.h"

namespace media {
namespace {

// An enumeration field as the integer it holds, whatever a decoder put there.
template <typename E>
int Raw(const E& field) {
  int value = 0;
  static_assert(sizeof value == sizeof field);
  std::memcpy(&value, &field, sizeof value);
  return value;
}

// The matrices, transfers and primaries the conversions implement (libzimg
// all of them, libswscale the matrices it has tables for); anything else a
// picture says is read as saying nothing.
bool KnownMatrix(int m) {
  switch (m) {
    case AVCOL_SPC_BT709:
    case AVCOL_SPC_FCC:
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_SMPTE240M:
    case AVCOL_SPC_YCGCO:
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
    case AVCOL_SPC_CHROMA_DERIVED_NCL:
    case AVCOL_SPC_CHROMA_DERIVED_CL:
    case AVCOL_SPC_ICTCP:
      return true;
    default:
      return false;
  }
}

bool KnownTransfer(int t) {
  switch (t) {
    case AVCOL_TRC_BT709:
    case AVCOL_TRC_GAMMA22:
    case AVCOL_TRC_GAMMA28:
    case AVCOL_TRC_SMPTE170M:
    case AVCOL_TRC_SMPTE240M:
    case AVCOL_TRC_LINEAR:
    case AVCOL_TRC_LOG:
    case AVCOL_TRC_LOG_SQRT:
    case AVCOL_TRC_IEC61966_2_4:
    case AVCOL_TRC_IEC61966_2_1:
    case AVCOL_TRC_BT2020_10:
    case AVCOL_TRC_BT2020_12:
    case AVCOL_TRC_SMPTE2084:
    case AVCOL_TRC_ARIB_STD_B67:
      return true;
    default:
      return false;
  }
}

bool KnownPrimaries(int p) {
  switch (p) {
    case AVCOL_PRI_BT709:
    case AVCOL_PRI_BT470M:
    case AVCOL_PRI_BT470BG:
    case AVCOL_PRI_SMPTE170M:
    case AVCOL_PRI_SMPTE240M:
    case AVCOL_PRI_FILM:
    case AVCOL_PRI_BT2020:
    case AVCOL_PRI_SMPTE428:
    case AVCOL_PRI_SMPTE431:
    case AVCOL_PRI_SMPTE432:
    case AVCOL_PRI_EBU3213:
      return true;
    default:
      return false;
  }
}

bool IsHdr(AVColorTransferCharacteristic t) { return t == AVCOL_TRC_SMPTE2084 || t == AVCOL_TRC_ARIB_STD_B67; }

// Layouts whose values span the whole range by definition, whatever the tag.
bool FullRangeByLayout(AVPixelFormat format, const AVPixFmtDescriptor* d) {
  if (d && (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL))) return true;
  return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P ||
         format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
}

}  // namespace

PictureColour ResolveColour(const ColourSignals& said) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(said.format);
  PictureColour c;
  if (said.iptBaseLayer) {
    // IPT-PQ has no description of its own; ICtCp, its standard relative,
    // gives the brightness and roughly the colours (the reshaping the
    // stream's metadata carries is not applied).
    c.matrix = AVCOL_SPC_ICTCP;
    c.transfer = AVCOL_TRC_SMPTE2084;
    c.primaries = AVCOL_PRI_BT2020;
  } else {
    c.transfer = KnownTransfer(said.transfer) ? static_cast<AVColorTransferCharacteristic>(said.transfer)
                                              : AVCOL_TRC_BT709;
    // ICtCp exists only over PQ and HLG: a picture in it is HDR whatever its
    // transfer says, and PQ is what ICtCp is made with.
    if (said.matrix == AVCOL_SPC_ICTCP && !IsHdr(c.transfer)) c.transfer = AVCOL_TRC_SMPTE2084;
    c.primaries = KnownPrimaries(said.primaries) ? static_cast<AVColorPrimaries>(said.primaries)
                  : IsHdr(c.transfer)            ? AVCOL_PRI_BT2020
                                                 : AVCOL_PRI_BT709;
    if (!IsYuv(d)) {
      c.matrix = AVCOL_SPC_RGB;  // RGB, grey and palettes: no matrix to apply
    } else if (KnownMatrix(said.matrix)) {
      c.matrix = static_cast<AVColorSpace>(said.matrix);
    } else if (IsHdr(c.transfer) || c.primaries == AVCOL_PRI_BT2020) {
      c.matrix = AVCOL_SPC_BT2020_NCL;  // no other matrix goes with them
    } else {
      // An untagged SDR picture is shown with BT.601, as libswscale and so
      // the ffmpeg tool show it, whatever its size or primaries.
      c.matrix = AVCOL_SPC_BT470BG;
    }
  }
  c.range = FullRangeByLayout(said.format, d) || said.range == AVCOL_RANGE_JPEG ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
  c.siting = said.siting > AVCHROMA_LOC_UNSPECIFIED && said.siting < AVCHROMA_LOC_NB
                 ? static_cast<AVChromaLocation>(said.siting)
                 : AVCHROMA_LOC_LEFT;  // MPEG-2's, and the default of every later codec
  if (c.transfer == AVCOL_TRC_ARIB_STD_B67) {
    c.peakLuminance = kDefaultPeak;  // HLG is relative: its nominal display's peak is the signal's
  } else if (c.transfer == AVCOL_TRC_SMPTE2084) {
    // The frame's own light level stands before the container's.
    c.peakLuminance = UsablePeak(said.framePeak > 0 ? said.framePeak : said.streamPeak);
  } else {
    c.peakLuminance = kReferenceWhite;  // light levels on SDR pictures describe nothing shown
  }
  return c;
}

ColourSignals SignalsOf(const AVFrame& frame) {
  ColourSignals s;
  s.format = static_cast<AVPixelFormat>(frame.format);
  s.matrix = Raw(frame.colorspace);
  s.range = Raw(frame.color_range);
  s.siting = Raw(frame.chroma_location);
  s.transfer = Raw(frame.color_trc);
  s.primaries = Raw(frame.color_primaries);
  const AVFrameSideData* light = av_frame_get_side_data(&frame, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL);
  const AVFrameSideData* display = av_frame_get_side_data(&frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA);
  s.framePeak = DeclaredPeakLuminance(light ? light->data : nullptr, light ? light->size : 0,
                                      display ? display->data : nullptr, display ? display->size : 0);
  return s;
}

double DeclaredPeakLuminance(const uint8_t* light, size_t lightSize, const uint8_t* display, size_t displaySize) {
  if (light && lightSize >= sizeof(AVContentLightMetadata)) {
    AVContentLightMetadata level;
    std::memcpy(&level, light, sizeof level);
    if (level.MaxCLL > 0) return level.MaxCLL;
  }
  if (display && displaySize >= sizeof(AVMasteringDisplayMetadata)) {
    AVMasteringDisplayMetadata mastering;
    std::memcpy(&mastering, display, sizeof mastering);
    if (mastering.has_luminance && mastering.max_luminance.num > 0 && mastering.max_luminance.den > 0)
      return av_q2d(mastering.max_luminance);
  }
  return 0;
}

}  // namespace media
