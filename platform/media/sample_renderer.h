// The sample renderer component: a renderer filter whose input accepts the
// type given to put_MediaType, keeps the last sample it received, and in
// one-shot mode ends its stream after the first sample of each run and of
// each seek.
#pragma once

#include "platform/media/renderer_filter.h"

namespace media {

class SampleRenderer final : public RendererFilter, public ISampleRendererControl {
 public:
  SampleRenderer() = default;

  // IUnknown of both interfaces: one object, one count.
  HRESULT QueryInterface(REFIID riid, void** ppv) override { return BaseFilter::QueryInterface(riid, ppv); }
  ULONG AddRef() override { return BaseFilter::AddRef(); }
  ULONG Release() override { return BaseFilter::Release(); }

  // Stores the major type, subtype and format type to accept (GUID_NULL
  // accepts any); the caller keeps *type.
  HRESULT put_MediaType(AM_MEDIA_TYPE* type) override;
  // The connection's type, owned by the renderer; VFW_E_NOT_CONNECTED with a
  // null *type while unconnected.
  HRESULT get_MediaType(AM_MEDIA_TYPE** type) override;
  HRESULT SetOneShot(BOOL oneShot) override;
  HRESULT SetBufferSamples(BOOL buffer) override;
  // Null buffer: *size becomes the sample's size. Otherwise copies at most
  // *size bytes and stores the number copied. VFW_E_WRONG_STATE before any
  // sample was buffered.
  HRESULT GetCurrentBuffer(LONG* size, BYTE* buffer) override;

  HRESULT CheckInputType(BasePin* in, const AM_MEDIA_TYPE& type) override;
  HRESULT Receive(BasePin* in, const SamplePtr& sample) override;

 protected:
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override;
  void Rearm() override { waiting_ = true; }

 private:
  GUID major_ = GUID_NULL;
  GUID sub_ = GUID_NULL;
  GUID format_ = GUID_NULL;
  bool oneShot_ = false;
  bool bufferSamples_ = false;
  bool waiting_ = true;  // no sample yet since the last run or seek
  SamplePtr buffered_;
};

}  // namespace media
