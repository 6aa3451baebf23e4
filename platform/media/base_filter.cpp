#include "platform/media/base_filter.h"

#include <algorithm>
#include <new>

#include "platform/media/enumerator.h"

namespace media {

void CopyName(const std::wstring& name, WCHAR* out, size_t capacity) {
  size_t n = std::min(name.size(), capacity - 1);
  std::copy_n(name.begin(), n, out);
  out[n] = L'\0';
}

BasePin::BasePin(BaseFilter* filter, PIN_DIRECTION direction, std::wstring name)
    : filter_(filter), direction_(direction), name_(std::move(name)) {}

HRESULT BasePin::QueryInterface(REFIID riid, void** ppv) {
  return QueryInterfaceTable(riid, ppv, {{IID_IUnknown, this}, {IID_IPin, this}});
}

ULONG BasePin::AddRef() { return filter_->AddRef(); }
ULONG BasePin::Release() { return filter_->Release(); }

HRESULT BasePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = filter_;
  filter_->AddRef();
  info->dir = direction_;
  CopyName(name_, info->achName, MAX_PIN_NAME);
  return S_OK;
}

HRESULT BasePin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = direction_;
  return S_OK;
}

HRESULT BasePin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = peer_;
  if (!peer_) return VFW_E_NOT_CONNECTED;
  peer_->AddRef();
  return S_OK;
}

HRESULT BasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  if (!peer_) {
    *type = AM_MEDIA_TYPE{};
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaTypeTo(type, type_.get());
}

HRESULT BasePin::Deliver(const SamplePtr& sample) {
  if (!peer_) return S_OK;
  return peer_->filter_->Receive(peer_, sample);
}

HRESULT BasePin::DeliverEndOfStream() { return peer_ ? peer_->filter_->EndOfStream(peer_) : S_OK; }

void BasePin::DeliverFlush(const Segment& segment) {
  if (peer_) peer_->filter_->Flush(peer_, segment);
}

HRESULT BasePin::Disconnect() {
  BasePin* peer = peer_;
  if (!peer) return S_FALSE;
  peer_ = nullptr;
  peer->peer_ = nullptr;
  type_.Clear();
  peer->type_.Clear();
  filter_->OnDisconnected(this);
  peer->filter_->OnDisconnected(peer);
  return S_OK;
}

HRESULT ConnectPins(BasePin* out, BasePin* in) {
  if (!out || !in) return E_POINTER;
  if (out->direction() != PINDIR_OUTPUT || in->direction() != PINDIR_INPUT) return E_INVALIDARG;
  if (out->connected() || in->connected()) return VFW_E_ALREADY_CONNECTED;
  if (out->filter() == in->filter()) return VFW_E_CANNOT_CONNECT;
  MediaType type;
  for (int i = 0; out->filter()->GetOutputType(out, i, &type) == S_OK; ++i) {
    if (in->filter()->CheckInputType(in, type.get()) != S_OK) continue;
    out->peer_ = in;
    in->peer_ = out;
    out->type_ = type;
    in->type_ = type;
    if (SUCCEEDED(in->filter()->OnConnected(in)) && SUCCEEDED(out->filter()->OnConnected(out))) return S_OK;
    out->Disconnect();
  }
  return VFW_E_CANNOT_CONNECT;
}

BasePin* AsBasePin(IPin* pin) { return dynamic_cast<BasePin*>(pin); }

BaseFilter* AsBaseFilter(IBaseFilter* filter) { return dynamic_cast<BaseFilter*>(filter); }

BaseFilter::~BaseFilter() {
  for (auto& pin : pins_) pin->Disconnect();
}

HRESULT BaseFilter::QueryInterface(REFIID riid, void** ppv) {
  HRESULT hr = QueryInterfaceTable(riid, ppv, {{IID_IUnknown, this}, {IID_IBaseFilter, this}});
  if (hr == E_NOINTERFACE) hr = QueryExtraInterface(riid, ppv);
  return hr;
}

HRESULT BaseFilter::QueryExtraInterface(REFIID, void**) { return E_NOINTERFACE; }

HRESULT BaseFilter::EnumPins(IEnumPins** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    std::vector<IPin*> pins;
    for (auto& pin : pins_) pins.push_back(pin.get());
    *out = new PinEnumerator(static_cast<IBaseFilter*>(this), pins);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT BaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  CopyName(name_, info->achName, MAX_FILTER_NAME);
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

HRESULT BaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  graph_ = graph;
  name_ = graph && name ? name : L"";
  return S_OK;
}

HRESULT BaseFilter::CheckInputType(BasePin*, const AM_MEDIA_TYPE&) { return VFW_E_TYPE_NOT_ACCEPTED; }
HRESULT BaseFilter::GetOutputType(BasePin*, int, MediaType*) { return VFW_S_NO_MORE_ITEMS; }
HRESULT BaseFilter::OnConnected(BasePin*) { return S_OK; }
void BaseFilter::OnDisconnected(BasePin*) {}
HRESULT BaseFilter::Receive(BasePin*, const SamplePtr&) { return S_OK; }
HRESULT BaseFilter::EndOfStream(BasePin*) { return S_OK; }
void BaseFilter::Flush(BasePin*, const Segment&) {}
HRESULT BaseFilter::Seek(LONGLONG, LONGLONG) { return E_NOTIMPL; }
HRESULT BaseFilter::GetDuration(LONGLONG*) { return E_NOTIMPL; }

BasePin* BaseFilter::AddPin(PIN_DIRECTION direction, std::wstring name) {
  pins_.push_back(std::make_unique<BasePin>(this, direction, std::move(name)));
  return pins_.back().get();
}

BasePin* BaseFilter::FirstPin(PIN_DIRECTION direction) const {
  for (auto& pin : pins_)
    if (pin->direction() == direction) return pin.get();
  return nullptr;
}

}  // namespace media
