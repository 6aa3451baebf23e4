#include "platform/dshow/sample_renderer_rules.h"

#include <algorithm>
#include <cstdint>

HRESULT SampleRendererRules::SetAcceptedType(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  major_ = type->majortype;
  sub_ = type->subtype;
  format_ = type->formattype;
  return S_OK;
}

HRESULT SampleRendererRules::CheckType(const AM_MEDIA_TYPE& type) const {
  if ((major_ != GUID_NULL && type.majortype != major_) || (sub_ != GUID_NULL && type.subtype != sub_) ||
      (format_ != GUID_NULL && type.formattype != format_))
    return VFW_E_TYPE_NOT_ACCEPTED;
  // The grabber reads the picture's geometry from the header.
  if (type.formattype == FORMAT_VideoInfo && !VideoInfoOf(type)) return VFW_E_INVALIDMEDIATYPE;
  return S_OK;
}

void SampleRendererRules::SetBufferSamples(BOOL buffer) {
  bufferSamples_ = buffer != FALSE;
  if (!bufferSamples_) buffered_ = false;
}

bool SampleRendererRules::Take(bool kept) {
  taken_ = true;
  buffered_ = buffered_ || kept;
  return oneShot_;
}

HRESULT SampleRendererRules::Bound(size_t total, LONG* size, const BYTE* buffer, size_t* n) {
  if (total > static_cast<size_t>(INT32_MAX)) return E_UNEXPECTED;
  if (!buffer) {
    *size = static_cast<LONG>(total);
    return S_OK;
  }
  if (*size < 0) return E_INVALIDARG;
  *n = std::min(total, static_cast<size_t>(*size));
  return S_OK;
}
