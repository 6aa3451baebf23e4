// The kinds of file the tool takes for videos: the MIME types the desktop
// entry claims and the extensions the desktop cache's walk through a folder
// picks, in one table, so that a file the desktop hands over and one the
// walk finds are the same kinds of file.
#pragma once

#include <string>
#include <vector>

namespace thumbnail {

struct VideoType {
  const char* mime_type;
  std::vector<const char*> extensions;  // without their dots, lower case
};

// Every type whose files FFmpeg's demuxers here can read as video, under
// the names file managers give it (aliases included).
const std::vector<VideoType>& VideoTypes();

// True when the file name ends in the extension of a video type, in any
// case.
bool HasVideoExtension(const std::string& name);

// The desktop thumbnailer entry, as file managers read it from
// share/thumbnailers/.
std::string ThumbnailerEntry();

}  // namespace thumbnail
