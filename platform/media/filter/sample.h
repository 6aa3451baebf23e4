// A unit of data travelling from an output pin to an input pin: a compressed
// packet, a decoded picture or audio frame, or plain bytes. Samples are
// immutable and shared, so a renderer that keeps one keeps it without a copy.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/media/ffmpeg/ffmpeg_ptr.h"
#include "platform/media/filter/media_time.h"
#include "platform/media/picture/video_format.h"

namespace media {

class Sample;
using SamplePtr = std::shared_ptr<const Sample>;

class Sample {
 public:
  static SamplePtr FromPacket(PacketPtr packet, LONGLONG time);
  // A decoded frame; `layout` (may be null for audio) says how data() lays
  // out a picture, `colour` what its values mean. The frame matches the
  // layout in size, and in pixel format or is a deeper picture of the same
  // chroma layout, whose bytes are then its conversion to the layout.
  static SamplePtr FromFrame(FramePtr frame, const VideoFormat* layout, const PictureColour& colour, LONGLONG time);
  // `size` bytes of `bytes` are the sample; the rest is slack.
  static SamplePtr FromBytes(std::vector<uint8_t> bytes, size_t size, LONGLONG time);
  // Writes all the bytes of a drawn picture at its argument; false when it
  // cannot. It owns whatever it draws from.
  using Drawing = std::function<bool(uint8_t* out)>;
  // A picture of `size` bytes that `draw` makes when it is read, straight
  // into the reader's memory when the reader takes it whole (CopyTo).
  static SamplePtr FromDrawing(Drawing draw, size_t size, LONGLONG time);

  const AVPacket* packet() const { return packet_.get(); }
  const AVFrame* frame() const { return frame_.get(); }
  // The complete colour description of a decoded picture.
  const PictureColour& colour() const { return colour_; }
  // Presentation time in 100 ns units from the start of the file.
  LONGLONG time() const { return time_; }

  // The sample's bytes: a packet's payload, or a picture packed in its
  // layout (done on first use, since most pictures are read through frame()).
  const uint8_t* data() const;
  size_t size() const;
  // Copies the first `count` bytes (at most size()) to out. A drawing taken
  // whole is drawn there and not kept. False when the bytes cannot be made.
  bool CopyTo(uint8_t* out, size_t count) const;

 private:
  Sample() = default;
  void Pack() const;

  PacketPtr packet_;
  FramePtr frame_;
  const VideoFormat* layout_ = nullptr;
  PictureColour colour_;
  Drawing draw_;
  size_t drawnSize_ = 0;
  LONGLONG time_ = kNoTime;
  mutable std::once_flag packed_;
  mutable std::vector<uint8_t> bytes_;
  mutable size_t size_ = 0;
};

}  // namespace media
