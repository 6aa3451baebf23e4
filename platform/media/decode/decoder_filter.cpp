#include "platform/media/decode/decoder_filter.h"

#include "platform/media/filter/media_time.h"

namespace media {
namespace {

// Media times within this much of each other are the same instant: stream
// time bases rarely divide 100 ns exactly.
constexpr LONGLONG kTimeSlack = 10;
constexpr int kMaxDrainErrors = 64;

}  // namespace

DecoderFilter::DecoderFilter(const GUID& majorType)
    : majorType_(majorType), input_(AddPin(PINDIR_INPUT, L"In")), output_(AddPin(PINDIR_OUTPUT, L"Out")) {}

bool DecoderFilter::CanDecode(const StreamInfo& info) {
  return info.codecpar && avcodec_find_decoder(info.codecpar->codec_id) != nullptr;
}

HRESULT DecoderFilter::CheckInputType(Pin*, const AM_MEDIA_TYPE& type) {
  return type.majortype == majorType_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT DecoderFilter::GetOutputType(Pin*, int index, MediaType* type) {
  if (!codec_) return VFW_E_NOT_CONNECTED;
  if (index > 0) return VFW_S_NO_MORE_ITEMS;
  *type = outputType_;
  return S_OK;
}

HRESULT DecoderFilter::OnConnected(Pin* pin) {
  if (pin != input_) return S_OK;
  const StreamInfo* described = StreamInfoOf(pin->type());
  if (!described || !CanDecode(*described)) return VFW_E_TYPE_NOT_ACCEPTED;
  const StreamInfo& info = *described;
  const AVCodec* decoder = avcodec_find_decoder(info.codecpar->codec_id);
  CodecContextPtr codec(avcodec_alloc_context3(decoder));
  if (!codec) return E_OUTOFMEMORY;
  if (avcodec_parameters_to_context(codec.get(), info.codecpar) < 0) return VFW_E_TYPE_NOT_ACCEPTED;
  codec->pkt_timebase = info.timeBase;
  MediaType outputType;
  HRESULT hr = Configure(info, codec.get(), &outputType);
  if (FAILED(hr)) return hr;
  if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return VFW_E_TYPE_NOT_ACCEPTED;
  info_ = info;
  // The codec holds its own copy of the parameters.
  info_.codecpar = nullptr;
  ComPtr<IEarlierSeek> upstream;
  if (SUCCEEDED(pin->peer()->QueryInterface(IID_IEarlierSeek, upstream.put_void()))) upstream_ = upstream.get();
  perFrame_ = info.frameRate.num > 0 && info.frameRate.den > 0
                  ? av_rescale(kUnitsPerSecond, info.frameRate.den, info.frameRate.num)
                  : 0;
  codec_ = std::move(codec);
  outputType_ = outputType;
  segment_ = Segment{};
  targetPending_ = waitingForKey_ = ended_ = delivered_ = skipped_ = seekAsked_ = replay_ = false;
  held_.reset();
  shown_.reset();
  return S_OK;
}

void DecoderFilter::OnDisconnected(Pin* pin) {
  if (pin != input_) return;
  upstream_ = nullptr;
  // The output's type came from the input: it cannot outlive it.
  output_->Disconnect();
  held_.reset();
  shown_.reset();
  codec_.reset();
  outputType_.Clear();
}

LONGLONG DecoderFilter::ToMediaTime(int64_t ts) const {
  return MediaTimeOf(ts, info_.timeBase, info_.fileStart);
}

LONGLONG DecoderFilter::FrameTime(const AVFrame& frame) {
  LONGLONG time =
      ToMediaTime(frame.best_effort_timestamp != AV_NOPTS_VALUE ? frame.best_effort_timestamp : frame.pts);
  // Decoding times stand in for presentation times there: behind B-frames a
  // picture comes out with the time of the packet that released it, as many
  // frames late as the decoder holds back.
  if (info_.timesFromDecodeOrder && time != kNoTime && perFrame_ > 0) time -= codec_->has_b_frames * perFrame_;
  // The last pictures drained from a decoder may carry no time at all: they
  // follow the one before.
  if (time == kNoTime && lastTime_ != kNoTime && perFrame_ > 0) time = lastTime_ + perFrame_;
  lastTime_ = time;
  return time;
}

LONGLONG DecoderFilter::FrameDuration(const AVFrame& frame) const {
  return MediaDurationOf(frame.pkt_duration, info_.timeBase);
}

DecoderFilter::Decoded DecoderFilter::ReceiveFrame(FramePtr* frame) {
  frame->reset(av_frame_alloc());
  if (!*frame) return Decoded::kError;
  int err = avcodec_receive_frame(codec_.get(), frame->get());
  if (err == 0) return Decoded::kFrame;
  if (err == AVERROR(EAGAIN)) return Decoded::kNeedInput;
  if (err == AVERROR_EOF) return Decoded::kEnd;
  return Decoded::kError;
}

HRESULT DecoderFilter::DecodePacket(const AVPacket* packet, bool draining) {
  // A packet the decoder refuses because it is full goes in again once the
  // frames waiting in it were taken out.
  for (int attempt = 0; attempt < 2; ++attempt) {
    int sent = avcodec_send_packet(codec_.get(), packet);
    int errors = 0;
    for (;;) {
      FramePtr frame;
      Decoded result = ReceiveFrame(&frame);
      if (result == Decoded::kFrame) {
        HandleFrame(std::move(frame), draining);
        // The frames still in the decoder belong to the stretch the source
        // is about to stream again.
        if (seekAsked_) return S_OK;
        continue;
      }
      // While draining, a decoding error spoils one frame, not the rest; a
      // decoder that only fails is given up.
      if (result == Decoded::kError && draining && ++errors < kMaxDrainErrors) continue;
      break;
    }
    if (sent != AVERROR(EAGAIN)) break;
  }
  return S_OK;
}

HRESULT DecoderFilter::Failure() const { return encrypted_ ? E_MEDIA_ENCRYPTED : S_OK; }

HRESULT DecoderFilter::Receive(Pin*, const SamplePtr& sample) {
  const AVPacket* packet = sample->packet();
  if (!codec_) return S_FALSE;
  if (replay_) {
    HRESULT hr = Replay();
    return FAILED(hr) ? hr : S_FALSE;
  }
  if (ended_) {
    // Nothing more is wanted until a flush; the pictures after an undecoded
    // packet would lack their references.
    skipped_ = true;
    return S_FALSE;
  }
  if (!packet || seekAsked_) return S_OK;
  // Decoding an encrypted packet would give noise, or a picture of it.
  if (av_packet_get_side_data(packet, AV_PKT_DATA_ENCRYPTION_INFO, nullptr)) {
    encrypted_ = true;
    return S_OK;
  }
  if (segment_.keyFrame) return DecodeKeyFrame(*packet);
  if (waitingForKey_) {
    if (!(packet->flags & AV_PKT_FLAG_KEY)) return S_OK;
    waitingForKey_ = false;
  }
  codec_->skip_frame = ShownBeforeTarget(*packet) ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
  HRESULT hr = DecodePacket(packet, false);
  return SUCCEEDED(hr) && ended_ ? S_FALSE : hr;
}

HRESULT DecoderFilter::DecodeKeyFrame(const AVPacket& packet) {
  if (!(packet.flags & AV_PKT_FLAG_KEY)) return S_OK;
  codec_->skip_frame = AVDISCARD_DEFAULT;
  DecodePacket(&packet, false);
  // A decoder that holds pictures back for reordering, or one per thread,
  // gives this one only when drained: the next key frame is not decoded to
  // push it out. A drained decoder takes packets again once flushed.
  if (!delivered_) {
    DecodePacket(nullptr, true);
    avcodec_flush_buffers(codec_.get());
    lastTime_ = kNoTime;
  }
  skipped_ = true;
  // A key frame that did not decode leaves the segment open for the next.
  if (!delivered_) return S_OK;
  if (!ended_) {
    ended_ = true;
    output_->DeliverEndOfStream();
  }
  return S_FALSE;
}

bool DecoderFilter::ShownBeforeTarget(const AVPacket& packet) const {
  // Decoding times stand for presentation times in AVI: there the picture a
  // packet holds is not known before it is decoded.
  if (!targetPending_ || info_.timesFromDecodeOrder || info_.attachedPicture || packet.pts == AV_NOPTS_VALUE)
    return false;
  const LONGLONG time = ToMediaTime(packet.pts);
  const LONGLONG duration = MediaDurationOf(packet.duration, info_.timeBase);
  if (time == kNoTime || duration <= 0) return false;
  // A frame's worth of margin: rounded times leave gaps between pictures,
  // and the picture before such a gap at the target is the one shown there.
  return time + 2 * duration + kTimeSlack <= segment_.start;
}

HRESULT DecoderFilter::HandleFrame(FramePtr frame, bool draining) {
  if (ended_) return S_OK;
  LONGLONG time = FrameTime(*frame);
  if (targetPending_ && time != kNoTime && !info_.attachedPicture) {
    LONGLONG target = segment_.start;
    if (time - kTimeSlack <= target) {
      LONGLONG duration = FrameDuration(*frame);
      if (duration > 0 && time + duration - kTimeSlack > target) {
        held_.reset();
        targetPending_ = false;
        return DeliverTimed(std::move(frame), time);
      }
      // It may be the frame shown at the target, or an earlier one: the next
      // frame tells.
      held_ = std::move(frame);
      heldTime_ = time;
      return S_OK;
    }
    targetPending_ = false;
    if (held_) {
      HRESULT hr = DeliverTimed(std::move(held_), heldTime_);
      if (FAILED(hr) || ended_) return hr;
    } else if (!draining && CanSeekEarlier()) {
      // The demuxer landed after the target: the frame shown there lies
      // before this key frame.
      targetPending_ = true;
      AskEarlierSeek();
      return S_OK;
    }
  }
  targetPending_ = false;
  return DeliverTimed(std::move(frame), time);
}

HRESULT DecoderFilter::DeliverTimed(FramePtr frame, LONGLONG time) {
  // The first frame after a seek is the one shown at its position, wherever
  // the stop lies; the frames after it end at the stop.
  if (delivered_ && time != kNoTime && time - kTimeSlack > segment_.stop) {
    ended_ = true;
    output_->DeliverEndOfStream();
    return S_OK;
  }
  // Kept while it is the segment's only frame.
  if (!delivered_) {
    shown_.reset(av_frame_clone(frame.get()));
    shownTime_ = time;
  } else {
    shown_.reset();
  }
  delivered_ = true;
  const LONGLONG duration = info_.timesFromDecodeOrder ? 0 : FrameDuration(*frame);
  HRESULT hr = DeliverFrame(std::move(frame), time);
  // A cover picture is a stream of one frame; a frame shown until past the
  // stop is the segment's last, and the next one need not be decoded to
  // tell.
  const bool shownPastStop = time != kNoTime && duration > 0 && time + duration - kTimeSlack > segment_.stop;
  if (!ended_ && (info_.attachedPicture || shownPastStop)) {
    ended_ = true;
    output_->DeliverEndOfStream();
  }
  return hr;
}

HRESULT DecoderFilter::Replay() {
  replay_ = targetPending_ = false;
  // The packets of this segment go undecoded.
  skipped_ = true;
  FramePtr frame(av_frame_clone(shown_.get()));
  if (!frame) return E_OUTOFMEMORY;
  delivered_ = true;
  HRESULT hr = DeliverFrame(std::move(frame), shownTime_);
  ended_ = true;
  output_->DeliverEndOfStream();
  return hr;
}

HRESULT DecoderFilter::EndOfStream(Pin*) {
  if (codec_ && replay_) return Replay();
  if (!codec_ || ended_) return S_OK;
  DecodePacket(nullptr, true);
  if (held_ && !ended_) DeliverTimed(std::move(held_), heldTime_);
  // Nothing at all came after the seek: the demuxer landed at the end (a
  // transport stream's timestamp search near its last frame).
  if (targetPending_ && !delivered_ && CanSeekEarlier()) {
    AskEarlierSeek();
    return S_OK;
  }
  if (!ended_) {
    ended_ = true;
    output_->DeliverEndOfStream();
  }
  return S_OK;
}

// From the start of the file there is nothing earlier to seek to.
bool DecoderFilter::CanSeekEarlier() const { return upstream_ && !segment_.fromFileStart; }

void DecoderFilter::AskEarlierSeek() {
  seekAsked_ = true;
  upstream_->SeekEarlier();
}

void DecoderFilter::Flush(Pin*, const Segment& segment) {
  // The same segment again, after it ended with one frame, gives that frame
  // again: decoding anew would give the same picture.
  replay_ = shown_ && ended_ && segment.start == segment_.start && segment.stop == segment_.stop &&
            segment.keyFrame == segment_.keyFrame;
  if (!replay_) shown_.reset();
  held_.reset();
  seekAsked_ = false;
  segment_ = segment;
  targetPending_ = segment.start != kNoTime && !segment.keyFrame;
  ended_ = delivered_ = false;
  // Pictures decoded past the last stop are gone. Should the frame shown at
  // the new start be one of them, the first picture to come lies past the
  // start, and with nothing held that asks for an earlier seek, as after a
  // seek that landed late; so continuing never gives another frame than a
  // seek.
  if (!segment.continued || skipped_) {
    if (codec_) avcodec_flush_buffers(codec_.get());
    // From the start of the file the decoder takes what comes, so a stream
    // without key frame flags still decodes.
    waitingForKey_ = !segment.fromFileStart;
    lastTime_ = kNoTime;
    skipped_ = false;
  }
  output_->DeliverFlush(segment);
}

}  // namespace media
