#include "platform/windows/seeking_forwarder.h"

HRESULT SeekingForwarder::QueryInterface(REFIID riid, void** ppv) {
  // The forwarder is a face of its filter (or pin); other ids go there.
  if (riid == IID_IMediaSeeking) return QueryInterfaceTable(riid, ppv, {{IID_IMediaSeeking, this}});
  return filter_.QueryInterface(riid, ppv);
}

ComPtr<IMediaSeeking> SeekingForwarder::Upstream() {
  ComPtr<IMediaSeeking> seeking;
  ComPtr<IPin> peer = input_.Peer();
  if (!peer || FAILED(peer->QueryInterface(IID_IMediaSeeking, seeking.put_void()))) return nullptr;
  return seeking;
}

HRESULT SeekingForwarder::GetCapabilities(DWORD* c) {
  return Forward([&](IMediaSeeking* s) { return s->GetCapabilities(c); });
}
HRESULT SeekingForwarder::CheckCapabilities(DWORD* c) {
  return Forward([&](IMediaSeeking* s) { return s->CheckCapabilities(c); });
}
HRESULT SeekingForwarder::IsFormatSupported(const GUID* f) {
  return Forward([&](IMediaSeeking* s) { return s->IsFormatSupported(f); });
}
HRESULT SeekingForwarder::QueryPreferredFormat(GUID* f) {
  return Forward([&](IMediaSeeking* s) { return s->QueryPreferredFormat(f); });
}
HRESULT SeekingForwarder::GetTimeFormat(GUID* f) {
  return Forward([&](IMediaSeeking* s) { return s->GetTimeFormat(f); });
}
HRESULT SeekingForwarder::IsUsingTimeFormat(const GUID* f) {
  return Forward([&](IMediaSeeking* s) { return s->IsUsingTimeFormat(f); });
}
HRESULT SeekingForwarder::SetTimeFormat(const GUID* f) {
  return Forward([&](IMediaSeeking* s) { return s->SetTimeFormat(f); });
}
HRESULT SeekingForwarder::GetDuration(LONGLONG* d) {
  return Forward([&](IMediaSeeking* s) { return s->GetDuration(d); });
}
HRESULT SeekingForwarder::GetStopPosition(LONGLONG* p) {
  return Forward([&](IMediaSeeking* s) { return s->GetStopPosition(p); });
}
HRESULT SeekingForwarder::GetCurrentPosition(LONGLONG* p) {
  return Forward([&](IMediaSeeking* s) { return s->GetCurrentPosition(p); });
}
HRESULT SeekingForwarder::ConvertTimeFormat(LONGLONG* t, const GUID* tf, LONGLONG v, const GUID* sf) {
  return Forward([&](IMediaSeeking* s) { return s->ConvertTimeFormat(t, tf, v, sf); });
}
HRESULT SeekingForwarder::SetPositions(LONGLONG* c, DWORD cf, LONGLONG* p, DWORD pf) {
  return Forward([&](IMediaSeeking* s) { return s->SetPositions(c, cf, p, pf); });
}
HRESULT SeekingForwarder::GetPositions(LONGLONG* c, LONGLONG* p) {
  return Forward([&](IMediaSeeking* s) { return s->GetPositions(c, p); });
}
HRESULT SeekingForwarder::GetAvailable(LONGLONG* e, LONGLONG* l) {
  return Forward([&](IMediaSeeking* s) { return s->GetAvailable(e, l); });
}
HRESULT SeekingForwarder::SetRate(double r) {
  return Forward([&](IMediaSeeking* s) { return s->SetRate(r); });
}
HRESULT SeekingForwarder::GetRate(double* r) {
  return Forward([&](IMediaSeeking* s) { return s->GetRate(r); });
}
HRESULT SeekingForwarder::GetPreroll(LONGLONG* p) {
  return Forward([&](IMediaSeeking* s) { return s->GetPreroll(p); });
}
