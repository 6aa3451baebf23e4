#include "platform/media/media_type.h"

#include <cstring>

namespace media {

HRESULT CopyMediaTypeTo(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE& src) {
  *dst = src;
  dst->cbFormat = 0;
  dst->pbFormat = nullptr;
  if (src.cbFormat != 0 && src.pbFormat) {
    dst->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src.cbFormat));
    if (!dst->pbFormat) {
      dst->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(dst->pbFormat, src.pbFormat, src.cbFormat);
    dst->cbFormat = src.cbFormat;
  }
  if (dst->pUnk) dst->pUnk->AddRef();
  return S_OK;
}

void FreeMediaTypeContents(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat != 0) {
    CoTaskMemFree(mt.pbFormat);
    mt.cbFormat = 0;
    mt.pbFormat = nullptr;
  }
  if (mt.pUnk) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

MediaType::MediaType() : mt_{} {}

MediaType::MediaType(const AM_MEDIA_TYPE& src) : mt_{} { CopyMediaTypeTo(&mt_, src); }

MediaType::MediaType(const MediaType& other) : MediaType(other.mt_) {}

MediaType& MediaType::operator=(const MediaType& other) {
  if (this != &other) {
    FreeMediaTypeContents(mt_);
    CopyMediaTypeTo(&mt_, other.mt_);
  }
  return *this;
}

MediaType::~MediaType() { FreeMediaTypeContents(mt_); }

bool MediaType::SetFormat(const void* block, ULONG size) {
  if (mt_.cbFormat != 0) CoTaskMemFree(mt_.pbFormat);
  mt_.cbFormat = 0;
  mt_.pbFormat = nullptr;
  if (size == 0) return true;
  mt_.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(size));
  if (!mt_.pbFormat) return false;
  std::memcpy(mt_.pbFormat, block, size);
  mt_.cbFormat = size;
  return true;
}

void MediaType::Clear() {
  FreeMediaTypeContents(mt_);
  mt_ = AM_MEDIA_TYPE{};
}

const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype != FORMAT_VideoInfo || !mt.pbFormat || mt.cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

bool TypeMatches(const AM_MEDIA_TYPE& mt, const GUID& major, const GUID& sub, const GUID& format) {
  return (major == GUID_NULL || mt.majortype == major) && (sub == GUID_NULL || mt.subtype == sub) &&
         (format == GUID_NULL || mt.formattype == format);
}

}  // namespace media
