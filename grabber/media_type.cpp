#include "grabber/media_type.h"

#include <cstring>

void CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  *target = *source;
  if (source->cbFormat != 0) {
    // A record that claims a block it does not have is copied as one without.
    BYTE* block = source->pbFormat ? static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat)) : nullptr;
    target->pbFormat = block;
    if (block)
      std::memcpy(block, source->pbFormat, source->cbFormat);
    else
      target->cbFormat = 0;
  }
  if (target->pUnk) target->pUnk->AddRef();
}

void FreeMediaType(AM_MEDIA_TYPE& type) {
  if (type.cbFormat != 0) {
    CoTaskMemFree(type.pbFormat);
    type.cbFormat = 0;
    type.pbFormat = nullptr;
  }
  SafeRelease(type.pUnk);
}

MediaTypeHolder::MediaTypeHolder(const AM_MEDIA_TYPE& source) : AM_MEDIA_TYPE() { CopyMediaType(this, &source); }

MediaTypeHolder::MediaTypeHolder(const MediaTypeHolder& source) : MediaTypeHolder(static_cast<const AM_MEDIA_TYPE&>(source)) {}

MediaTypeHolder& MediaTypeHolder::operator=(const AM_MEDIA_TYPE& source) {
  // Freeing first would free the very block that is about to be copied.
  if (&source == this) return *this;
  FreeMediaType(*this);
  CopyMediaType(this, &source);
  return *this;
}

MediaTypeHolder& MediaTypeHolder::operator=(const MediaTypeHolder& source) {
  return *this = static_cast<const AM_MEDIA_TYPE&>(source);
}

MediaTypeHolder::~MediaTypeHolder() { FreeMediaType(*this); }
