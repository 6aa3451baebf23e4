#include "platform/media/ffmpeg/ffmpeg_log.h"

extern "C" {
#include <libavutil/log.h>
}

namespace media {

void SilenceFfmpegLog() {
  av_log_set_level(AV_LOG_QUIET);
  // A callback that drops everything, so no level change elsewhere can make
  // FFmpeg print.
  av_log_set_callback([](void*, int, const char*, va_list) {});
}

}  // namespace media
