// Media types inside the media platform: an owning AM_MEDIA_TYPE and the
// helpers that copy a type out to a caller and read its video header.
#pragma once

#include "platform/dshow/dshow.h"

namespace media {

// Deep-copies src into *dst (format block from the task allocator, pUnk
// referenced). E_OUTOFMEMORY leaves *dst without a format block.
HRESULT CopyMediaTypeTo(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE& src);

// Frees the format block (owned when cbFormat is non-zero) and pUnk.
void FreeMediaTypeContents(AM_MEDIA_TYPE& mt);

// An AM_MEDIA_TYPE that owns its format block and pUnk reference.
class MediaType {
 public:
  MediaType();
  explicit MediaType(const AM_MEDIA_TYPE& src);
  MediaType(const MediaType& other);
  MediaType& operator=(const MediaType& other);
  ~MediaType();

  AM_MEDIA_TYPE& get() { return mt_; }
  const AM_MEDIA_TYPE& get() const { return mt_; }
  AM_MEDIA_TYPE* operator->() { return &mt_; }
  const AM_MEDIA_TYPE* operator->() const { return &mt_; }

  // Replaces the format block with a copy of `size` bytes; false when memory
  // runs out (the type is then left without a block).
  bool SetFormat(const void* block, ULONG size);
  void Clear();

 private:
  AM_MEDIA_TYPE mt_;
};

// The VIDEOINFOHEADER of a FORMAT_VideoInfo type with a block long enough to
// hold one, else null.
const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& mt);

// True when major, sub and format each equal the type's field or are GUID_NULL.
bool TypeMatches(const AM_MEDIA_TYPE& mt, const GUID& major, const GUID& sub, const GUID& format);

}  // namespace media
