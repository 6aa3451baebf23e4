#include "platform/media/ffmpeg/late_libraries.h"

#include <iconv.h>

#include <iterator>

namespace media {
namespace {

// The text encodings libavformat's MPEG-TS demuxer converts to UTF-8 (the
// first byte of a DVB string chooses one; none chosen is ISO 6937).
const char* const kBroadcastEncodings[] = {
    "ISO6937",     "ISO-8859-5",  "ISO-8859-6",  "ISO-8859-7",  "ISO-8859-8", "ISO-8859-9", "ISO-8859-10",
    "ISO-8859-11", "ISO-8859-13", "ISO-8859-14", "ISO-8859-15", "UCS-2BE",    "KSC_5601",   "GB2312",
};

// Held open for good: glibc unloads a converter whose last user closed it,
// and the next one would have to open its library again.
iconv_t held[std::size(kBroadcastEncodings)];
bool loaded = false;

}  // namespace

void LoadLateLibraries() {
  if (loaded) return;
  loaded = true;
  for (size_t i = 0; i < std::size(kBroadcastEncodings); ++i)
    held[i] = ::iconv_open("UTF-8", kBroadcastEncodings[i]);
}

}  // namespace media
