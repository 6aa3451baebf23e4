// The filters and pins of the media graph, on the shared base filter and pin.
// Pins connect directly (the output offers types, the input's filter checks
// them) and carry the streaming calls (samples, end of stream, flush with a
// new segment) to hooks of the filter downstream. All streaming happens on
// the thread that pumps the graph.
#pragma once

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "platform/dshow/base_filter.h"
#include "platform/dshow/media_failure.h"
#include "platform/media/filter/sample.h"

namespace media {

class Filter;

// What the stream carries after a seek: the picture to show is the one at
// `start` (kNoTime: whatever comes next), and nothing after `stop` is wanted.
struct Segment {
  LONGLONG start = kNoTime;
  LONGLONG stop = LLONG_MAX;
  // The demuxer went back to the beginning of the file: there is nothing
  // earlier to seek to.
  bool fromFileStart = true;
  // The demuxer did not move: the stream goes on from the packet after the
  // last one delivered, so a decoder keeps its state.
  bool continued = false;
  // The picture to show is the first key frame after the seek (the one at
  // or before `start`), as it is, with its own time; only key frames come.
  bool keyFrame = false;
};

class Pin final : public BasePin {
 public:
  Pin(Filter* filter, PIN_DIRECTION direction, std::wstring name);
  ~Pin() = default;

  ComPtr<IPin> Peer() override;
  HRESULT CopyConnectionType(MediaType* type) override;

  Filter* filter() const;
  Pin* peer() const { return peer_; }
  bool connected() const { return peer_ != nullptr; }
  // The connection's type; empty while unconnected.
  const MediaType& type() const { return type_; }

  // Output side: hand a sample, the end of stream or a flush to the connected
  // input pin. An unconnected pin drops them.
  HRESULT Deliver(const SamplePtr& sample);
  HRESULT DeliverEndOfStream();
  void DeliverFlush(const Segment& segment);

  // Breaks the connection at both ends; S_FALSE when there was none.
  HRESULT Disconnect();

 protected:
  IUnknown* ExtraInterface(REFIID riid) override;

 private:
  friend HRESULT ConnectPins(Pin* out, Pin* in);

  Pin* peer_ = nullptr;  // no reference: a filter unlinks its pins when it dies
  MediaType type_;
};

// Connects an output pin to an input pin with the first type the output
// offers that the input accepts.
HRESULT ConnectPins(Pin* out, Pin* in);

// Our pin behind an IPin, or null for a foreign one.
Pin* AsPin(IPin* pin);

class Filter : public BaseFilter {
 public:
  ULONG PinCount() const override { return static_cast<ULONG>(pins_.size()); }
  Pin* PinAt(ULONG index) override { return pins_[index].get(); }
  const std::vector<std::unique_ptr<Pin>>& pins() const { return pins_; }

  // Connection hooks.
  virtual HRESULT CheckInputType(Pin* in, const AM_MEDIA_TYPE& type);
  // Fills *type with the index-th type the pin offers; VFW_S_NO_MORE_ITEMS
  // past the last.
  virtual HRESULT GetOutputType(Pin* out, int index, MediaType* type);
  virtual HRESULT OnConnected(Pin* pin);
  virtual void OnDisconnected(Pin* pin);
  // Interfaces a pin of this filter answers beyond IPin; the result is not
  // yet referenced.
  virtual IUnknown* PinInterface(Pin* pin, REFIID riid);

  // Streaming hooks, called on an input pin by the output pin upstream.
  // Receive returns S_FALSE when the filter wants no more samples until the
  // next flush.
  virtual HRESULT Receive(Pin* in, const SamplePtr& sample);
  virtual HRESULT EndOfStream(Pin* in);
  virtual void Flush(Pin* in, const Segment& segment);

  // Called by the graph on every Run.
  virtual void OnRun() {}

  // A renderer ends a branch; the graph completes when every connected one
  // has reached the end of its stream.
  virtual bool IsRenderer() const { return false; }
  virtual bool AtEndOfStream() const { return true; }

  // A source produces the stream. Pump delivers one unit and returns S_OK,
  // or S_FALSE when it has nothing more until the next seek.
  virtual bool IsSource() const { return false; }
  virtual HRESULT Pump() { return S_FALSE; }
  // keyFrame: the stream's key frame at or before start is the picture
  // wanted, not the frame shown at start (Segment::keyFrame).
  virtual HRESULT Seek(LONGLONG start, LONGLONG stop, bool keyFrame);
  virtual HRESULT GetDuration(LONGLONG* duration);

  // Why the samples this filter took gave nothing (E_MEDIA_* of
  // platform/dshow/media_failure.h), S_OK when it knows of no reason.
  virtual HRESULT Failure() const { return S_OK; }

 protected:
  Filter() = default;
  ~Filter() override;
  Pin* AddPin(PIN_DIRECTION direction, std::wstring name);

 private:
  std::vector<std::unique_ptr<Pin>> pins_;
};

// Our filter behind an IBaseFilter, or null for a foreign one.
Filter* AsFilter(IBaseFilter* filter);

}  // namespace media
