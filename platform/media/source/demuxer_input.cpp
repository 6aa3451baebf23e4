#include "platform/media/source/demuxer_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/dshow/media_failure.h"
#include "platform/kernel/handed_file.h"
#include "platform/media/source/unfinished_file.h"

namespace media {
namespace {

constexpr int kIoBufferSize = 64 * 1024;
// The file is read in aligned blocks, and the last ones read are kept: a
// demuxer goes back over what it read (the probe, then the start again; an
// index at the end, then the pictures; a reopening), and on a network share
// every byte read twice costs twice.
constexpr int64_t kBlockSize = 64 * 1024;
constexpr size_t kKeptBlocks = 64;

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

// The file FFmpeg reads through: a descriptor of our own or the one the
// parent handed over, read with pread at an offset kept here, so that the
// handed descriptor's shared offset means nothing and every byte and every
// move is counted (and refused past the request's budget) in one place.
class DemuxerInput::File {
 public:
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }

  HRESULT Open(const std::string& path) {
    ReadTally& tally = handed_file::Tally();
    tally = ReadTally{};
    if (path.empty()) {
      // The parent's file, checked as it arrived; an empty name with none
      // held names nothing.
      fd_ = handed_file::Take(&tally.budget);
      if (fd_ < 0) return kFileNotFound;
    } else {
      // O_NONBLOCK keeps a FIFO from blocking the open; only regular files pass.
      fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
      if (fd_ < 0) return kFileNotFound;
    }
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return VFW_E_NOT_FOUND;
    if (st.st_size == 0) return VFW_E_INVALID_FILE_FORMAT;
    // pread ignores O_NONBLOCK on a regular file; nothing to undo.
    return S_OK;
  }

  void Rewind() { at_ = 0; }

  bool EndsBeforeItsIndex() const { return media::EndsBeforeItsIndex(fd_); }

  static int Read(void* opaque, uint8_t* buffer, int size) {
    File& file = *static_cast<File*>(opaque);
    const int64_t start = file.at_ - file.at_ % kBlockSize;
    const Block* block = file.Kept(start);
    Block read;
    if (!block) {
      const int error = file.ReadBlock(start, &read);
      if (error) return error;
      block = &read;
      // A block cut short by the budget is not kept: the reads after it
      // must find the budget spent, not the end of the file.
      if (read.whole) block = &file.Keep(std::move(read));
    }
    const size_t within = static_cast<size_t>(file.at_ - start);
    // A file that shrank under us ends where it now ends.
    if (within >= block->bytes.size()) return AVERROR_EOF;
    const size_t n = std::min(static_cast<size_t>(size), block->bytes.size() - within);
    std::memcpy(buffer, block->bytes.data() + within, n);
    file.at_ += static_cast<int64_t>(n);
    return static_cast<int>(n);
  }

  static int64_t Seek(void* opaque, int64_t offset, int whence) {
    File& file = *static_cast<File*>(opaque);
    struct stat st;
    if (whence & AVSEEK_SIZE) return ::fstat(file.fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : AVERROR(errno);
    int64_t to = offset;
    switch (whence & ~AVSEEK_FORCE) {
      case SEEK_SET:
        break;
      case SEEK_CUR:
        to += file.at_;
        break;
      case SEEK_END:
        if (::fstat(file.fd_, &st) != 0) return AVERROR(errno);
        to += st.st_size;
        break;
      default:
        return AVERROR(EINVAL);
    }
    if (to < 0) return AVERROR(EINVAL);
    if (to != file.at_) ++handed_file::Tally().seeks;
    file.at_ = to;
    return to;
  }

 private:
  struct Block {
    int64_t offset = 0;
    std::vector<uint8_t> bytes;
    bool whole = false;  // as long as the file had it: not cut by the budget
  };

  // The block at `offset` when it is kept, made the most recently used.
  const Block* Kept(int64_t offset) {
    auto found = std::find_if(kept_.begin(), kept_.end(), [&](const Block& b) { return b.offset == offset; });
    if (found == kept_.end()) return nullptr;
    std::rotate(found, found + 1, kept_.end());
    return &kept_.back();
  }

  const Block& Keep(Block block) {
    if (kept_.size() == kKeptBlocks) kept_.erase(kept_.begin());
    kept_.push_back(std::move(block));
    return kept_.back();
  }

  // The block at `offset` from the file, counted, and cut short where the
  // budget ends; 0, or an FFmpeg error (EFBIG once the budget is spent).
  int ReadBlock(int64_t offset, Block* block) {
    ReadTally& tally = handed_file::Tally();
    uint64_t want = kBlockSize;
    if (tally.budget) {
      if (tally.bytes >= tally.budget) {
        tally.budgetSpent = true;
        return AVERROR(EFBIG);
      }
      want = std::min(want, tally.budget - tally.bytes);
    }
    block->offset = offset;
    block->whole = want == kBlockSize;
    block->bytes.resize(want);
    size_t got = 0;
    while (got < want) {
      const ssize_t n = ::pread(fd_, block->bytes.data() + got, want - got, offset + static_cast<int64_t>(got));
      if (n == 0) {
        block->whole = true;
        break;
      }
      if (n < 0) {
        if (errno == EINTR) continue;
        return AVERROR(errno);
      }
      got += static_cast<size_t>(n);
      tally.bytes += static_cast<uint64_t>(n);
    }
    block->bytes.resize(got);
    return 0;
  }

  int fd_ = -1;
  int64_t at_ = 0;
  std::vector<Block> kept_;  // the most recently used last
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
  file_->Rewind();
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
