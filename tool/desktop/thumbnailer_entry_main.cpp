// Writes the desktop thumbnailer entry on standard output; the build runs
// it to make share/thumbnailers/thumbnail.thumbnailer from the tool's own
// table of video types.
#include <cstdio>

#include "tool/desktop/video_types.h"

int main() { return std::fputs(thumbnail::ThumbnailerEntry().c_str(), stdout) < 0 ? 1 : 0; }
