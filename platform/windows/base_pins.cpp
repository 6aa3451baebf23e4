#include "platform/windows/base_pins.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

// Hands out copies of at most one proposed type, each allocated as the
// receiver frees it (DeleteMediaType).
class TypeEnumerator final : public IEnumMediaTypes, public RefCounted {
 public:
  TypeEnumerator(ConnectionPin* pin, ULONG position) : pin_(ComPtr<IPin>::Share(pin)), owner_(pin), position_(position) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return QueryInterfaceTable(riid, ppv, {{IID_IUnknown, this}, {IID_IEnumMediaTypes, this}});
  }
  IMPLEMENT_REFCOUNT

  HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
    if (!types || (count != 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    const AM_MEDIA_TYPE* proposed = owner_->ProposedType();
    if (count > 0 && proposed && position_ == 0) {
      types[0] = Copy(*proposed);
      if (!types[0]) return E_OUTOFMEMORY;
      n = 1;
      position_ = 1;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    position_ += count;
    return position_ <= Available() ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** clone) override {
    if (!clone) return E_POINTER;
    *clone = new (std::nothrow) TypeEnumerator(owner_, position_);
    return *clone ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ULONG Available() { return owner_->ProposedType() ? 1 : 0; }
  // A record from the task allocator that the receiver frees with
  // DeleteMediaType; null when memory runs out.
  static AM_MEDIA_TYPE* Copy(const AM_MEDIA_TYPE& source) {
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!type) return nullptr;
    if (FAILED(CopyMediaType(type, &source))) {
      DeleteMediaType(type);
      return nullptr;
    }
    return type;
  }

  ComPtr<IPin> pin_;  // keeps the filter, and so the pin, alive
  ConnectionPin* owner_;
  ULONG position_;
};

}  // namespace

ConnectionPin::ConnectionPin(MediaFilter& filter, const WCHAR* name, PIN_DIRECTION direction)
    : BasePin(filter, direction, name), owner_(filter) {}

HRESULT ConnectionPin::Disconnect() {
  {
    std::lock_guard<std::mutex> hold(pin_lock_);
    if (!peer_) return S_FALSE;
    peer_.reset();
    type_.Clear();
  }
  OnDisconnect();
  return S_OK;
}

ComPtr<IPin> ConnectionPin::Peer() {
  std::lock_guard<std::mutex> hold(pin_lock_);
  return peer_;
}

HRESULT ConnectionPin::CopyConnectionType(MediaType* type) {
  std::lock_guard<std::mutex> hold(pin_lock_);
  if (!peer_) return VFW_E_NOT_CONNECTED;
  return type->Assign(type_);
}

HRESULT ConnectionPin::SetConnection(IPin* peer, const AM_MEDIA_TYPE& type) {
  std::lock_guard<std::mutex> hold(pin_lock_);
  HRESULT hr = type_.Assign(type);
  if (FAILED(hr)) return hr;
  peer_ = ComPtr<IPin>::Share(peer);
  return S_OK;
}

HRESULT ConnectionPin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  const size_t bytes = (name().size() + 1) * sizeof(WCHAR);
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*id) return E_OUTOFMEMORY;
  std::memcpy(*id, name().c_str(), bytes);
  return S_OK;
}

HRESULT ConnectionPin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  return Accepts(*type) ? S_OK : S_FALSE;
}

HRESULT ConnectionPin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  *types = new (std::nothrow) TypeEnumerator(this, 0);
  return *types ? S_OK : E_OUTOFMEMORY;
}

HRESULT ConnectionPin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

InputPin::InputPin(MediaFilter& filter, const WCHAR* name) : ConnectionPin(filter, name, PINDIR_INPUT) {}

IUnknown* InputPin::ExtraInterface(REFIID riid) {
  return riid == IID_IMemInputPin ? static_cast<IMemInputPin*>(this) : nullptr;
}

HRESULT InputPin::Connect(IPin*, const AM_MEDIA_TYPE*) { return E_UNEXPECTED; }

HRESULT InputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (!connector || !type) return E_POINTER;
  if (Peer()) return VFW_E_ALREADY_CONNECTED;
  if (FilterState() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!Accepts(*type)) return VFW_E_TYPE_NOT_ACCEPTED;
  return SetConnection(connector, *type);
}

HRESULT InputPin::EndOfStream() { return OnEndOfStream(); }
HRESULT InputPin::BeginFlush() { return OnBeginFlush(); }
HRESULT InputPin::EndFlush() { return OnEndFlush(); }
HRESULT InputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  return OnNewSegment(start, stop, rate);
}

