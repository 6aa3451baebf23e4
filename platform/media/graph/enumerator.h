// The graph's filter enumerator: a snapshot of references taken when the
// enumerator is made, in a stable order.
#pragma once

#include <vector>

#include "platform/dshow/dshow.h"

namespace media {

// `owner` (may be null) is kept alive while the enumerator lives. Items that
// their owner may drop meanwhile are held with a reference each.
template <class Interface, class Item, const IID& kIid>
class SnapshotEnumerator final : public Interface, public RefCounted {
 public:
  SnapshotEnumerator(IUnknown* owner, const std::vector<Item*>& items) : owner_(ComPtr<IUnknown>::Share(owner)) {
    items_.reserve(items.size());
    for (Item* item : items) items_.push_back(ComPtr<Item>::Share(item));
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

using FilterEnumerator = SnapshotEnumerator<IEnumFilters, IBaseFilter, IID_IEnumFilters>;

}  // namespace media
