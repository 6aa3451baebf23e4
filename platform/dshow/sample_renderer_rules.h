// The sample renderer component's rules, the same on every platform: which
// connection types its input takes, which samples it takes and keeps, when
// its stream ends and how the kept sample is read back. Each platform's
// renderer holds one and adds only the storage of the sample and the way its
// graph learns of the end of the stream. Not locked: a renderer whose
// samples arrive on another thread guards it with its own lock.
#pragma once

#include <cstddef>

#include "platform/dshow/media_type.h"

class SampleRendererRules {
 public:
  // put_MediaType: the major type, subtype and format type to accept. A
  // GUID_NULL field accepts any value there, and until the first call every
  // type is accepted, as the system's sample grabber does. The caller keeps
  // *type.
  HRESULT SetAcceptedType(const AM_MEDIA_TYPE* type);
  // S_OK for a type the input takes; VFW_E_TYPE_NOT_ACCEPTED outside the
  // accepted one, VFW_E_INVALIDMEDIATYPE for a video info type whose format
  // block does not hold its header.
  HRESULT CheckType(const AM_MEDIA_TYPE& type) const;

  void SetOneShot(BOOL oneShot) { oneShot_ = oneShot != FALSE; }
  // Turning buffering off forgets the sample kept so far.
  void SetBufferSamples(BOOL buffer);

  // Whether a sample arriving now is taken: in one-shot mode only the first
  // one after each run or seek.
  bool Wants() const { return !(oneShot_ && taken_); }
  // Whether a taken sample is to be kept for GetCurrentBuffer.
  bool Keeps() const { return bufferSamples_; }
  // Records a taken sample, `kept` when the renderer stored it; true when
  // that ends the stream (one-shot mode).
  bool Take(bool kept);
  // A sample was taken since the last run or seek.
  bool Taken() const { return taken_; }
  // A run or a seek: the next sample is the picture to take.
  void Rearm() { taken_ = false; }

  // GetCurrentBuffer: with a null buffer stores the kept sample's size in
  // *size, else copies at most *size bytes and stores the number copied.
  // VFW_E_WRONG_STATE while nothing is kept. `count(&n)` gives the kept
  // sample's size and `copy(buffer, n)` copies its first n bytes; they are
  // asked only when there is one.
  template <class Count, class Copy>
  HRESULT GetCurrentBuffer(LONG* size, BYTE* buffer, Count count, Copy copy) const {
    if (!size) return E_POINTER;
    if (!buffered_) return VFW_E_WRONG_STATE;
    size_t total = 0;
    HRESULT hr = count(&total);
    if (FAILED(hr)) return hr;
    size_t n = 0;
    hr = Bound(total, size, buffer, &n);
    if (hr != S_OK || !buffer) return hr;
    if (n) {
      hr = copy(buffer, n);
      if (FAILED(hr)) return hr;
    }
    *size = static_cast<LONG>(n);
    return S_OK;
  }

 private:
  // How many of `total` bytes a copy into buffer takes (*n); with a null
  // buffer, *size is set to total instead. S_OK or the call's failure.
  static HRESULT Bound(size_t total, LONG* size, const BYTE* buffer, size_t* n);

  GUID major_ = GUID_NULL;
  GUID sub_ = GUID_NULL;
  GUID format_ = GUID_NULL;
  bool oneShot_ = false;
  bool bufferSamples_ = false;
  bool taken_ = false;
  bool buffered_ = false;
};
