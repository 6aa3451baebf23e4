// The sample renderer component: a renderer filter that follows the shared
// sample renderer rules (what its input accepts, one-shot, the kept sample)
// and keeps the sample it takes as it came, packing a picture only when it
// is read.
#pragma once

#include "platform/dshow/sample_renderer_rules.h"
#include "platform/media/render/renderer_filter.h"

namespace media {

class SampleRenderer final : public RendererFilter, public ISampleRendererControl {
 public:
  SampleRenderer() = default;

  // IUnknown of both interfaces: one object, one count.
  HRESULT QueryInterface(REFIID riid, void** ppv) override { return Filter::QueryInterface(riid, ppv); }
  ULONG AddRef() override { return Filter::AddRef(); }
  ULONG Release() override { return Filter::Release(); }

  HRESULT put_MediaType(AM_MEDIA_TYPE* type) override;
  // The connection's type, owned by the renderer; VFW_E_NOT_CONNECTED with a
  // null *type while unconnected.
  HRESULT get_MediaType(AM_MEDIA_TYPE** type) override;
  HRESULT SetOneShot(BOOL oneShot) override;
  HRESULT SetBufferSamples(BOOL buffer) override;
  HRESULT GetCurrentBuffer(LONG* size, BYTE* buffer) override;
  HRESULT GetBufferedTime(LONGLONG* time) override;

  HRESULT CheckInputType(Pin* in, const AM_MEDIA_TYPE& type) override;
  HRESULT Receive(Pin* in, const SamplePtr& sample) override;

 protected:
  IUnknown* ExtraInterface(REFIID riid) override;
  void Rearm() override { rules_.Rearm(); }

 private:
  SampleRendererRules rules_;
  SamplePtr buffered_;
};

}  // namespace media
