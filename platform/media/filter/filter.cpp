#include "platform/media/filter/filter.h"

namespace media {

Pin::Pin(Filter* filter, PIN_DIRECTION direction, std::wstring name) : BasePin(*filter, direction, std::move(name)) {}

Filter* Pin::filter() const { return static_cast<Filter*>(&filter_); }

IUnknown* Pin::ExtraInterface(REFIID riid) { return filter()->PinInterface(this, riid); }

ComPtr<IPin> Pin::Peer() { return ComPtr<IPin>::Share(peer_); }

HRESULT Pin::CopyConnectionType(MediaType* type) {
  if (!peer_) return VFW_E_NOT_CONNECTED;
  return type->Assign(type_);
}

HRESULT Pin::Deliver(const SamplePtr& sample) {
  if (!peer_) return S_OK;
  return peer_->filter()->Receive(peer_, sample);
}

HRESULT Pin::DeliverEndOfStream() { return peer_ ? peer_->filter()->EndOfStream(peer_) : S_OK; }

void Pin::DeliverFlush(const Segment& segment) {
  if (peer_) peer_->filter()->Flush(peer_, segment);
}

HRESULT Pin::Disconnect() {
  Pin* peer = peer_;
  if (!peer) return S_FALSE;
  peer_ = nullptr;
  peer->peer_ = nullptr;
  type_.Clear();
  peer->type_.Clear();
  filter()->OnDisconnected(this);
  peer->filter()->OnDisconnected(peer);
  return S_OK;
}

HRESULT ConnectPins(Pin* out, Pin* in) {
  if (!out || !in) return E_POINTER;
  if (out->direction() != PINDIR_OUTPUT || in->direction() != PINDIR_INPUT) return E_INVALIDARG;
  if (out->connected() || in->connected()) return VFW_E_ALREADY_CONNECTED;
  if (out->filter() == in->filter()) return VFW_E_CANNOT_CONNECT;
  MediaType type;
  HRESULT refused = VFW_E_CANNOT_CONNECT;
  for (int i = 0; out->filter()->GetOutputType(out, i, &type) == S_OK; ++i) {
    if (in->filter()->CheckInputType(in, type) != S_OK) continue;
    out->peer_ = in;
    in->peer_ = out;
    out->type_ = type;
    in->type_ = type;
    HRESULT hr = in->filter()->OnConnected(in);
    if (SUCCEEDED(hr)) hr = out->filter()->OnConnected(out);
    if (SUCCEEDED(hr)) return S_OK;
    // The filter's own reason (a picture too large, say) tells the user
    // more than that the pins did not connect.
    refused = hr;
    out->Disconnect();
  }
  return refused;
}

Pin* AsPin(IPin* pin) { return dynamic_cast<Pin*>(pin); }

Filter* AsFilter(IBaseFilter* filter) { return dynamic_cast<Filter*>(filter); }

Filter::~Filter() {
  for (auto& pin : pins_) pin->Disconnect();
}

HRESULT Filter::CheckInputType(Pin*, const AM_MEDIA_TYPE&) { return VFW_E_TYPE_NOT_ACCEPTED; }
HRESULT Filter::GetOutputType(Pin*, int, MediaType*) { return VFW_S_NO_MORE_ITEMS; }
HRESULT Filter::OnConnected(Pin*) { return S_OK; }
void Filter::OnDisconnected(Pin*) {}
IUnknown* Filter::PinInterface(Pin*, REFIID) { return nullptr; }
HRESULT Filter::Receive(Pin*, const SamplePtr&) { return S_OK; }
HRESULT Filter::EndOfStream(Pin*) { return S_OK; }
void Filter::Flush(Pin*, const Segment&) {}
HRESULT Filter::Seek(LONGLONG, LONGLONG, bool) { return E_NOTIMPL; }
HRESULT Filter::GetDuration(LONGLONG*) { return E_NOTIMPL; }

Pin* Filter::AddPin(PIN_DIRECTION direction, std::wstring name) {
  pins_.push_back(std::make_unique<Pin>(this, direction, std::move(name)));
  return pins_.back().get();
}

}  // namespace media
