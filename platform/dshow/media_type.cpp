#include "platform/dshow/media_type.h"

#include <cstring>

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  *target = *source;
  HRESULT hr = S_OK;
  if (source->cbFormat != 0) {
    // A record that claims a block it does not have is copied as one without.
    BYTE* block = source->pbFormat ? static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat)) : nullptr;
    target->pbFormat = block;
    if (block) {
      std::memcpy(block, source->pbFormat, source->cbFormat);
    } else {
      target->cbFormat = 0;
      if (source->pbFormat) hr = E_OUTOFMEMORY;
    }
  }
  if (target->pUnk) target->pUnk->AddRef();
  return hr;
}

void FreeMediaType(AM_MEDIA_TYPE& type) {
  if (type.cbFormat != 0) {
    CoTaskMemFree(type.pbFormat);
    type.cbFormat = 0;
    type.pbFormat = nullptr;
  }
  SafeRelease(type.pUnk);
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return;
  FreeMediaType(*type);
  CoTaskMemFree(type);
}

MediaType::MediaType() : AM_MEDIA_TYPE() {}

MediaType::MediaType(const AM_MEDIA_TYPE& source) : AM_MEDIA_TYPE() { CopyMediaType(this, &source); }

MediaType::MediaType(const MediaType& source) : MediaType(static_cast<const AM_MEDIA_TYPE&>(source)) {}

MediaType& MediaType::operator=(const AM_MEDIA_TYPE& source) {
  Assign(source);
  return *this;
}

MediaType& MediaType::operator=(const MediaType& source) { return *this = static_cast<const AM_MEDIA_TYPE&>(source); }

MediaType::~MediaType() { FreeMediaType(*this); }

HRESULT MediaType::Assign(const AM_MEDIA_TYPE& source) {
  // Freeing first would free the very block that is about to be copied.
  if (&source == this) return S_OK;
  FreeMediaType(*this);
  return CopyMediaType(this, &source);
}

bool MediaType::SetFormat(const void* block, ULONG size) {
  if (cbFormat != 0) CoTaskMemFree(pbFormat);
  cbFormat = 0;
  pbFormat = nullptr;
  if (size == 0) return true;
  pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(size));
  if (!pbFormat) return false;
  std::memcpy(pbFormat, block, size);
  cbFormat = size;
  return true;
}

void MediaType::Clear() {
  FreeMediaType(*this);
  static_cast<AM_MEDIA_TYPE&>(*this) = AM_MEDIA_TYPE();
}

AM_MEDIA_TYPE MediaType::Detach() {
  AM_MEDIA_TYPE fields = *this;
  static_cast<AM_MEDIA_TYPE&>(*this) = AM_MEDIA_TYPE();
  return fields;
}

const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& type) {
  if (type.formattype != FORMAT_VideoInfo || !type.pbFormat || type.cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
}
