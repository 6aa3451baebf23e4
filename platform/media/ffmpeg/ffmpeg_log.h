// FFmpeg's log, which the server keeps silent: it writes nothing but its
// pipes.
#pragma once

namespace media {

// Silences FFmpeg's log for the whole process; safe to call more than once.
void SilenceFfmpegLog();

}  // namespace media
