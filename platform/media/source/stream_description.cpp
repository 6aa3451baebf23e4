#include "platform/media/source/stream_description.h"

#include <cstring>
#include <new>

#include "platform/dshow/uncompressed_video.h"
extern "C" {
#include <libavutil/dovi_meta.h>
}

#include "platform/media/filter/media_time.h"
#include "platform/media/picture/video_format.h"

namespace media {
namespace {

// Answered only by StreamDescription: it names the object, not an interface.
constexpr IID kIidStreamDescription = {0x1b9e5c40, 0x7d2f, 0x4a63, {0x8e, 0x11, 0x5a, 0x0c, 0x93, 0x7b, 0x26, 0xd4}};

Orientation StreamOrientation(const AVStream& stream) {
  size_t size = 0;
  const uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (!matrix || size < 9 * sizeof(int32_t)) return {};
  int32_t values[9];
  std::memcpy(values, matrix, sizeof values);
  return OrientationOf(values);
}

double StreamPeakLuminance(const AVStream& stream) {
  size_t lightSize = 0, displaySize = 0;
  const uint8_t* light = av_stream_get_side_data(&stream, AV_PKT_DATA_CONTENT_LIGHT_LEVEL, &lightSize);
  const uint8_t* display = av_stream_get_side_data(&stream, AV_PKT_DATA_MASTERING_DISPLAY_METADATA, &displaySize);
  return DeclaredPeakLuminance(light, lightSize, display, displaySize);
}

bool HasIptBaseLayer(const AVStream& stream) {
  size_t size = 0;
  const uint8_t* data = av_stream_get_side_data(&stream, AV_PKT_DATA_DOVI_CONF, &size);
  if (!data || size < sizeof(AVDOVIDecoderConfigurationRecord)) return false;
  AVDOVIDecoderConfigurationRecord record;
  std::memcpy(&record, data, sizeof record);
  return record.dv_profile == 5 && record.dv_bl_signal_compatibility_id == 0;
}

class StreamDescription final : public IUnknown, public RefCounted {
 public:
  // Null when memory runs out.
  static StreamDescription* Make(const AVFormatContext& format, const AVStream& stream, LONGLONG fileStart) {
    auto* d = new (std::nothrow) StreamDescription;
    if (!d) return nullptr;
    d->codecpar_ = avcodec_parameters_alloc();
    if (!d->codecpar_ || avcodec_parameters_copy(d->codecpar_, stream.codecpar) < 0) {
      d->Release();
      return nullptr;
    }
    StreamInfo& info = d->info_;
    info.codecpar = d->codecpar_;
    info.timeBase = stream.time_base;
    info.fileStart = fileStart;
    info.sampleAspect =
        av_guess_sample_aspect_ratio(const_cast<AVFormatContext*>(&format), const_cast<AVStream*>(&stream), nullptr);
    info.frameRate = stream.avg_frame_rate;
    info.orientation = StreamOrientation(stream);
    info.fieldOrder = stream.codecpar->field_order;
    info.peakLuminance = StreamPeakLuminance(stream);
    info.iptBaseLayer = HasIptBaseLayer(stream);
    info.attachedPicture = (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    info.timesFromDecodeOrder =
        std::strcmp(format.iformat->name, "avi") == 0 && stream.codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    return d;
  }

  IMPLEMENT_REFCOUNT
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return QueryInterfaceTable(riid, ppv, {{IID_IUnknown, this}, {kIidStreamDescription, this}});
  }

  const StreamInfo& info() const { return info_; }

 private:
  StreamDescription() = default;
  ~StreamDescription() override { avcodec_parameters_free(&codecpar_); }

  AVCodecParameters* codecpar_ = nullptr;
  StreamInfo info_;
};

GUID CompressedSubtype(const AVCodecParameters& par) {
  if (par.codec_tag != 0) {
    GUID tagged = FourccGuid(static_cast<char>(par.codec_tag), static_cast<char>(par.codec_tag >> 8),
                             static_cast<char>(par.codec_tag >> 16), static_cast<char>(par.codec_tag >> 24));
    if (par.codec_type == AVMEDIA_TYPE_AUDIO) tagged.Data1 = par.codec_tag & 0xFFFF;
    // Raw video tagged with a picture layout still goes through a decoder.
    if (!IsUncompressedVideoSubtype(tagged)) return tagged;
  }
  // A private subtype made from FFmpeg's codec id ("FFMP").
  return GUID{static_cast<DWORD>(par.codec_id), 0x4646, 0x504D, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

}  // namespace

MediaType CompressedType(const AVFormatContext& format, const AVStream& stream, LONGLONG fileStart) {
  const AVCodecParameters& par = *stream.codecpar;
  MediaType type;
  type.subtype = CompressedSubtype(par);
  type.bTemporalCompression = TRUE;
  if (par.codec_type == AVMEDIA_TYPE_VIDEO) {
    VIDEOINFOHEADER vih{};
    vih.rcSource = {0, 0, par.width, par.height};
    vih.rcTarget = vih.rcSource;
    vih.dwBitRate = static_cast<DWORD>(par.bit_rate);
    if (stream.avg_frame_rate.num > 0 && stream.avg_frame_rate.den > 0)
      vih.AvgTimePerFrame = av_rescale(kUnitsPerSecond, stream.avg_frame_rate.den, stream.avg_frame_rate.num);
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = par.width;
    vih.bmiHeader.biHeight = par.height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = static_cast<WORD>(par.bits_per_coded_sample > 0 ? par.bits_per_coded_sample : 24);
    vih.bmiHeader.biCompression = type.subtype.Data1;
    type.majortype = MEDIATYPE_Video;
    type.formattype = FORMAT_VideoInfo;
    type.SetFormat(&vih, sizeof vih);
  } else {
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = static_cast<WORD>(type.subtype.Data1);
    wfx.nChannels = static_cast<WORD>(par.ch_layout.nb_channels);
    wfx.nSamplesPerSec = static_cast<DWORD>(par.sample_rate);
    wfx.nAvgBytesPerSec = static_cast<DWORD>(par.bit_rate / 8);
    wfx.nBlockAlign = static_cast<WORD>(par.block_align);
    wfx.wBitsPerSample = static_cast<WORD>(par.bits_per_coded_sample);
    type.majortype = MEDIATYPE_Audio;
    type.formattype = FORMAT_WaveFormatEx;
    type.SetFormat(&wfx, sizeof wfx);
  }
  // The type owns the one reference the description is made with.
  type.pUnk = StreamDescription::Make(format, stream, fileStart);
  if (!type.pUnk) type.SetFormat(nullptr, 0);
  return type;
}

const StreamInfo* StreamInfoOf(const AM_MEDIA_TYPE& type) {
  StreamDescription* description = nullptr;
  if (!type.pUnk || FAILED(type.pUnk->QueryInterface(kIidStreamDescription, reinterpret_cast<void**>(&description))))
    return nullptr;
  // The type holds the description; the pointer lives as long as it does.
  description->Release();
  return &description->info();
}

}  // namespace media
