// What a decoder knows of the compressed stream it decodes. The source's
// output type carries it: the type's pUnk is a description object that owns
// a copy of the stream's codec parameters, so the decoder reads the stream
// through the type it negotiated, for as long as it holds that type.
#pragma once

#include "platform/dshow/media_type.h"
#include "platform/media/ffmpeg/ffmpeg_ptr.h"
#include "platform/media/picture/picture_orientation.h"

namespace media {

struct StreamInfo {
  // Owned by the description that carries this record.
  const AVCodecParameters* codecpar = nullptr;
  AVRational timeBase = {0, 1};
  LONGLONG fileStart = 0;  // the file's start time, in 100 ns
  AVRational sampleAspect = {0, 1};
  AVRational frameRate = {0, 1};
  Orientation orientation;   // from the display matrix
  int fieldOrder = 0;        // AV_FIELD_*, as the container declares it
  double peakLuminance = 0;  // the stream's light level in cd/m², 0 when unknown
  // Dolby Vision whose base layer is compatible with nothing (profile 5):
  // IPT-PQ, which no decoder describes in its frames.
  bool iptBaseLayer = false;
  bool attachedPicture = false;
  bool timesFromDecodeOrder = false;  // video times are decoding times (AVI)
};

// The compressed media type of a video or audio stream of `format`: its
// subtype from the stream's tag (or one made from FFmpeg's codec id), a
// video info or wave format block, and the stream's description in pUnk.
// The type has no format block when memory ran out.
MediaType CompressedType(const AVFormatContext& format, const AVStream& stream, LONGLONG fileStart);

// The description a compressed type carries, or null for any other type.
// Valid as long as the type (or a copy of it) lives.
const StreamInfo* StreamInfoOf(const AM_MEDIA_TYPE& type);

}  // namespace media
