#include "platform/media/source/demuxer_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/dshow/media_failure.h"
#include "platform/media/source/unfinished_file.h"

namespace media {
namespace {

constexpr int kIoBufferSize = 64 * 1024;

// Demuxers that would open other files or network addresses named inside the
// file (playlists, manifests, scripts, image sequences, session
// descriptions). The I/O callbacks refuse any second open anyway.
const char* const kRefusedDemuxers[] = {"hls", "dash", "concat", "image2", "imf", "sdp", "rtsp", "rtp", "sap",
                                        "webm_dash_manifest", "ffmetadata", "libopenmpt"};

std::string AllowedDemuxers() {
  std::string list;
  void* state = nullptr;
  while (const AVInputFormat* f = av_demuxer_iterate(&state)) {
    bool refused = false;
    for (const char* name : kRefusedDemuxers) refused = refused || std::strcmp(f->name, name) == 0;
    if (refused) continue;
    if (!list.empty()) list += ',';
    list += f->name;
  }
  return list;
}

int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

bool IsVideoOrAudio(const AVStream* stream) {
  return stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO || stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

}  // namespace

// The file descriptor FFmpeg reads through.
class DemuxerInput::File {
 public:
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }

  HRESULT Open(const std::string& path) {
    // O_NONBLOCK keeps a FIFO from blocking the open; only regular files pass.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return kFileNotFound;
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return VFW_E_NOT_FOUND;
    if (st.st_size == 0) return VFW_E_INVALID_FILE_FORMAT;
    int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    return S_OK;
  }

  bool Rewind() { return ::lseek(fd_, 0, SEEK_SET) == 0; }

  bool EndsBeforeItsIndex() const { return media::EndsBeforeItsIndex(fd_); }

  static int Read(void* opaque, uint8_t* buffer, int size) {
    int fd = static_cast<File*>(opaque)->fd_;
    for (;;) {
      ssize_t n = ::read(fd, buffer, static_cast<size_t>(size));
      if (n > 0) return static_cast<int>(n);
      if (n == 0) return AVERROR_EOF;
      if (errno != EINTR) return AVERROR(errno);
    }
  }

  static int64_t Seek(void* opaque, int64_t offset, int whence) {
    int fd = static_cast<File*>(opaque)->fd_;
    if (whence & AVSEEK_SIZE) {
      struct stat st;
      return ::fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : AVERROR(errno);
    }
    off_t at = ::lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
  }

 private:
  int fd_ = -1;
};

DemuxerInput::DemuxerInput() = default;
DemuxerInput::~DemuxerInput() = default;

HRESULT DemuxerInput::Open(const std::string& path) {
  path_ = path;
  file_ = std::make_unique<File>();
  HRESULT hr = file_->Open(path);
  if (FAILED(hr)) return hr;
  return OpenDemuxer(&io_, &format_);
}

// A demuxer over the file from its first byte, its streams probed.
HRESULT DemuxerInput::OpenDemuxer(IoContextPtr* ioOut, FormatContextPtr* formatOut) const {
  if (!file_->Rewind()) return E_FAIL;
  auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
  if (!buffer) return E_OUTOFMEMORY;
  IoContextPtr io(avio_alloc_context(buffer, kIoBufferSize, 0, file_.get(), &File::Read, nullptr, &File::Seek));
  if (!io) {
    av_free(buffer);
    return E_OUTOFMEMORY;
  }
  AVFormatContext* raw = avformat_alloc_context();
  if (!raw) return E_OUTOFMEMORY;
  raw->pb = io.get();
  raw->flags |= AVFMT_FLAG_CUSTOM_IO;
  raw->io_open = &RefuseOpen;
  raw->protocol_whitelist = av_strdup("file");
  raw->format_whitelist = av_strdup(AllowedDemuxers().c_str());
  AVDictionary* options = nullptr;
  av_dict_set(&options, "enable_drefs", "0", 0);
  av_dict_set(&options, "use_absolute_path", "0", 0);
  // The name only helps the probe; the bytes come through our own I/O.
  int err = avformat_open_input(&raw, path_.c_str(), nullptr, &options);
  av_dict_free(&options);
  // A movie whose index is still to come reads as no format at all; told
  // apart, its user learns to wait for it rather than to delete it.
  if (err < 0) return file_->EndsBeforeItsIndex() ? E_MEDIA_INCOMPLETE : HresultFromAvError(err);
  FormatContextPtr format(raw);
  err = avformat_find_stream_info(format.get(), nullptr);
  if (err < 0 && format->nb_streams == 0) return VFW_E_INVALID_FILE_FORMAT;
  // The demuxer reads through the I/O context: it goes first.
  *formatOut = std::move(format);
  *ioOut = std::move(io);
  return S_OK;
}

// With no index a time seek fails (after a search through the whole file),
// and a byte seek to 0 leaves a demuxer wherever its resynchronisation finds
// the next cluster, past the first pictures or past the last. A new demuxer
// over the same file starts at the start whatever the format.
bool DemuxerInput::Reopen() {
  IoContextPtr io;
  FormatContextPtr format;
  if (!format_ || FAILED(OpenDemuxer(&io, &format))) return false;
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    const AVStream* old = format_->streams[i];
    if (!IsVideoOrAudio(old)) continue;
    if (i >= format->nb_streams || format->streams[i]->codecpar->codec_type != old->codecpar->codec_type)
      return false;
  }
  format_ = std::move(format);
  io_ = std::move(io);
  return true;
}

}  // namespace media
