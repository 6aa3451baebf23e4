// The source filter: offers one output pin per video or audio stream of a
// demuxer input, carrying the stream's compressed type with its description.
// It reads on the thread that pumps the graph, delivers each packet to the
// pin of its stream, and has the demuxer discard the streams whose pins are
// unconnected. Its seek rules (ffmpeg_source_seeking.cpp) decide between
// reading on and moving the demuxer, and how far back to go when a decoder
// asks for an earlier seek.
#pragma once

#include <string>
#include <vector>

#include "platform/media/filter/earlier_seek.h"
#include "platform/media/filter/filter.h"
#include "platform/media/source/demuxer_input.h"

namespace media {

class FfmpegSourceFilter final : public Filter, public IEarlierSeek {
 public:
  // Opens `path` as a local regular file; nothing else is opened or read,
  // whatever the file says. Failure: as DemuxerInput::Open, or
  // VFW_E_UNSUPPORTED_STREAM for a file with no video or audio stream.
  static HRESULT Open(const std::string& path, ComPtr<FfmpegSourceFilter>* out);

  // IUnknown of both interfaces: one object, one count.
  HRESULT QueryInterface(REFIID riid, void** ppv) override { return Filter::QueryInterface(riid, ppv); }
  ULONG AddRef() override { return Filter::AddRef(); }
  ULONG Release() override { return Filter::Release(); }

  bool IsSource() const override { return true; }
  HRESULT Pump() override;
  HRESULT Seek(LONGLONG start, LONGLONG stop, bool keyFrame) override;
  HRESULT GetDuration(LONGLONG* duration) override;

  HRESULT GetOutputType(Pin* out, int index, MediaType* type) override;
  HRESULT OnConnected(Pin* pin) override;
  void OnDisconnected(Pin* pin) override;
  IUnknown* PinInterface(Pin* pin, REFIID riid) override;

  void SeekEarlier() override { earlierSeekAsked_ = true; }

 private:
  struct Stream {
    Pin* pin;
    unsigned index;    // in the demuxer, the same in a reopened one
    AVStream* stream;  // the demuxer's, replaced when it is reopened
    MediaType type;
    bool done = false;  // downstream wants nothing more until the next seek
    // Of the packets delivered since the demuxer last moved, in the stream's
    // time base; AV_NOPTS_VALUE until one went out.
    int64_t lastDts = AV_NOPTS_VALUE;
    int64_t maxPts = AV_NOPTS_VALUE;
    bool skipped = false;  // a packet was read and not delivered
    // Of the last key frame a key frame segment delivered; AV_NOPTS_VALUE
    // until one went out.
    int64_t lastKeyDts = AV_NOPTS_VALUE;
  };

  FfmpegSourceFilter() = default;
  ~FfmpegSourceFilter() override = default;
  HRESULT OpenFile(const std::string& path);
  void AddStreams();
  Stream* StreamOfPin(const Pin* pin);
  void UpdateDiscard();
  void DeliverEndOfStream();
  void DeliverHeldKey(LONGLONG nextKey);
  // Hands the packet to its stream's pin, noting what the seek rules need.
  void Deliver(Stream& stream, PacketPtr packet);
  HRESULT TakeSearchedKeyFrame(Stream& stream, PacketPtr packet);
  bool AllDone() const;
  // Acts on a decoder's request for an earlier seek, once its call returned.
  void AnswerEarlierSeek();

  // The seek rules.
  HRESULT SeekDemuxer(LONGLONG target);
  // Whether every connected stream can go on to the target without a seek.
  bool CanReadOnTo(LONGLONG target) const;
  bool CanReadOnTo(const Stream& s, LONGLONG target) const;
  // The key frame at or before `ts` (in the stream's time base) as the
  // index lists it, when the index can tell; null otherwise.
  const AVIndexEntry* KeyFrameAtOrBefore(const Stream& s, int64_t ts) const;
  // Whether a key frame segment already gave the key frame at or before the
  // target in every connected stream.
  bool KeyFrameGiven(LONGLONG target) const;
  bool SearchesTimestamps() const;
  bool IndexListsEveryKeyFrame() const;
  bool SeekToFileStart();
  bool ReopenAtStart();
  void StartSegment();
  HRESULT SeekEarlierThanBefore();

  AVFormatContext* format() const { return input_.format(); }

  DemuxerInput input_;
  PacketPtr packet_;
  // In a key frame segment of a searched format, the last key frame at or
  // before the position so far, and its stream.
  PacketPtr heldKey_;
  Stream* heldStream_ = nullptr;
  // Where such a search has no index to ask: the times of the last key
  // frame it gave and of the next key frame it saw (kNoTime before any,
  // INT64_MAX when the file ended first). No key frame lies between them.
  LONGLONG givenKey_ = kNoTime;
  LONGLONG nextKey_ = kNoTime;
  std::vector<Stream> streams_;
  LONGLONG fileStart_ = 0;
  Segment segment_;
  LONGLONG backoff_ = 0;
  int failedReads_ = 0;
  bool endOfStream_ = false;
  bool earlierSeekAsked_ = false;
};

}  // namespace media
