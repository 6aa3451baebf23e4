#include "platform/media/filter/sample.h"

#include <cstring>

#include "platform/media/picture/picture_converter.h"

namespace media {

SamplePtr Sample::FromPacket(PacketPtr packet, LONGLONG time) {
  std::shared_ptr<Sample> s(new Sample);
  s->packet_ = std::move(packet);
  s->time_ = time;
  return s;
}

SamplePtr Sample::FromFrame(FramePtr frame, const VideoFormat* layout, const PictureColour& colour, LONGLONG time) {
  std::shared_ptr<Sample> s(new Sample);
  s->frame_ = std::move(frame);
  s->layout_ = layout;
  s->colour_ = colour;
  s->time_ = time;
  return s;
}

SamplePtr Sample::FromBytes(std::vector<uint8_t> bytes, size_t size, LONGLONG time) {
  std::shared_ptr<Sample> s(new Sample);
  s->size_ = size <= bytes.size() ? size : bytes.size();
  s->bytes_ = std::move(bytes);
  s->time_ = time;
  std::call_once(s->packed_, [] {});
  return s;
}

SamplePtr Sample::FromDrawing(Drawing draw, size_t size, LONGLONG time) {
  std::shared_ptr<Sample> s(new Sample);
  s->draw_ = std::move(draw);
  s->drawnSize_ = size;
  s->time_ = time;
  return s;
}

void Sample::Pack() const {
  std::call_once(packed_, [this] {
    if (draw_) {
      bytes_.resize(drawnSize_);
      // A picture that cannot be drawn reads as black, never as stray bytes.
      if (!draw_(bytes_.data())) bytes_.assign(drawnSize_, 0);
      size_ = drawnSize_;
      return;
    }
    if (!frame_ || !layout_) return;
    PictureView view = ViewOfFrame(*frame_, colour_);
    FramePtr repacked;
    if (view.format != layout_->pixelFormat) {
      // Deep samples travel in the decoder's own planes; the layout's 8-bit
      // bytes are made only for a reader that asks for them.
      repacked = PictureConverter().ConvertToFrame(view, layout_->pixelFormat, view.width, view.height);
      if (!repacked) return;
      view = ViewOfFrame(*repacked, colour_);
    }
    size_ = ImageBytes(*layout_, frame_->width, frame_->height);
    bytes_.resize(size_);
    if (size_) PackPicture(view, *layout_, bytes_.data());
  });
}

const uint8_t* Sample::data() const {
  if (packet_) return packet_->data;
  Pack();
  return bytes_.data();
}

size_t Sample::size() const {
  if (packet_) return static_cast<size_t>(packet_->size);
  if (draw_) return drawnSize_;
  Pack();
  return size_;
}

bool Sample::CopyTo(uint8_t* out, size_t count) const {
  if (draw_ && count == drawnSize_) return draw_(out);
  if (count > size()) return false;
  if (count) std::memcpy(out, data(), count);
  return true;
}

}  // namespace media
