// Whether a file that no demuxer could open is a movie still being written:
// an MP4 or QuickTime file whose index (its moov box) is not there yet,
// because a recorder or a download has not reached it. Such a file is no
// foreign file and not damaged; it is only unfinished.
#pragma once

namespace media {

// Walks the top-level boxes of the file open at `fd` (read with pread, the
// file offset untouched). True when they are ISO media boxes that end
// before a moov box: a box runs past the end of the file or to it (size 0),
// or the file ends after its media data without one.
bool EndsBeforeItsIndex(int fd);

}  // namespace media
