#include "platform/media/decode/audio_decoder.h"

#include "platform/media/filter/media_time.h"

namespace media {
namespace {

constexpr GUID kPcmSubtype = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

}  // namespace

HRESULT AudioDecoder::Configure(const StreamInfo& info, AVCodecContext* codec, MediaType* outputType) {
  codec->thread_count = 1;
  const AVCodecParameters& par = *info.codecpar;
  WAVEFORMATEX wfx{};
  wfx.wFormatTag = 1;
  wfx.nChannels = static_cast<WORD>(par.ch_layout.nb_channels);
  wfx.nSamplesPerSec = static_cast<DWORD>(par.sample_rate);
  wfx.wBitsPerSample = 16;
  wfx.nBlockAlign = static_cast<WORD>(wfx.nChannels * 2);
  wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
  MediaType& type = *outputType;
  type.majortype = MEDIATYPE_Audio;
  type.subtype = kPcmSubtype;
  type.bFixedSizeSamples = TRUE;
  type.lSampleSize = wfx.nBlockAlign;
  type.formattype = FORMAT_WaveFormatEx;
  return type.SetFormat(&wfx, sizeof wfx) ? S_OK : E_OUTOFMEMORY;
}

HRESULT AudioDecoder::DeliverFrame(FramePtr frame, LONGLONG time) {
  return output()->Deliver(Sample::FromFrame(std::move(frame), nullptr, {}, time));
}

LONGLONG AudioDecoder::FrameDuration(const AVFrame& frame) const {
  return frame.sample_rate > 0 ? av_rescale(frame.nb_samples, kUnitsPerSecond, frame.sample_rate) : 0;
}

}  // namespace media
