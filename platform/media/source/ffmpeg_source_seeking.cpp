// The source filter's seek rules: when reading on reaches a position as a
// seek would, how the demuxer is moved and brought back to the file's start,
// and how far back an earlier seek goes.
#include <cstring>
#include <utility>

#include "platform/media/filter/media_time.h"
#include "platform/media/source/ffmpeg_source_filter.h"

namespace media {
namespace {

// The first step back when a seek landed after the wanted position.
constexpr LONGLONG kFirstBackoff = kUnitsPerSecond;

}  // namespace

HRESULT FfmpegSourceFilter::Seek(LONGLONG start, LONGLONG stop, bool keyFrame) {
  if (!format()) return E_UNEXPECTED;
  segment_.start = start < 0 ? 0 : start;
  segment_.stop = stop;
  backoff_ = 0;
  earlierSeekAsked_ = false;
  // Where key frames are rarer than the positions, the key frame at or
  // before this one went out for an earlier position: the frame shown here
  // comes instead, decoded forward from it, rather than the same picture
  // twice; the positions after it in the same stretch read on from there.
  if (keyFrame && !KeyFrameGiven(segment_.start)) {
    segment_.keyFrame = true;
    return SeekDemuxer(segment_.start);
  }
  // The decoder was drained after a key frame: nothing to read on with.
  const bool afterKeyFrames = std::exchange(segment_.keyFrame, false);
  if (afterKeyFrames || !CanReadOnTo(segment_.start)) return SeekDemuxer(segment_.start);
  // Positions usually move forward: when the key frame a seek would land on
  // has already gone through the decoders, reading on gives the same
  // pictures as the seek without decoding that stretch again.
  segment_.fromFileStart = false;
  segment_.continued = true;
  StartSegment();
  return S_OK;
}

// Each retry goes twice as far back, so the start of the file ends the
// retries after a few steps.
HRESULT FfmpegSourceFilter::SeekEarlierThanBefore() {
  backoff_ = backoff_ ? backoff_ * 2 : kFirstBackoff;
  return SeekDemuxer(segment_.start - backoff_);
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
// past the target can tell, or one that lists every key frame of the file:
// elsewhere an index that ends earlier holds just what was read. The index
// of a format found by timestamp search holds only the key frames that
// search came across, so there the answer is no.
bool FfmpegSourceFilter::CanReadOnTo(const Stream& s, LONGLONG target) const {
  if (s.skipped || s.lastDts == AV_NOPTS_VALUE || s.maxPts == AV_NOPTS_VALUE) return false;
  const int64_t ts = StreamTimeOf(target, fileStart_, s.stream->time_base);
  if (s.maxPts >= ts) return false;
  const AVIndexEntry* key = KeyFrameAtOrBefore(s, ts);
  return key && key->timestamp <= s.lastDts;
}

const AVIndexEntry* FfmpegSourceFilter::KeyFrameAtOrBefore(const Stream& s, int64_t ts) const {
  if (SearchesTimestamps() || (s.stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) return nullptr;
  const int count = avformat_index_get_entries_count(s.stream);
  const AVIndexEntry* last = count > 0 ? avformat_index_get_entry(s.stream, count - 1) : nullptr;
  if (!last || (last->timestamp <= ts && !IndexListsEveryKeyFrame())) return nullptr;
  const int index = av_index_search_timestamp(s.stream, ts, AVSEEK_FLAG_BACKWARD);
  return index >= 0 ? avformat_index_get_entry(s.stream, index) : nullptr;
}

bool FfmpegSourceFilter::KeyFrameGiven(LONGLONG target) const {
  if (SearchesTimestamps()) return givenKey_ != kNoTime && givenKey_ <= target && target < nextKey_;
  bool connected = false;
  for (const Stream& s : streams_) {
    if (!s.pin->connected()) continue;
    if (s.lastKeyDts == AV_NOPTS_VALUE) return false;
    const AVIndexEntry* key = KeyFrameAtOrBefore(s, StreamTimeOf(target, fileStart_, s.stream->time_base));
    if (!key || key->timestamp > s.lastKeyDts) return false;
    connected = true;
  }
  return connected;
}

// The sample tables of MP4 and QuickTime, the cues of Matroska and the index
// of AVI list every key frame of the file once it has been sought (the first
// position always is). Where that fails (a Matroska file without cues), the
// key frame read on from is only further back than a seek's: the same frame
// comes, later.
bool FfmpegSourceFilter::IndexListsEveryKeyFrame() const {
  const char* name = format()->iformat->name;
  return std::strncmp(name, "mov,", 4) == 0 || std::strncmp(name, "matroska", 8) == 0 || std::strcmp(name, "avi") == 0;
}

// Transport and program streams carry no index: a seek searches their
// timestamps.
bool FfmpegSourceFilter::SearchesTimestamps() const {
  const char* name = format()->iformat->name;
  return std::strcmp(name, "mpegts") == 0 || std::strcmp(name, "mpeg") == 0 || std::strcmp(name, "mpegvideo") == 0;
}

bool FfmpegSourceFilter::SeekToFileStart() {
  // Transport and program streams start with an I-frame whose decoding time
  // lies before the start time, so a time seek would skip it: go to byte 0.
  bool byByte = !(format()->iformat->flags & AVFMT_NO_BYTE_SEEK) && SearchesTimestamps();
  if (byByte && av_seek_frame(format(), -1, 0, AVSEEK_FLAG_BYTE) >= 0) return true;
  int64_t start = format()->start_time == AV_NOPTS_VALUE ? 0 : format()->start_time;
  if (av_seek_frame(format(), -1, start, AVSEEK_FLAG_BACKWARD) >= 0 || ReopenAtStart()) return true;
  return !(format()->iformat->flags & AVFMT_NO_BYTE_SEEK) && av_seek_frame(format(), -1, 0, AVSEEK_FLAG_BYTE) >= 0;
}

// A new demuxer starts at the start whatever the format; its streams are
// the ones already connected, in the same order.
bool FfmpegSourceFilter::ReopenAtStart() {
  if (!input_.Reopen()) return false;
  for (Stream& s : streams_) s.stream = format()->streams[s.index];
  UpdateDiscard();
  return true;
}

HRESULT FfmpegSourceFilter::SeekDemuxer(LONGLONG target) {
  bool atStart = target <= 0;
  if (!atStart) {
    int64_t ts = StreamTimeOf(target, fileStart_, AVRational{1, AV_TIME_BASE});
    atStart = av_seek_frame(format(), -1, ts, AVSEEK_FLAG_BACKWARD) < 0;
  }
  if (atStart && !SeekToFileStart()) return E_FAIL;
  segment_.fromFileStart = atStart;
  segment_.continued = false;
  heldKey_.reset();
  heldStream_ = nullptr;
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

}  // namespace media
