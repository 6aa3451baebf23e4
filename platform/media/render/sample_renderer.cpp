#include "platform/media/render/sample_renderer.h"

#include <new>

namespace media {

IUnknown* SampleRenderer::ExtraInterface(REFIID riid) {
  return riid == IID_ISampleRendererControl ? static_cast<ISampleRendererControl*>(this) : nullptr;
}

HRESULT SampleRenderer::put_MediaType(AM_MEDIA_TYPE* type) { return rules_.SetAcceptedType(type); }

HRESULT SampleRenderer::get_MediaType(AM_MEDIA_TYPE** type) {
  if (!type) return E_POINTER;
  if (!input()->connected()) {
    *type = nullptr;
    return VFW_E_NOT_CONNECTED;
  }
  // The pin's own copy: valid until the pin is disconnected.
  *type = const_cast<MediaType*>(&input()->type());
  return S_OK;
}

HRESULT SampleRenderer::SetOneShot(BOOL oneShot) {
  rules_.SetOneShot(oneShot);
  return S_OK;
}

HRESULT SampleRenderer::SetBufferSamples(BOOL buffer) {
  rules_.SetBufferSamples(buffer);
  if (!rules_.Keeps()) buffered_.reset();
  return S_OK;
}

HRESULT SampleRenderer::GetCurrentBuffer(LONG* size, BYTE* buffer) {
  auto count = [this](size_t* n) {
    try {
      *n = buffered_->size();  // packs a decoded picture on first use
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  };
  // A converted picture is drawn straight into the caller's memory.
  auto copy = [this](BYTE* out, size_t n) {
    try {
      return buffered_->CopyTo(out, n) ? S_OK : E_FAIL;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  };
  return rules_.GetCurrentBuffer(size, buffer, count, copy);
}

HRESULT SampleRenderer::GetBufferedTime(LONGLONG* time) {
  if (!time) return E_POINTER;
  if (!buffered_) return VFW_E_WRONG_STATE;
  if (buffered_->time() == kNoTime) return E_FAIL;
  *time = buffered_->time();
  return S_OK;
}

HRESULT SampleRenderer::CheckInputType(Pin*, const AM_MEDIA_TYPE& type) { return rules_.CheckType(type); }

HRESULT SampleRenderer::Receive(Pin*, const SamplePtr& sample) {
  if (!rules_.Wants()) return S_OK;
  if (rules_.Keeps()) buffered_ = sample;
  if (rules_.Take(rules_.Keeps())) SetEndOfStream();
  return S_OK;
}

}  // namespace media
