// The decoder filters' common part: a libavcodec decoder between one input
// pin fed by the source and one output pin. It delivers the frame shown at a
// segment's start first (holding back frames until it knows which one that
// is), then frames up to the segment's stop, then the end of stream; after a
// seek it decodes from a key frame on. A segment that continues the stream
// goes on decoding where the last one stopped.
#pragma once

#include "platform/media/base_filter.h"
#include "platform/media/ffmpeg_source_filter.h"

namespace media {

class DecoderFilter : public BaseFilter {
 public:
  HRESULT CheckInputType(BasePin* in, const AM_MEDIA_TYPE& type) override;
  HRESULT GetOutputType(BasePin* out, int index, MediaType* type) override;
  HRESULT OnConnected(BasePin* pin) override;
  void OnDisconnected(BasePin* pin) override;
  HRESULT Receive(BasePin* in, const SamplePtr& sample) override;
  HRESULT EndOfStream(BasePin* in) override;
  void Flush(BasePin* in, const Segment& segment) override;

  // True when a decoder exists for the stream behind a source pin.
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

  BasePin* output() const { return output_; }

 private:
  enum class Decoded { kFrame, kNeedInput, kEnd, kError };
  // The frame's presentation time in 100 ns from the file's start.
  LONGLONG FrameTime(const AVFrame& frame);
  LONGLONG ToMediaTime(int64_t ts) const;
  Decoded ReceiveFrame(FramePtr* frame);
  HRESULT DecodePacket(const AVPacket* packet, bool draining);
  HRESULT HandleFrame(FramePtr frame, bool draining);
  HRESULT DeliverTimed(FramePtr frame, LONGLONG time);

  GUID majorType_;
  BasePin* input_;
  BasePin* output_;
  StreamInfo info_;
  CodecContextPtr codec_;
  MediaType outputType_;
  Segment segment_;
  bool targetPending_ = false;  // the frame at segment_.start is still to come
  bool waitingForKey_ = false;
  bool ended_ = false;      // end of stream delivered
  bool delivered_ = false;  // a frame went out since the last flush
  bool skipped_ = false;    // a packet went undecoded since the last flush
  FramePtr held_;       // the latest frame before the target, shown if nothing closer comes
  LONGLONG heldTime_ = 0;
  LONGLONG perFrame_ = 0;         // from the stream's frame rate, 0 when unknown
  LONGLONG lastTime_ = kNoTime;  // of the last frame decoded since the last flush
};

}  // namespace media
