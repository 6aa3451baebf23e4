// Deinterlacing a single frame: the two fields of an interlaced frame were
// taken a field period apart, so moving content shows as a comb. The
// temporal deinterlacers (yadif, bwdif, w3fdif) need the neighbouring frames,
// which a precise single-frame seek does not decode; a frame alone gives
// them nothing to compare. So the field shown first is kept and the other
// field's rows are interpolated from it, as a player shows the first field.
#pragma once

#include "platform/media/ffmpeg/ffmpeg_ptr.h"

namespace media {

// Whether the frame holds two fields: by its own flag, or by the field order
// its stream declares (AV_FIELD_*; AV_FIELD_UNKNOWN when the stream says
// nothing).
bool IsInterlaced(const AVFrame& frame, int streamFieldOrder);

// A new frame holding the first field of `frame` at full height. Null when
// memory runs out or the layout cannot be split into rows of whole samples
// (bitstream and palette formats).
FramePtr InterpolateFirstField(const AVFrame& frame, int streamFieldOrder);

}  // namespace media
