// One batch of interface references fetched by a single enumerator call into a
// fixed array. Entries that are still in the batch when it goes are released,
// so every way out of a graph walk gives back what the enumerator handed out.
#pragma once

#include <utility>

#include "platform/dshow/dshow.h"

template <class T, ULONG N>
class InterfaceBatch {
 public:
  InterfaceBatch() = default;
  InterfaceBatch(const InterfaceBatch&) = delete;
  InterfaceBatch& operator=(const InterfaceBatch&) = delete;
  ~InterfaceBatch() {
    for (T*& item : items_) SafeRelease(item);
  }

  // One Next call asking for N entries; what lies beyond them is never seen.
  template <class Enumerator>
  HRESULT Fetch(Enumerator* enumerator) {
    return enumerator->Next(N, items_, &fetched_);
  }

  // The number of valid entries, never more than the array holds.
  ULONG size() const { return fetched_ < N ? fetched_ : N; }

  // Hands entry i's reference to the caller.
  ComPtr<T> Take(ULONG i) { return ComPtr<T>::Adopt(std::exchange(items_[i], nullptr)); }

 private:
  T* items_[N] = {};
  ULONG fetched_ = 0;
};

// How fetching a filter's pins went.
enum class PinFetch { kFetched, kNoEnumerator, kNextFailed };

// Fills the batch with the filter's first N pins: one EnumPins call, one Next
// call. The enumerator is released before returning; the pins stay in the
// batch.
template <ULONG N>
PinFetch FetchPins(IBaseFilter* filter, InterfaceBatch<IPin, N>& pins) {
  ComPtr<IEnumPins> pinEnum;
  if (!filter || FAILED(filter->EnumPins(pinEnum.put())) || !pinEnum) return PinFetch::kNoEnumerator;
  return FAILED(pins.Fetch(pinEnum.get())) ? PinFetch::kNextFailed : PinFetch::kFetched;
}
