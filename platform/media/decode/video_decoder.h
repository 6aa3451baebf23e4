// The video decoder: delivers the picture a player shows, one field's worth
// when the frame is interlaced, oriented as the display matrix says and with
// square pixels, in one of the uncompressed layouts the graph carries (chosen
// from the stream's pixel format; deep samples travel as they are, other
// layouts are converted).
#pragma once

#include "platform/media/decode/decoder_filter.h"
#include "platform/media/picture/display_converter.h"
#include "platform/media/picture/picture_converter.h"

namespace media {

class VideoDecoder final : public DecoderFilter {
 public:
  VideoDecoder() : DecoderFilter(MEDIATYPE_Video) {}

 protected:
  HRESULT Configure(const StreamInfo& info, AVCodecContext* codec, MediaType* outputType) override;
  HRESULT DeliverFrame(FramePtr frame, LONGLONG time) override;

 private:
  // The picture delivered for `frame`, whose values follow `colour`; the
  // colour becomes the delivered picture's.
  FramePtr Shape(FramePtr frame, PictureColour* colour);
  // The frame in the delivered layout at width x height.
  FramePtr ToLayout(FramePtr frame, PictureColour* colour, int width, int height);

  const VideoFormat* layout_ = nullptr;
  Orientation orientation_;
  int fieldOrder_ = 0;
  double peakLuminance_ = 0;
  bool iptBaseLayer_ = false;
  // The delivered picture's size: turned, square pixels.
  int width_ = 0;
  int height_ = 0;
  PictureConverter converter_;  // between layouts of the same colours
  DisplayConverter display_;    // to RGB, as the colours ask
};

// The layout a decoder delivers pictures of `format` in, when they are shown
// in `orientation`.
const VideoFormat& DeliveredFormat(AVPixelFormat format, Orientation orientation);

// Whether a frame in `format` travels as it is in `layout`: its own format,
// or deeper planar YUV of the same chroma subsampling. A sample's bytes are
// then the picture cut to the layout's 8 bits; the colour conversion reads
// the frame itself, with every bit.
bool Carries(const VideoFormat& layout, AVPixelFormat format);

}  // namespace media
