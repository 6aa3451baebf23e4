#include "platform/media/source/ffmpeg_source_filter.h"

#include "platform/dshow/cover_pin.h"

#include <utility>

#include "platform/media/filter/media_time.h"
#include "platform/media/source/stream_description.h"

#include "platform/media/ffmpeg/ffmpeg_errors.h"
#include "platform/media/ffmpeg/ffmpeg_log.h"
#include "platform/media/filter/media_time.h"

namespace media {
namespace {

// A packet's presentation time, or its decoding time where it has none.
int64_t TimestampOf(const AVPacket& packet) { return packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts; }

// Consecutive read errors after which a damaged file counts as ended.
constexpr int kMaxFailedReads = 64;

std::wstring PinName(const AVStream* stream, int videoIndex, int audioIndex) {
  if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) return kCoverPinName;
  bool video = stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
  int n = video ? videoIndex : audioIndex;
  std::wstring name = video ? L"Video" : L"Audio";
  if (n > 0) name += L" " + std::to_wstring(n + 1);
  return name;
}

}  // namespace

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
  HRESULT hr = input_.Open(path);
  if (FAILED(hr)) return hr;
  packet_.reset(av_packet_alloc());
  if (!packet_) return E_OUTOFMEMORY;
  // An unknown or absurd start counts as none.
  fileStart_ = MediaTimeOf(format()->start_time, AVRational{1, AV_TIME_BASE}, 0);
  if (fileStart_ == kNoTime) fileStart_ = 0;
  AddStreams();
  if (streams_.empty()) return VFW_E_UNSUPPORTED_STREAM;
  UpdateDiscard();
  return S_OK;
}

void FfmpegSourceFilter::AddStreams() {
  int video = 0, audio = 0;
  for (unsigned i = 0; i < format()->nb_streams; ++i) {
    AVStream* stream = format()->streams[i];
    AVMediaType kind = stream->codecpar->codec_type;
    if (kind != AVMEDIA_TYPE_VIDEO && kind != AVMEDIA_TYPE_AUDIO) continue;
    MediaType type = CompressedType(*format(), *stream, fileStart_);
    if (!type.pbFormat) continue;
    Pin* pin = AddPin(PINDIR_OUTPUT, PinName(stream, video, audio));
    (kind == AVMEDIA_TYPE_VIDEO ? video : audio)++;
    streams_.push_back({pin, i, stream, std::move(type)});
  }
}

FfmpegSourceFilter::Stream* FfmpegSourceFilter::StreamOfPin(const Pin* pin) {
  for (Stream& s : streams_)
    if (s.pin == pin) return &s;
  return nullptr;
}

HRESULT FfmpegSourceFilter::GetOutputType(Pin* out, int index, MediaType* type) {
  const Stream* s = StreamOfPin(out);
  if (!s || index > 0) return VFW_S_NO_MORE_ITEMS;
  *type = s->type;
  return S_OK;
}

IUnknown* FfmpegSourceFilter::PinInterface(Pin*, REFIID riid) {
  return riid == IID_IEarlierSeek ? static_cast<IEarlierSeek*>(this) : nullptr;
}

HRESULT FfmpegSourceFilter::OnConnected(Pin* pin) {
  if (Stream* s = StreamOfPin(pin)) s->done = false;
  UpdateDiscard();
  return S_OK;
}

void FfmpegSourceFilter::OnDisconnected(Pin*) { UpdateDiscard(); }

