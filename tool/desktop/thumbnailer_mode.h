// The desktop thumbnailer mode, as file managers call it through
// thumbnail.thumbnailer: `thumbnail --thumbnailer -s SIZE INPUT OUTPUT`.
#pragma once

#include <string>

#include "tool/frames/video_frame.h"

namespace thumbnail {

// Writes the PNG thumbnail of INPUT (a path or a file:// URI) to OUTPUT,
// its longer edge at most `size`, with the Thumb::URI, Thumb::MTime,
// Thumb::Size and Software text chunks; its frame is the one `wanted` asks
// for (by default the scored choice). Returns the exit status: 0 on
// success, 1 with one line on stderr otherwise.
int RunThumbnailer(const std::string& server_path, const std::string& input, const std::string& output, int size,
                   const FrameWanted& wanted = {});

}  // namespace thumbnail
