// The video decoder: delivers the picture a player shows, upright and with
// square pixels, in one of the uncompressed layouts the graph carries
// (chosen from the stream's pixel format, converted where none matches).
#pragma once

#include "platform/media/decoder_filter.h"
#include "platform/media/picture_converter.h"

namespace media {

class VideoDecoder final : public DecoderFilter {
 public:
  VideoDecoder() : DecoderFilter(MEDIATYPE_Video) {}

 protected:
  HRESULT Configure(const StreamInfo& info, AVCodecContext* codec, MediaType* outputType) override;
  HRESULT DeliverFrame(FramePtr frame, LONGLONG time) override;

 private:
  FramePtr Shape(FramePtr frame);

  const VideoFormat* layout_ = nullptr;
  int quarterTurns_ = 0;
  // The delivered picture's size: turned, square pixels.
  int width_ = 0;
  int height_ = 0;
  PictureConverter converter_;
};

// The layout a decoder delivers pictures of `format` in, when they are shown
// turned by quarterTurns.
const VideoFormat& DeliveredFormat(AVPixelFormat format, int quarterTurns);

}  // namespace media
