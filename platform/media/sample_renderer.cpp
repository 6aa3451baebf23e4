#include "platform/media/sample_renderer.h"

#include <algorithm>
#include <new>
#include <cstring>

namespace media {

HRESULT SampleRenderer::QueryExtraInterface(REFIID riid, void** ppv) {
  return QueryInterfaceTable(riid, ppv, {{IID_ISampleRendererControl, static_cast<ISampleRendererControl*>(this)}});
}

HRESULT SampleRenderer::put_MediaType(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  major_ = type->majortype;
  sub_ = type->subtype;
  format_ = type->formattype;
  return S_OK;
}

HRESULT SampleRenderer::get_MediaType(AM_MEDIA_TYPE** type) {
  if (!type) return E_POINTER;
  if (!input()->connected()) {
    *type = nullptr;
    return VFW_E_NOT_CONNECTED;
  }
  // The pin's own copy: valid until the pin is disconnected.
  *type = const_cast<AM_MEDIA_TYPE*>(&input()->type().get());
  return S_OK;
}

HRESULT SampleRenderer::SetOneShot(BOOL oneShot) {
  oneShot_ = oneShot != FALSE;
  return S_OK;
}

HRESULT SampleRenderer::SetBufferSamples(BOOL buffer) {
  bufferSamples_ = buffer != FALSE;
  if (!bufferSamples_) buffered_.reset();
  return S_OK;
}

HRESULT SampleRenderer::GetCurrentBuffer(LONG* size, BYTE* buffer) {
  if (!size) return E_POINTER;
  if (!buffered_) return VFW_E_WRONG_STATE;
  size_t have;
  try {
    have = buffered_->size();  // packs a picture on first use
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (have > static_cast<size_t>(INT32_MAX)) return E_UNEXPECTED;
  if (!buffer) {
    *size = static_cast<LONG>(have);
    return S_OK;
  }
  if (*size < 0) return E_INVALIDARG;
  size_t n = std::min(have, static_cast<size_t>(*size));
  if (n) std::memcpy(buffer, buffered_->data(), n);
  *size = static_cast<LONG>(n);
  return S_OK;
}

HRESULT SampleRenderer::CheckInputType(BasePin*, const AM_MEDIA_TYPE& type) {
  if (!TypeMatches(type, major_, sub_, format_)) return VFW_E_TYPE_NOT_ACCEPTED;
  if (type.formattype == FORMAT_VideoInfo && !VideoInfoOf(type)) return VFW_E_INVALIDMEDIATYPE;
  return S_OK;
}

HRESULT SampleRenderer::Receive(BasePin*, const SamplePtr& sample) {
  if (oneShot_ && !waiting_) return S_OK;
  waiting_ = false;
  if (bufferSamples_) buffered_ = sample;
  if (oneShot_) SetEndOfStream();
  return S_OK;
}

}  // namespace media
