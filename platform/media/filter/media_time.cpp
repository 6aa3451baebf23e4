#include "platform/media/filter/media_time.h"

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
}

namespace media {

LONGLONG MediaTimeOf(int64_t ts, AVRational timeBase, LONGLONG fileStart) {
  if (ts == AV_NOPTS_VALUE || timeBase.num <= 0 || timeBase.den <= 0) return kNoTime;
  // av_rescale_q answers INT64_MIN where the result does not fit.
  const int64_t scaled = av_rescale_q(ts, timeBase, kMediaTimeBase);
  LONGLONG time = 0;
  if (scaled == INT64_MIN || __builtin_sub_overflow(scaled, fileStart, &time)) return kNoTime;
  return time < -kMaxMediaTime || time > kMaxMediaTime ? kNoTime : time;
}

LONGLONG MediaDurationOf(int64_t duration, AVRational timeBase) {
  if (duration <= 0 || timeBase.num <= 0 || timeBase.den <= 0) return 0;
  const int64_t scaled = av_rescale_q(duration, timeBase, kMediaTimeBase);
  if (scaled <= 0) return scaled == INT64_MIN ? kMaxMediaTime : 0;
  return scaled < kMaxMediaTime ? scaled : kMaxMediaTime;
}

int64_t StreamTimeOf(LONGLONG time, LONGLONG fileStart, AVRational timeBase) {
  LONGLONG sum = 0;
  if (__builtin_add_overflow(time, fileStart, &sum)) sum = time > 0 ? INT64_MAX : INT64_MIN + 1;
  return av_rescale_q(sum, kMediaTimeBase, timeBase);
}

}  // namespace media