void FfmpegSourceFilter::UpdateDiscard() {
  if (!format()) return;
  for (unsigned i = 0; i < format()->nb_streams; ++i) format()->streams[i]->discard = AVDISCARD_ALL;
  for (Stream& s : streams_) s.stream->discard = s.pin->connected() ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

void FfmpegSourceFilter::DeliverEndOfStream() {
  // The last key frame before the end is the one at or before the position.
  if (heldKey_ && heldStream_) {
    DeliverHeldKey(INT64_MAX);
  } else if (segment_.keyFrame && SearchesTimestamps() && !segment_.fromFileStart &&
             SUCCEEDED(SeekEarlierThanBefore())) {
    // The search landed past the last key frame of the file: it lies
    // further back.
    return;
  }
  heldStream_ = nullptr;
  endOfStream_ = true;
  for (Stream& s : streams_) s.pin->DeliverEndOfStream();
  AnswerEarlierSeek();
}

void FfmpegSourceFilter::AnswerEarlierSeek() {
  if (std::exchange(earlierSeekAsked_, false)) SeekEarlierThanBefore();
}

bool FfmpegSourceFilter::AllDone() const {
  for (const Stream& s : streams_)
    if (s.pin->connected() && !s.done) return false;
  return true;
}

HRESULT FfmpegSourceFilter::Pump() {
  // Once every connected stream has what it wants, the rest of the file is
  // not read.
  if (endOfStream_ || !format() || AllDone()) return S_FALSE;
  int err = av_read_frame(format(), packet_.get());
  if (err == AVERROR(EAGAIN)) return S_OK;
  if (err < 0) {
    // A damaged stretch yields errors before the end: skip it unless the
    // file is at its end or the errors go on.
    if (err == AVERROR_EOF || avio_feof(format()->pb) || ++failedReads_ > kMaxFailedReads) DeliverEndOfStream();
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
  // A key frame segment hands the decoder nothing it would have to decode
  // only to reach a picture.
  if (segment_.keyFrame) {
    if (!(packet->flags & AV_PKT_FLAG_KEY)) {
      stream->skipped = true;
      return S_OK;
    }
    if (SearchesTimestamps()) return TakeSearchedKeyFrame(*stream, std::move(packet));
  }
  Deliver(*stream, std::move(packet));
  AnswerEarlierSeek();
  return S_OK;
}

void FfmpegSourceFilter::Deliver(Stream& stream, PacketPtr packet) {
  const int64_t ts = TimestampOf(*packet);
  if (packet->dts != AV_NOPTS_VALUE) stream.lastDts = packet->dts;
  if (segment_.keyFrame) stream.lastKeyDts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
  if (ts != AV_NOPTS_VALUE && (stream.maxPts == AV_NOPTS_VALUE || ts > stream.maxPts)) stream.maxPts = ts;
  LONGLONG time = MediaTimeOf(ts, stream.stream->time_base, fileStart_);
  HRESULT hr = stream.pin->Deliver(Sample::FromPacket(std::move(packet), time));
  if (hr == S_FALSE) stream.done = true;
}

// A timestamp search lands near the position, not on the key frame at or
// before it: that one is the last key frame before the first one past the
// position, which is held until then. A search that landed past the
// position goes further back.
HRESULT FfmpegSourceFilter::TakeSearchedKeyFrame(Stream& stream, PacketPtr packet) {
  const int64_t ts = TimestampOf(*packet);
  const LONGLONG time = MediaTimeOf(ts, stream.stream->time_base, fileStart_);
  if (time != kNoTime && time <= segment_.start) {
    heldKey_ = std::move(packet);
    heldStream_ = &stream;
    return S_OK;
  }
  if (!heldKey_ && !segment_.fromFileStart) {
    SeekEarlierThanBefore();
    return S_OK;
  }
  // The one held, or the first key frame of the file: nothing closer comes.
  if (heldKey_) {
    DeliverHeldKey(time);
  } else {
    givenKey_ = nextKey_ = time;
    Deliver(stream, std::move(packet));
  }
  return S_OK;
}

void FfmpegSourceFilter::DeliverHeldKey(LONGLONG nextKey) {
  const int64_t ts = TimestampOf(*heldKey_);
  givenKey_ = MediaTimeOf(ts, heldStream_->stream->time_base, fileStart_);
  nextKey_ = nextKey;
  Deliver(*heldStream_, std::move(heldKey_));
  heldStream_ = nullptr;
}

HRESULT FfmpegSourceFilter::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  if (!format() || format()->duration == AV_NOPTS_VALUE || format()->duration <= 0) return E_FAIL;
  *duration = av_rescale(format()->duration, kUnitsPerSecond, AV_TIME_BASE);
  return S_OK;
}

}  // namespace media
