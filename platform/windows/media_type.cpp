#include "platform/windows/media_type.h"

#include <cstring>

OwnedMediaType::OwnedMediaType() : AM_MEDIA_TYPE() {}

OwnedMediaType::~OwnedMediaType() { Clear(); }

HRESULT OwnedMediaType::Assign(const AM_MEDIA_TYPE& source) {
  if (&source == this) return S_OK;
  Clear();
  BYTE* block = nullptr;
  if (source.cbFormat != 0 && source.pbFormat) {
    block = static_cast<BYTE*>(CoTaskMemAlloc(source.cbFormat));
    if (!block) return E_OUTOFMEMORY;
    std::memcpy(block, source.pbFormat, source.cbFormat);
  }
  static_cast<AM_MEDIA_TYPE&>(*this) = source;
  pbFormat = block;
  cbFormat = block ? source.cbFormat : 0;
  if (pUnk) pUnk->AddRef();
  return S_OK;
}

void OwnedMediaType::Clear() {
  CoTaskMemFree(pbFormat);
  SafeRelease(pUnk);
  static_cast<AM_MEDIA_TYPE&>(*this) = AM_MEDIA_TYPE();
}

const VIDEOINFOHEADER* OwnedMediaType::VideoHeader() const {
  if (formattype != FORMAT_VideoInfo || !pbFormat || cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(pbFormat);
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return;
  CoTaskMemFree(type->pbFormat);
  SafeRelease(type->pUnk);
  CoTaskMemFree(type);
}
