// The source filter: opens one local file with libavformat and offers one
// output pin per video or audio stream, carrying the compressed type. It
// reads on the thread that pumps the graph, delivers each packet to the pin of
// its stream, and has the demuxer discard the streams whose pins are
// unconnected.
#pragma once

#include <string>
#include <vector>

#include "platform/media/base_filter.h"
#include "platform/media/ffmpeg_ptr.h"
#include "platform/media/picture_orientation.h"

namespace media {

// What a decoder needs to know of the stream behind a source pin.
struct StreamInfo {
  // Owned by the source, valid while the graph is being connected: a source
  // that opens its file again replaces them.
  const AVCodecParameters* codecpar = nullptr;
  AVRational timeBase = {0, 1};
  LONGLONG fileStart = 0;  // the file's start time, in 100 ns
  AVRational sampleAspect = {0, 1};
  AVRational frameRate = {0, 1};
  Orientation orientation;  // from the display matrix
  int fieldOrder = 0;       // AV_FIELD_*, as the container declares it
  double peakLuminance = 0;  // the stream's light level in cd/m², 0 when unknown
  bool attachedPicture = false;
  bool timesFromDecodeOrder = false;  // video times are decoding times (AVI)
};

class FfmpegSourceFilter final : public BaseFilter {
 public:
  // Opens `path` as a local regular file; nothing else is opened or read,
  // whatever the file says. Failure: VFW_E_NOT_FOUND for a file that cannot be
  // opened, VFW_E_INVALID_FILE_FORMAT or VFW_E_UNSUPPORTED_STREAM otherwise.
  static HRESULT Open(const std::string& path, ComPtr<FfmpegSourceFilter>* out);

  bool IsSource() const override { return true; }
  HRESULT Pump() override;
  HRESULT Seek(LONGLONG start, LONGLONG stop) override;
  HRESULT GetDuration(LONGLONG* duration) override;

  HRESULT GetOutputType(BasePin* out, int index, MediaType* type) override;
  HRESULT OnConnected(BasePin* pin) override;
  void OnDisconnected(BasePin* pin) override;

  // The stream behind one of this filter's pins; false for another pin.
  bool GetStreamInfo(const BasePin* pin, StreamInfo* info) const;

 private:
  struct Stream {
    BasePin* pin;
    AVStream* stream;
    MediaType type;
    bool done = false;  // downstream wants nothing more until the next seek
    // Of the packets delivered since the demuxer last moved, in the stream's
    // time base; AV_NOPTS_VALUE until one went out.
    int64_t lastDts = AV_NOPTS_VALUE;
    int64_t maxPts = AV_NOPTS_VALUE;
    bool skipped = false;  // a packet was read and not delivered
  };
  class File;

  FfmpegSourceFilter();
  ~FfmpegSourceFilter() override;
  HRESULT OpenFile(const std::string& path);
  HRESULT OpenDemuxer(IoContextPtr* io, FormatContextPtr* format) const;
  bool Reopen();
  void AddStreams();
  Stream* StreamOfPin(const BasePin* pin);
  const Stream* StreamOfPin(const BasePin* pin) const;
  void UpdateDiscard();
  HRESULT SeekDemuxer(LONGLONG target);
  // Whether every connected stream can go on to the target without a seek.
  bool CanReadOnTo(LONGLONG target) const;
  bool CanReadOnTo(const Stream& s, LONGLONG target) const;
  bool SearchesTimestamps() const;
  void StartSegment();
  bool SeekToFileStart();
  void DeliverEndOfStream();
  void SeekEarlier();
  bool AllDone() const;

  std::string path_;
  // Declared so that the demuxer closes before the I/O it reads through.
  std::unique_ptr<File> file_;
  IoContextPtr io_;
  FormatContextPtr format_;
  PacketPtr packet_;
  std::vector<Stream> streams_;
  LONGLONG fileStart_ = 0;
  Segment segment_;
  LONGLONG backoff_ = 0;
  int failedReads_ = 0;
  bool endOfStream_ = false;
};

// A source filter's pin behind an IPin, with its stream; false otherwise.
bool StreamInfoOfPin(BasePin* pin, StreamInfo* info);

}  // namespace media
