// The enumerators the graph and its filters hand out: a snapshot of
// references taken when the enumerator is made, in a stable order.
#pragma once

#include <vector>

#include "platform/dshow/dshow.h"

namespace media {

// `owner` (may be null) is kept alive while the enumerator lives. Items that
// their owner may drop meanwhile (a graph's filters) are held with a
// reference each; items the owner holds for its whole life (a filter's pins)
// are not, so the enumerator counts once on its owner, as DirectShow's do.
template <class Interface, class Item, const IID& kIid, bool kHoldItems>
class SnapshotEnumerator final : public Interface, public RefCounted {
 public:
  SnapshotEnumerator(IUnknown* owner, const std::vector<Item*>& items) : owner_(ComPtr<IUnknown>::Share(owner)) {
    items_.reserve(items.size());
    for (Item* item : items) items_.push_back(kHoldItems ? ComPtr<Item>::Share(item) : ComPtr<Item>::Adopt(item));
  }
  ~SnapshotEnumerator() override {
    if (!kHoldItems)
      for (auto& item : items_) item.detach();
  }

  IMPLEMENT_REFCOUNT
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return QueryInterfaceTable(riid, ppv, {{IID_IUnknown, this}, {kIid, this}});
  }

  // S_OK when `count` items were fetched, S_FALSE when fewer; each carries a
  // reference for the caller.
  HRESULT Next(ULONG count, Item** out, ULONG* fetched) override {
    if (!out || (!fetched && count != 1)) return E_POINTER;
    ULONG n = 0;
    while (n < count && next_ < items_.size()) {
      out[n] = items_[next_++].get();
      out[n]->AddRef();
      ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    next_ = 0;
    return S_OK;
  }

 private:
  ComPtr<IUnknown> owner_;
  std::vector<ComPtr<Item>> items_;
  size_t next_ = 0;
};

using PinEnumerator = SnapshotEnumerator<IEnumPins, IPin, IID_IEnumPins, false>;
using FilterEnumerator = SnapshotEnumerator<IEnumFilters, IBaseFilter, IID_IEnumFilters, true>;

}  // namespace media
