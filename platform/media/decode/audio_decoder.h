// The audio decoder: decodes the stream so that its renderer sees the end of
// the stream when a player would; the frames carry no bytes anyone reads.
#pragma once

#include "platform/media/decode/decoder_filter.h"

namespace media {

class AudioDecoder final : public DecoderFilter {
 public:
  AudioDecoder() : DecoderFilter(MEDIATYPE_Audio) {}

 protected:
  HRESULT Configure(const StreamInfo& info, AVCodecContext* codec, MediaType* outputType) override;
  HRESULT DeliverFrame(FramePtr frame, LONGLONG time) override;
  LONGLONG FrameDuration(const AVFrame& frame) const override;
};

}  // namespace media
