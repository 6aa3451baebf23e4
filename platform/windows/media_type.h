// Media type records of the Windows filters: a deep copy that owns its
// format block, and the release of records handed out by other components.
#pragma once

#include "platform/dshow/dshow.h"

// An AM_MEDIA_TYPE that owns its format block (task allocator) and pUnk.
class OwnedMediaType : public AM_MEDIA_TYPE {
 public:
  OwnedMediaType();
  OwnedMediaType(const OwnedMediaType&) = delete;
  OwnedMediaType& operator=(const OwnedMediaType&) = delete;
  ~OwnedMediaType();

  // Replaces what it holds with a deep copy of source. E_OUTOFMEMORY when the
  // format block cannot be copied; the record is then empty.
  HRESULT Assign(const AM_MEDIA_TYPE& source);
  void Clear();
  bool Empty() const { return majortype == GUID_NULL; }
  // The VIDEOINFOHEADER of a FORMAT_VideoInfo type whose block holds one
  // whole, or null.
  const VIDEOINFOHEADER* VideoHeader() const;
};

// Frees a record that CoTaskMemAlloc'ed together with its format block, as
// IEnumMediaTypes and IMediaSample::GetMediaType hand them out.
void DeleteMediaType(AM_MEDIA_TYPE* type);
