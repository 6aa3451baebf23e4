// What the source filter reads: one local regular file, read through a
// descriptor of our own so that no protocol handler ever sees the path, and
// a libavformat demuxer over it restricted to formats that open nothing but
// that file.
#pragma once

#include <memory>
#include <string>

#include "platform/media/ffmpeg/ffmpeg_errors.h"
#include "platform/media/ffmpeg/ffmpeg_ptr.h"

namespace media {

class DemuxerInput {
 public:
  DemuxerInput();
  DemuxerInput(const DemuxerInput&) = delete;
  DemuxerInput& operator=(const DemuxerInput&) = delete;
  ~DemuxerInput();

  // Opens `path` and a demuxer over it, its streams probed. An empty path
  // is the file the parent handed over (handed_file.h), taken from its slot;
  // every read of the request is counted in handed_file::Tally() and stops
  // at the budget that came with it. Failure: the system's file-not-found
  // error (kFileNotFound) for a path that cannot be opened or an empty one
  // with no file held, VFW_E_NOT_FOUND for one that is not a regular file,
  // VFW_E_INVALID_FILE_FORMAT for an empty file or one no allowed demuxer
  // takes, else the demuxer's error.
  HRESULT Open(const std::string& path);

  // Null until Open succeeds.
  AVFormatContext* format() const { return format_.get(); }

  // Replaces the demuxer with a new one over the same file, started at its
  // first byte: some demuxers have no way back to their start otherwise.
  // False, the old demuxer kept, when the new one fails or its video and
  // audio streams are not the old ones in number, order and kind. The old
  // demuxer's streams are gone on success.
  bool Reopen();

 private:
  class File;
  HRESULT OpenDemuxer(IoContextPtr* io, FormatContextPtr* format) const;

  std::string path_;
  // Declared so that the demuxer closes before the I/O it reads through,
  // and that before the descriptor.
  std::unique_ptr<File> file_;
  IoContextPtr io_;
  FormatContextPtr format_;
};

}  // namespace media
