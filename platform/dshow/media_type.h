// The media type record of every filter, renderer and grabber step, and the
// one rule by which it owns what it points to.
//
// Ownership rule: a record owns its format block exactly when cbFormat is
// non-zero (the block comes from the task allocator); a non-null pbFormat
// beside a cbFormat of 0 is borrowed and never freed through that record. A
// non-null pUnk is one counted reference that the record owns. A copy whose
// block cannot be allocated still copies everything else, pUnk referenced,
// and has no block (cbFormat 0, pbFormat null): it is a whole record that
// frees correctly, and the copy reports E_OUTOFMEMORY.
#pragma once

#include "platform/dshow/dshow.h"

// Overwrites *target with a deep copy of *source, without freeing what the
// target held before. A borrowed block is shared as it is.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);

// Frees an owned format block and releases pUnk, clearing those fields; the
// GUIDs, flags and sample size stay. Freeing twice changes nothing.
void FreeMediaType(AM_MEDIA_TYPE& type);

// Frees a record that was itself allocated from the task allocator, as
// IEnumMediaTypes and IMediaSample::GetMediaType hand them out.
void DeleteMediaType(AM_MEDIA_TYPE* type);

// An AM_MEDIA_TYPE that copies deeply when built or assigned and frees when
// destroyed; it passes wherever an AM_MEDIA_TYPE is expected, and its fields
// are written directly.
class MediaType : public AM_MEDIA_TYPE {
 public:
  MediaType();
  explicit MediaType(const AM_MEDIA_TYPE& source);
  MediaType(const MediaType& source);
  MediaType& operator=(const AM_MEDIA_TYPE& source);
  MediaType& operator=(const MediaType& source);
  ~MediaType();

  // Replaces what it holds with a copy of source; E_OUTOFMEMORY leaves the
  // copy without a format block.
  HRESULT Assign(const AM_MEDIA_TYPE& source);
  // Replaces the format block with a copy of `size` bytes; false when memory
  // runs out (the type is then left without a block).
  bool SetFormat(const void* block, ULONG size);
  // Frees what it holds and zeroes every field.
  void Clear();
  bool Empty() const { return majortype == GUID_NULL; }
  // Hands the fields, with the block and the reference, to the caller; the
  // record is left empty.
  AM_MEDIA_TYPE Detach();
};

// The VIDEOINFOHEADER of a FORMAT_VideoInfo type whose block holds one whole,
// else null.
const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& type);
