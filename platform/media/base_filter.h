// The base filter and base pin every filter of the graph is built from. The
// pins carry connection, type negotiation and the streaming calls (samples,
// end of stream, flush with a new segment); each filter supplies hooks for
// what it accepts, offers and does with what arrives. All streaming happens on
// the thread that pumps the graph.
#pragma once

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "platform/dshow/dshow.h"
#include "platform/media/media_type.h"
#include "platform/media/sample.h"

namespace media {

class BaseFilter;

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
};

// Returned by Receive when the first picture after a seek lies past the
// segment's start: the source should seek further back and try again.
constexpr HRESULT S_SEEK_EARLIER = 0x0004F001;

class BasePin final : public IPin {
 public:
  BasePin(BaseFilter* filter, PIN_DIRECTION direction, std::wstring name);
  BasePin(const BasePin&) = delete;
  BasePin& operator=(const BasePin&) = delete;
  ~BasePin() = default;

  // References on a pin are references on its filter.
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT ConnectedTo(IPin** pin) override;
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override;

  BaseFilter* filter() const { return filter_; }
  PIN_DIRECTION direction() const { return direction_; }
  BasePin* peer() const { return peer_; }
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

 private:
  friend HRESULT ConnectPins(BasePin* out, BasePin* in);

  BaseFilter* filter_;
  PIN_DIRECTION direction_;
  std::wstring name_;
  BasePin* peer_ = nullptr;  // no reference: a filter unlinks its pins when it dies
  MediaType type_;
};

// Connects an output pin to an input pin with the first type the output
// offers that the input accepts.
HRESULT ConnectPins(BasePin* out, BasePin* in);

// Our pin behind an IPin, or null for a foreign one.
BasePin* AsBasePin(IPin* pin);

class BaseFilter : public IBaseFilter, public RefCounted {
 public:
  IMPLEMENT_REFCOUNT
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  HRESULT EnumPins(IEnumPins** out) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;

  const std::vector<std::unique_ptr<BasePin>>& pins() const { return pins_; }
  IFilterGraph* graph() const { return graph_; }

  // Connection hooks.
  virtual HRESULT CheckInputType(BasePin* in, const AM_MEDIA_TYPE& type);
  // Fills *type with the index-th type the pin offers; VFW_S_NO_MORE_ITEMS
  // past the last.
  virtual HRESULT GetOutputType(BasePin* out, int index, MediaType* type);
  virtual HRESULT OnConnected(BasePin* pin);
  virtual void OnDisconnected(BasePin* pin);

  // Streaming hooks, called on an input pin by the output pin upstream.
  // Receive returns S_FALSE when the filter wants no more samples until the
  // next flush, S_SEEK_EARLIER (below) to have the source seek back.
  virtual HRESULT Receive(BasePin* in, const SamplePtr& sample);
  // EndOfStream may answer S_SEEK_EARLIER too: the stream ended before the
  // picture at the segment's start came.
  virtual HRESULT EndOfStream(BasePin* in);
  virtual void Flush(BasePin* in, const Segment& segment);

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
  virtual HRESULT Seek(LONGLONG start, LONGLONG stop);
  virtual HRESULT GetDuration(LONGLONG* duration);

 protected:
  BaseFilter() = default;
  ~BaseFilter() override;
  // Extra interfaces of a filter that has them; the base answers IUnknown
  // and IBaseFilter.
  virtual HRESULT QueryExtraInterface(REFIID riid, void** ppv);
  BasePin* AddPin(PIN_DIRECTION direction, std::wstring name);
  BasePin* FirstPin(PIN_DIRECTION direction) const;

 private:
  std::vector<std::unique_ptr<BasePin>> pins_;
  IFilterGraph* graph_ = nullptr;  // no reference: the graph holds us
  std::wstring name_;
};

// Our filter behind an IBaseFilter, or null for a foreign one.
BaseFilter* AsBaseFilter(IBaseFilter* filter);

// Creates a T (an object of ours whose creation reference is its Release's)
// and queries it for riid: the class factories of the registered classes.
template <class T>
HRESULT CreateInstance(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  T* object = new (std::nothrow) T;
  if (!object) return E_OUTOFMEMORY;
  HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

// Copies a name into a fixed WCHAR array, cut to fit with its NUL.
void CopyName(const std::wstring& name, WCHAR* out, size_t capacity);

}  // namespace media
