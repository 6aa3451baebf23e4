#include "platform/media/ffmpeg_source_filter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/display.h>
}

#include "platform/media/ffmpeg_errors.h"
#include "platform/media/ffmpeg_log.h"
#include "platform/media/media_time.h"

namespace media {
namespace {

constexpr int kIoBufferSize = 64 * 1024;
// Consecutive read errors after which a damaged file counts as ended.
constexpr int kMaxFailedReads = 64;
// The first step back when a seek landed after the wanted position.
constexpr LONGLONG kFirstBackoff = kUnitsPerSecond;

// Demuxers that would open other files or network addresses named inside the
// file (playlists, manifests, scripts, image sequences, session
// descriptions). The I/O callbacks refuse any second open anyway.
const char* const kRefusedDemuxers[] = {"hls", "dash", "concat", "image2", "imf", "sdp", "rtsp", "rtp", "sap",
                                        "webm_dash_manifest", "ffmetadata", "libopenmpt"};

// The accepted uncompressed video subtypes of the graph's users: a source pin
// never carries one of them, so compressed and raw streams always go through
// a decoder that delivers a picture.
const GUID* const kUncompressedSubtypes[] = {
    &MEDIASUBTYPE_RGB1, &MEDIASUBTYPE_RGB4, &MEDIASUBTYPE_RGB8, &MEDIASUBTYPE_RGB555, &MEDIASUBTYPE_RGB565,
    &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_YUYV, &MEDIASUBTYPE_IYUV, &MEDIASUBTYPE_Y411, &MEDIASUBTYPE_Y41P,
    &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_YVYU, &MEDIASUBTYPE_UYVY, &MEDIASUBTYPE_Y211, &MEDIASUBTYPE_YV12,
    &MEDIASUBTYPE_CLJR, &MEDIASUBTYPE_IF09, &MEDIASUBTYPE_CPLA, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_NV12};

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

GUID CompressedSubtype(const AVCodecParameters& par) {
  if (par.codec_tag != 0) {
    GUID tagged = FourccGuid(static_cast<char>(par.codec_tag), static_cast<char>(par.codec_tag >> 8),
                             static_cast<char>(par.codec_tag >> 16), static_cast<char>(par.codec_tag >> 24));
    if (par.codec_type == AVMEDIA_TYPE_AUDIO) tagged.Data1 = par.codec_tag & 0xFFFF;
    bool uncompressed = false;
    for (const GUID* g : kUncompressedSubtypes) uncompressed = uncompressed || *g == tagged;
    if (!uncompressed) return tagged;
  }
  // A private subtype made from FFmpeg's codec id ("FFMP").
  return GUID{static_cast<DWORD>(par.codec_id), 0x4646, 0x504D, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

int QuarterTurns(const AVStream* stream) {
  size_t size = 0;
  const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (!matrix || size < 9 * sizeof(int32_t)) return 0;
  double theta = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  if (std::isnan(theta)) return 0;
  theta -= 360 * std::floor(theta / 360 + 0.9 / 360);
  long turns = std::lround(theta / 90);
  if (std::fabs(theta - 90.0 * turns) > 1.0) return 0;  // not a right angle: shown unrotated
  return static_cast<int>(turns % 4);
}

MediaType StreamType(const AVStream* stream) {
  const AVCodecParameters& par = *stream->codecpar;
  MediaType type;
  type->subtype = CompressedSubtype(par);
  type->bTemporalCompression = TRUE;
  if (par.codec_type == AVMEDIA_TYPE_VIDEO) {
    VIDEOINFOHEADER vih{};
    vih.rcSource = {0, 0, par.width, par.height};
    vih.rcTarget = vih.rcSource;
    vih.dwBitRate = static_cast<DWORD>(par.bit_rate);
    if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0)
      vih.AvgTimePerFrame = av_rescale(kUnitsPerSecond, stream->avg_frame_rate.den, stream->avg_frame_rate.num);
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = par.width;
    vih.bmiHeader.biHeight = par.height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = static_cast<WORD>(par.bits_per_coded_sample > 0 ? par.bits_per_coded_sample : 24);
    vih.bmiHeader.biCompression = type->subtype.Data1;
    type->majortype = MEDIATYPE_Video;
    type->formattype = FORMAT_VideoInfo;
    type.SetFormat(&vih, sizeof vih);
  } else {
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = static_cast<WORD>(type->subtype.Data1);
    wfx.nChannels = static_cast<WORD>(par.ch_layout.nb_channels);
    wfx.nSamplesPerSec = static_cast<DWORD>(par.sample_rate);
    wfx.nAvgBytesPerSec = static_cast<DWORD>(par.bit_rate / 8);
    wfx.nBlockAlign = static_cast<WORD>(par.block_align);
    wfx.wBitsPerSample = static_cast<WORD>(par.bits_per_coded_sample);
    type->majortype = MEDIATYPE_Audio;
    type->formattype = FORMAT_WaveFormatEx;
    type.SetFormat(&wfx, sizeof wfx);
  }
  return type;
}

std::wstring PinName(const AVStream* stream, int videoIndex, int audioIndex) {
  bool video = stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
  int n = video ? videoIndex : audioIndex;
  std::wstring name = video ? L"Video" : L"Audio";
  if (n > 0) name += L" " + std::to_wstring(n + 1);
  return name;
}

}  // namespace

// The file descriptor FFmpeg reads through: a regular file opened here, so no
// protocol handler ever sees the path.
class FfmpegSourceFilter::File {
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

FfmpegSourceFilter::FfmpegSourceFilter() = default;
FfmpegSourceFilter::~FfmpegSourceFilter() = default;

HRESULT FfmpegSourceFilter::Open(const std::string& path, ComPtr<FfmpegSourceFilter>* out) {
  SilenceFfmpegLog();
  ComPtr<FfmpegSourceFilter> filter = ComPtr<FfmpegSourceFilter>::Adopt(new (std::nothrow) FfmpegSourceFilter);
  if (!filter) return E_OUTOFMEMORY;
  HRESULT hr = filter->OpenFile(path);
  if (FAILED(hr)) return hr;
  *out = std::move(filter);
  return S_OK;
}

HRESULT FfmpegSourceFilter::OpenFile(const std::string& path) {
  path_ = path;
  file_ = std::make_unique<File>();
  HRESULT hr = file_->Open(path);
  if (FAILED(hr)) return hr;
  hr = OpenDemuxer(&io_, &format_);
  if (FAILED(hr)) return hr;
  packet_.reset(av_packet_alloc());
  if (!packet_) return E_OUTOFMEMORY;
  // An unknown or absurd start counts as none.
  fileStart_ = MediaTimeOf(format_->start_time, AVRational{1, AV_TIME_BASE}, 0);
  if (fileStart_ == kNoTime) fileStart_ = 0;
  AddStreams();
  if (streams_.empty()) return VFW_E_UNSUPPORTED_STREAM;
  UpdateDiscard();
  return S_OK;
}

// A demuxer over the file from its first byte, its streams probed.
HRESULT FfmpegSourceFilter::OpenDemuxer(IoContextPtr* ioOut, FormatContextPtr* formatOut) const {
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
  if (err < 0) return HresultFromAvError(err);
  FormatContextPtr format(raw);
  err = avformat_find_stream_info(format.get(), nullptr);
  if (err < 0 && format->nb_streams == 0) return VFW_E_INVALID_FILE_FORMAT;
  // The demuxer reads through the I/O context: it goes first.
  *formatOut = std::move(format);
  *ioOut = std::move(io);
  return S_OK;
}

// Some demuxers have no way back to their start: with no index a time seek
// fails (after a search through the whole file), and a byte seek to 0 leaves
// them wherever their resynchronisation finds the next cluster, past the
// first pictures or past the last. A new demuxer over the same file starts
// at the start whatever the format. Its streams are the ones already
// connected, in the same order.
bool FfmpegSourceFilter::Reopen() {
  IoContextPtr io;
  FormatContextPtr format;
  if (FAILED(OpenDemuxer(&io, &format))) return false;
  for (const Stream& s : streams_)
    if (static_cast<unsigned>(s.stream->index) >= format->nb_streams ||
        format->streams[s.stream->index]->codecpar->codec_type != s.stream->codecpar->codec_type)
      return false;
  for (Stream& s : streams_) s.stream = format->streams[s.stream->index];
  format_ = std::move(format);
  io_ = std::move(io);
  UpdateDiscard();
  return true;
}

void FfmpegSourceFilter::AddStreams() {
  int video = 0, audio = 0;
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    AVStream* stream = format_->streams[i];
    AVMediaType kind = stream->codecpar->codec_type;
    if (kind != AVMEDIA_TYPE_VIDEO && kind != AVMEDIA_TYPE_AUDIO) continue;
    MediaType type = StreamType(stream);
    if (!type->pbFormat) continue;
    BasePin* pin = AddPin(PINDIR_OUTPUT, PinName(stream, video, audio));
    (kind == AVMEDIA_TYPE_VIDEO ? video : audio)++;
    streams_.push_back({pin, stream, std::move(type)});
  }
}

FfmpegSourceFilter::Stream* FfmpegSourceFilter::StreamOfPin(const BasePin* pin) {
  for (Stream& s : streams_)
    if (s.pin == pin) return &s;
  return nullptr;
}

const FfmpegSourceFilter::Stream* FfmpegSourceFilter::StreamOfPin(const BasePin* pin) const {
  return const_cast<FfmpegSourceFilter*>(this)->StreamOfPin(pin);
}

bool FfmpegSourceFilter::GetStreamInfo(const BasePin* pin, StreamInfo* info) const {
  const Stream* s = StreamOfPin(pin);
  if (!s) return false;
  info->codecpar = s->stream->codecpar;
  info->timeBase = s->stream->time_base;
  info->fileStart = fileStart_;
  info->sampleAspect = av_guess_sample_aspect_ratio(format_.get(), s->stream, nullptr);
  info->frameRate = s->stream->avg_frame_rate;
  info->quarterTurns = QuarterTurns(s->stream);
  info->attachedPicture = (s->stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
  info->timesFromDecodeOrder =
      std::strcmp(format_->iformat->name, "avi") == 0 && s->stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
  return true;
}

bool StreamInfoOfPin(BasePin* pin, StreamInfo* info) {
  auto* source = pin ? dynamic_cast<FfmpegSourceFilter*>(pin->filter()) : nullptr;
  return source && source->GetStreamInfo(pin, info);
}

HRESULT FfmpegSourceFilter::GetOutputType(BasePin* out, int index, MediaType* type) {
  const Stream* s = StreamOfPin(out);
  if (!s || index > 0) return VFW_S_NO_MORE_ITEMS;
  *type = s->type;
  return S_OK;
}

HRESULT FfmpegSourceFilter::OnConnected(BasePin* pin) {
  if (Stream* s = StreamOfPin(pin)) s->done = false;
  UpdateDiscard();
  return S_OK;
}

void FfmpegSourceFilter::OnDisconnected(BasePin*) { UpdateDiscard(); }

void FfmpegSourceFilter::UpdateDiscard() {
  if (!format_) return;
  for (unsigned i = 0; i < format_->nb_streams; ++i) format_->streams[i]->discard = AVDISCARD_ALL;
  for (Stream& s : streams_) s.stream->discard = s.pin->connected() ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

void FfmpegSourceFilter::DeliverEndOfStream() {
  endOfStream_ = true;
  bool earlier = false;
  for (Stream& s : streams_) earlier = s.pin->DeliverEndOfStream() == S_SEEK_EARLIER || earlier;
  if (earlier) SeekEarlier();
}

// Each retry goes twice as far back, so the start of the file ends the
// retries after a few steps.
void FfmpegSourceFilter::SeekEarlier() {
  backoff_ = backoff_ ? backoff_ * 2 : kFirstBackoff;
  SeekDemuxer(segment_.start - backoff_);
}

bool FfmpegSourceFilter::AllDone() const {
  for (const Stream& s : streams_)
    if (s.pin->connected() && !s.done) return false;
  return true;
}

HRESULT FfmpegSourceFilter::Pump() {
  // Once every connected stream has what it wants, the rest of the file is
  // not read.
  if (endOfStream_ || !format_ || AllDone()) return S_FALSE;
  int err = av_read_frame(format_.get(), packet_.get());
  if (err == AVERROR(EAGAIN)) return S_OK;
  if (err < 0) {
    // A damaged stretch yields errors before the end: skip it unless the
    // file is at its end or the errors go on.
    if (err == AVERROR_EOF || avio_feof(format_->pb) || ++failedReads_ > kMaxFailedReads) DeliverEndOfStream();
    return S_OK;
  }
  failedReads_ = 0;
  PacketPtr packet(av_packet_alloc());
  if (!packet) {
    av_packet_unref(packet_.get());
    return E_OUTOFMEMORY;
  }
  av_packet_move_ref(packet.get(), packet_.get());
  Stream* stream = nullptr;
  for (Stream& s : streams_)
    if (s.stream->index == packet->stream_index) stream = &s;
  if (!stream || !stream->pin->connected()) return S_OK;
  if (stream->done) {
    stream->skipped = true;
    return S_OK;
  }
  int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
  if (packet->dts != AV_NOPTS_VALUE) stream->lastDts = packet->dts;
  if (ts != AV_NOPTS_VALUE && (stream->maxPts == AV_NOPTS_VALUE || ts > stream->maxPts)) stream->maxPts = ts;
  LONGLONG time = MediaTimeOf(ts, stream->stream->time_base, fileStart_);
  HRESULT hr = stream->pin->Deliver(Sample::FromPacket(std::move(packet), time));
  if (hr == S_FALSE) stream->done = true;
  if (hr == S_SEEK_EARLIER) SeekEarlier();
  return S_OK;
}

HRESULT FfmpegSourceFilter::Seek(LONGLONG start, LONGLONG stop) {
  if (!format_) return E_UNEXPECTED;
  segment_.start = start < 0 ? 0 : start;
  segment_.stop = stop;
  backoff_ = 0;
  if (!CanReadOnTo(segment_.start)) return SeekDemuxer(segment_.start);
  // Positions usually move forward: when the key frame a seek would land on
  // has already gone through the decoders, reading on gives the same
  // pictures as the seek without decoding that stretch again.
  segment_.fromFileStart = false;
  segment_.continued = true;
  StartSegment();
  return S_OK;
}

bool FfmpegSourceFilter::CanReadOnTo(LONGLONG target) const {
  if (endOfStream_ || target <= 0) return false;
  bool connected = false;
  for (const Stream& s : streams_) {
    if (!s.pin->connected()) continue;
    if (!CanReadOnTo(s, target)) return false;
    connected = true;
  }
  return connected;
}

// Whether every packet delivered so far lies before the target and the key
// frame at or before the target is among them. Only an index that reaches
// past the target can tell: one that ends earlier holds just what was read.
// The index of a format found by timestamp search holds only the key frames
// that search came across, so there the answer is no.
bool FfmpegSourceFilter::CanReadOnTo(const Stream& s, LONGLONG target) const {
  if (SearchesTimestamps() || s.skipped || s.lastDts == AV_NOPTS_VALUE || s.maxPts == AV_NOPTS_VALUE ||
      (s.stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
    return false;
  const int64_t ts = StreamTimeOf(target, fileStart_, s.stream->time_base);
  if (s.maxPts >= ts) return false;
  const int count = avformat_index_get_entries_count(s.stream);
  const AVIndexEntry* last = count > 0 ? avformat_index_get_entry(s.stream, count - 1) : nullptr;
  if (!last || last->timestamp <= ts) return false;
  const int index = av_index_search_timestamp(s.stream, ts, AVSEEK_FLAG_BACKWARD);
  const AVIndexEntry* key = index >= 0 ? avformat_index_get_entry(s.stream, index) : nullptr;
  return key && key->timestamp <= s.lastDts;
}

// Transport and program streams carry no index: a seek searches their
// timestamps.
bool FfmpegSourceFilter::SearchesTimestamps() const {
  const char* name = format_->iformat->name;
  return std::strcmp(name, "mpegts") == 0 || std::strcmp(name, "mpeg") == 0 || std::strcmp(name, "mpegvideo") == 0;
}

bool FfmpegSourceFilter::SeekToFileStart() {
  // Transport and program streams start with an I-frame whose decoding time
  // lies before the start time, so a time seek would skip it: go to byte 0.
  bool byByte = !(format_->iformat->flags & AVFMT_NO_BYTE_SEEK) && SearchesTimestamps();
  if (byByte && av_seek_frame(format_.get(), -1, 0, AVSEEK_FLAG_BYTE) >= 0) return true;
  int64_t start = format_->start_time == AV_NOPTS_VALUE ? 0 : format_->start_time;
  if (av_seek_frame(format_.get(), -1, start, AVSEEK_FLAG_BACKWARD) >= 0 || Reopen()) return true;
  return !(format_->iformat->flags & AVFMT_NO_BYTE_SEEK) && av_seek_frame(format_.get(), -1, 0, AVSEEK_FLAG_BYTE) >= 0;
}

HRESULT FfmpegSourceFilter::SeekDemuxer(LONGLONG target) {
  bool atStart = target <= 0;
  if (!atStart) {
    int64_t ts = StreamTimeOf(target, fileStart_, AVRational{1, AV_TIME_BASE});
    atStart = av_seek_frame(format_.get(), -1, ts, AVSEEK_FLAG_BACKWARD) < 0;
  }
  if (atStart && !SeekToFileStart()) return E_FAIL;
  segment_.fromFileStart = atStart;
  segment_.continued = false;
  endOfStream_ = false;
  failedReads_ = 0;
  for (Stream& s : streams_) {
    s.lastDts = s.maxPts = AV_NOPTS_VALUE;
    s.skipped = false;
  }
  StartSegment();
  return S_OK;
}

void FfmpegSourceFilter::StartSegment() {
  for (Stream& s : streams_) {
    s.done = false;
    s.pin->DeliverFlush(segment_);
  }
}

HRESULT FfmpegSourceFilter::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  if (!format_ || format_->duration == AV_NOPTS_VALUE || format_->duration <= 0) return E_FAIL;
  *duration = av_rescale(format_->duration, kUnitsPerSecond, AV_TIME_BASE);
  return S_OK;
}

}  // namespace media
