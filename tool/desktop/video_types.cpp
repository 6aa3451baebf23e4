#include "tool/desktop/video_types.h"

#include <strings.h>

namespace thumbnail {

const std::vector<VideoType>& VideoTypes() {
  static const std::vector<VideoType> kTypes = {
      {"video/mp4", {"mp4", "m4v", "f4v"}},
      {"video/x-m4v", {"m4v"}},
      {"video/quicktime", {"mov", "qt"}},
      {"video/mj2", {"mj2", "mjp2"}},
      {"video/3gpp", {"3gp", "3gpp"}},
      {"video/3gp", {"3gp"}},
      {"video/3gpp2", {"3g2", "3gp2", "3gpp2"}},
      {"video/webm", {"webm"}},
      {"video/x-matroska", {"mkv"}},
      {"application/x-matroska", {"mkv"}},
      {"video/x-matroska-3d", {"mk3d"}},
      {"video/x-msvideo", {"avi"}},
      {"video/avi", {"avi"}},
      {"video/msvideo", {"avi"}},
      {"video/vnd.avi", {"avi"}},
      {"video/divx", {"divx"}},
      {"video/vnd.divx", {"divx"}},
      {"video/x-flv", {"flv"}},
      {"video/flv", {"flv"}},
      {"application/x-flash-video", {"flv"}},
      {"video/mpeg", {"mpeg", "mpg", "mpe", "m1v", "vob"}},
      {"video/x-mpeg", {"mpeg", "mpg"}},
      {"video/mpeg-system", {"mpeg", "mpg"}},
      {"video/x-mpeg-system", {"mpeg", "mpg"}},
      {"video/x-mpeg2", {"m2v"}},
      {"video/mp2t", {"ts", "m2t", "m2ts", "mts"}},
      {"video/x-ms-wmv", {"wmv"}},
      {"video/x-ms-asf", {"asf"}},
      {"video/x-ms-asf-plugin", {"asf"}},
      {"video/x-ms-wm", {"wm"}},
      {"video/x-ms-wvx", {"wvx"}},
      {"video/x-ms-wmx", {"wmx"}},
      {"video/ogg", {"ogv"}},
      {"video/x-theora+ogg", {"ogv"}},
      {"video/x-ogm+ogg", {"ogm"}},
      {"application/x-ogm-video", {"ogm"}},
      {"application/vnd.rn-realmedia", {"rm", "rmvb"}},
      {"application/vnd.rn-realmedia-vbr", {"rmvb"}},
      {"video/vnd.rn-realvideo", {"rv"}},
      {"video/dv", {"dv", "dif"}},
      {"video/x-nut", {"nut"}},
      {"application/mxf", {"mxf"}},
      {"video/x-flic", {"fli", "flc"}},
      {"video/x-mjpeg", {"mjpg", "mjpeg"}},
      {"video/x-nsv", {"nsv"}},
      {"video/vnd.vivo", {"viv", "vivo"}},
      {"video/x-yuv4mpeg", {"y4m"}},
  };
  return kTypes;
}

bool HasVideoExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  const char* extension = name.c_str() + dot + 1;
  for (const VideoType& type : VideoTypes())
    for (const char* known : type.extensions)
      if (strcasecmp(extension, known) == 0) return true;
  return false;
}

std::string ThumbnailerEntry() {
  std::string entry =
      "[Thumbnailer Entry]\n"
      "TryExec=thumbnail\n"
      "Exec=thumbnail --thumbnailer -s %s %u %o\n"
      "MimeType=";
  for (const VideoType& type : VideoTypes()) entry += std::string(type.mime_type) + ";";
  return entry + "\n";
}

}  // namespace thumbnail
