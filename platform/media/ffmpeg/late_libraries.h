// What FFmpeg's demuxers would make the C library open in the middle of a
// request, loaded ahead: once the server is locked, nothing can be opened,
// and a late open would fail the request that needed it.
#pragma once

namespace media {

// Loads the character-set converters the MPEG-TS demuxer asks iconv for
// when it reads a broadcast's service and event names (ISO 6937, the ISO
// 8859 parts, UCS-2, KS C 5601, GB 2312), with the converter table they are
// found through, and keeps them loaded for the life of the process. Safe to
// call more than once.
void LoadLateLibraries();

}  // namespace media
