// Copying and freeing of media type records, and a media type that owns what
// it holds.
//
// Ownership rule: a media type owns its format block exactly when cbFormat is
// non-zero (the block comes from the task allocator); a non-null pbFormat
// beside a cbFormat of 0 is borrowed and never freed through that record. A
// non-null pUnk is one counted reference that the record owns.
#pragma once

#include "platform/dshow/dshow.h"

// Overwrites *target with a deep copy of *source, without freeing what the
// target held before. A failed allocation of the format block leaves the
// target with cbFormat 0 and pbFormat null, every other field copied and pUnk
// referenced as usual. A borrowed block (cbFormat 0) is shared as it is.
void CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);

// Frees an owned format block and releases pUnk, clearing those fields; the
// GUIDs, flags and sample size stay. Freeing twice changes nothing.
void FreeMediaType(AM_MEDIA_TYPE& type);

// An AM_MEDIA_TYPE that copies deeply when built or assigned and frees when
// destroyed; it passes wherever an AM_MEDIA_TYPE pointer is expected, and its
// GUID fields are written directly.
class MediaTypeHolder : public AM_MEDIA_TYPE {
 public:
  explicit MediaTypeHolder(const AM_MEDIA_TYPE& source);
  MediaTypeHolder(const MediaTypeHolder& source);
  MediaTypeHolder& operator=(const AM_MEDIA_TYPE& source);
  MediaTypeHolder& operator=(const MediaTypeHolder& source);
  ~MediaTypeHolder();
};
