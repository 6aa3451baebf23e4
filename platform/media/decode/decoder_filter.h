// The decoder filters' common part: a libavcodec decoder between one input
// pin fed by the source and one output pin. It delivers the frame shown at a
// segment's start first (holding back frames until it knows which one that
// is), then frames up to the segment's stop, then the end of stream; after a
// seek it decodes from a key frame on. A segment that continues the stream
// goes on decoding where the last one stopped. It learns of its stream from
// the description its input type carries, and asks the source through
// IEarlierSeek for an earlier seek when the first picture came too late.
#pragma once

#include "platform/media/filter/earlier_seek.h"
#include "platform/media/filter/filter.h"
#include "platform/media/source/stream_description.h"

namespace media {

class DecoderFilter : public Filter {
 public:
  HRESULT CheckInputType(Pin* in, const AM_MEDIA_TYPE& type) override;
  HRESULT GetOutputType(Pin* out, int index, MediaType* type) override;
  HRESULT OnConnected(Pin* pin) override;
  void OnDisconnected(Pin* pin) override;
  HRESULT Receive(Pin* in, const SamplePtr& sample) override;
  HRESULT EndOfStream(Pin* in) override;
  void Flush(Pin* in, const Segment& segment) override;
  HRESULT Failure() const override;

  // True when a decoder exists for the described stream.
  static bool CanDecode(const StreamInfo& info);

 protected:
  explicit DecoderFilter(const GUID& majorType);

  // Sets up the codec context before it opens and decides the output type;
  // a failure refuses the connection.
  virtual HRESULT Configure(const StreamInfo& info, AVCodecContext* codec, MediaType* outputType) = 0;
  // Delivers one decoded frame downstream.
  virtual HRESULT DeliverFrame(FramePtr frame, LONGLONG time) = 0;
  // How long the frame is shown, in 100 ns; 0 when unknown.
  virtual LONGLONG FrameDuration(const AVFrame& frame) const;

  Pin* output() const { return output_; }

 private:
  enum class Decoded { kFrame, kNeedInput, kEnd, kError };
  // The frame's presentation time in 100 ns from the file's start.
  LONGLONG FrameTime(const AVFrame& frame);
  LONGLONG ToMediaTime(int64_t ts) const;
  Decoded ReceiveFrame(FramePtr* frame);
  HRESULT DecodePacket(const AVPacket* packet, bool draining);
  HRESULT HandleFrame(FramePtr frame, bool draining);
  // A key frame segment: the first key frame that decodes is its picture.
  HRESULT DecodeKeyFrame(const AVPacket& packet);
  HRESULT DeliverTimed(FramePtr frame, LONGLONG time);
  // Whether the packet's picture is shown only well before the target, so
  // that a picture nothing refers to need not be decoded.
  bool ShownBeforeTarget(const AVPacket& packet) const;
  // Gives the frame the same segment gave last time, and ends the stream.
  HRESULT Replay();
  // Whether the source can be asked for an earlier seek, and the asking.
  bool CanSeekEarlier() const;
  void AskEarlierSeek();

  GUID majorType_;
  Pin* input_;
  Pin* output_;
  // The source's way back, while the input is connected; null when the
  // filter upstream offers none. No reference: see earlier_seek.h.
  IEarlierSeek* upstream_ = nullptr;
  bool seekAsked_ = false;  // an earlier seek was asked since the last flush
  StreamInfo info_;
  CodecContextPtr codec_;
  MediaType outputType_;
  Segment segment_;
  bool targetPending_ = false;  // the frame at segment_.start is still to come
  bool waitingForKey_ = false;
  bool ended_ = false;      // end of stream delivered
  bool delivered_ = false;  // a frame went out since the last flush
  bool skipped_ = false;    // a packet went undecoded since the last flush
  bool encrypted_ = false;  // a packet came encrypted: no picture can come of it
  FramePtr held_;       // the latest frame before the target, shown if nothing closer comes
  LONGLONG heldTime_ = 0;
  LONGLONG perFrame_ = 0;         // from the stream's frame rate, 0 when unknown
  LONGLONG lastTime_ = kNoTime;  // of the last frame decoded since the last flush
  // The one frame the segment gave, while no other went out: a seek to the
  // same segment gives it again instead of decoding it again.
  FramePtr shown_;
  LONGLONG shownTime_ = 0;
  bool replay_ = false;  // the segment is the last one again: shown_ goes out
};

}  // namespace media