HRESULT InputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  *allocator = nullptr;
  std::lock_guard<std::mutex> hold(pin_lock_);
  if (!allocator_) {
    HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                  allocator_.put_void());
    if (FAILED(hr)) return hr;
  }
  *allocator = ComPtr<IMemAllocator>(allocator_).detach();
  return S_OK;
}

HRESULT InputPin::NotifyAllocator(IMemAllocator* allocator, BOOL) {
  if (!allocator) return E_POINTER;
  std::lock_guard<std::mutex> hold(pin_lock_);
  allocator_ = ComPtr<IMemAllocator>::Share(allocator);
  return S_OK;
}

ComPtr<IMemAllocator> InputPin::Allocator() {
  std::lock_guard<std::mutex> hold(pin_lock_);
  return allocator_;
}

HRESULT InputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT InputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  return OnReceive(sample);
}

HRESULT InputPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
  if (!samples || !processed) return E_POINTER;
  HRESULT hr = S_OK;
  for (*processed = 0; *processed < count; ++*processed) {
    hr = Receive(samples[*processed]);
    if (hr != S_OK) break;
  }
  return hr;
}

// Receive returns at once: the pin copies or passes on, never waits.
HRESULT InputPin::ReceiveCanBlock() { return S_FALSE; }

void InputPin::OnDisconnect() {
  std::lock_guard<std::mutex> hold(pin_lock_);
  allocator_.reset();
}

OutputPin::OutputPin(MediaFilter& filter, const WCHAR* name) : ConnectionPin(filter, name, PINDIR_OUTPUT) {}

HRESULT OutputPin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
  if (!receivePin) return E_POINTER;
  if (Peer()) return VFW_E_ALREADY_CONNECTED;
  if (FilterState() != State_Stopped) return VFW_E_NOT_STOPPED;
  MediaType proposed;
  {
    const AM_MEDIA_TYPE* offer = ProposedType();
    if (!offer) return VFW_E_NO_ACCEPTABLE_TYPES;
    HRESULT hr = proposed.Assign(*offer);
    if (FAILED(hr)) return hr;
  }
  // A partial type given by the graph must agree where it is specific.
  if (type && ((type->majortype != GUID_NULL && type->majortype != proposed.majortype) ||
               (type->subtype != GUID_NULL && type->subtype != proposed.subtype) ||
               (type->formattype != GUID_NULL && type->formattype != proposed.formattype)))
    return VFW_E_TYPE_NOT_ACCEPTED;

  HRESULT hr = receivePin->ReceiveConnection(this, &proposed);
  if (FAILED(hr)) return hr;
  ComPtr<IMemInputPin> downstream;
  ComPtr<IMemAllocator> allocator = Allocator();
  if (FAILED(hr = receivePin->QueryInterface(IID_IMemInputPin, downstream.put_void())) ||
      FAILED(hr = allocator ? downstream->NotifyAllocator(allocator.get(), TRUE) : VFW_E_NO_ALLOCATOR) ||
      FAILED(hr = SetConnection(receivePin, proposed))) {
    receivePin->Disconnect();
    return hr;
  }
  std::lock_guard<std::mutex> hold(pin_lock_);
  downstream_ = downstream;
  return S_OK;
}

HRESULT OutputPin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) { return E_UNEXPECTED; }
HRESULT OutputPin::EndOfStream() { return E_UNEXPECTED; }
HRESULT OutputPin::BeginFlush() { return E_UNEXPECTED; }
HRESULT OutputPin::EndFlush() { return E_UNEXPECTED; }
HRESULT OutputPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return E_UNEXPECTED; }

void OutputPin::OnDisconnect() {
  std::lock_guard<std::mutex> hold(pin_lock_);
  downstream_.reset();
}

HRESULT OutputPin::Deliver(IMediaSample* sample) {
  ComPtr<IMemInputPin> downstream;
  {
    std::lock_guard<std::mutex> hold(pin_lock_);
    downstream = downstream_;
  }
  return downstream ? downstream->Receive(sample) : VFW_E_NOT_CONNECTED;
}

HRESULT OutputPin::DeliverEndOfStream() {
  ComPtr<IPin> peer = Peer();
  return peer ? peer->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT OutputPin::DeliverBeginFlush() {
  ComPtr<IPin> peer = Peer();
  return peer ? peer->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT OutputPin::DeliverEndFlush() {
  ComPtr<IPin> peer = Peer();
  return peer ? peer->EndFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT OutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  ComPtr<IPin> peer = Peer();
  return peer ? peer->NewSegment(start, stop, rate) : VFW_E_NOT_CONNECTED;
}
