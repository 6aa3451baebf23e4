#include "platform/dshow/base_filter.h"

#include <algorithm>
#include <new>

namespace {

// Copies a name into a fixed WCHAR array, cut to fit with its NUL.
void CopyName(const std::wstring& name, WCHAR* out, size_t capacity) {
  size_t n = std::min(name.size(), capacity - 1);
  std::copy_n(name.begin(), n, out);
  out[n] = L'\0';
}

// Answers riid with `object` (not yet referenced) or E_NOINTERFACE.
HRESULT Hand(IUnknown* object, void** ppv) {
  if (!object) return E_NOINTERFACE;
  object->AddRef();
  *ppv = object;
  return S_OK;
}

// Hands out the filter's pins in order; holds the filter, so the pins stay.
class PinEnumerator final : public IEnumPins, public RefCounted {
 public:
  PinEnumerator(BaseFilter* filter, ULONG position) : filter_(ComPtr<BaseFilter>::Share(filter)), position_(position) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return QueryInterfaceTable(riid, ppv, {{IID_IUnknown, this}, {IID_IEnumPins, this}});
  }
  IMPLEMENT_REFCOUNT

  // S_OK when `count` pins were fetched, S_FALSE when fewer; each carries a
  // reference for the caller.
  HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (!pins || (count != 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    for (; n < count && position_ < filter_->PinCount(); ++n, ++position_) {
      pins[n] = filter_->PinAt(position_);
      pins[n]->AddRef();
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    const ULONG pins = filter_->PinCount();
    if (position_ + count > pins) {
      position_ = pins;
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumPins** clone) override {
    if (!clone) return E_POINTER;
    *clone = new (std::nothrow) PinEnumerator(filter_.get(), position_);
    return *clone ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ComPtr<BaseFilter> filter_;
  ULONG position_;
};

}  // namespace

BasePin::BasePin(BaseFilter& filter, PIN_DIRECTION direction, std::wstring name)
    : filter_(filter), direction_(direction), name_(std::move(name)) {}

HRESULT BasePin::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  return Hand(riid == IID_IUnknown || riid == IID_IPin ? static_cast<IPin*>(this) : ExtraInterface(riid), ppv);
}

ULONG BasePin::AddRef() { return filter_.AddRef(); }
ULONG BasePin::Release() { return filter_.Release(); }

HRESULT BasePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = &filter_;
  filter_.AddRef();
  info->dir = direction_;
  CopyName(name_, info->achName, MAX_PIN_NAME);
  return S_OK;
}

HRESULT BasePin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = direction_;
  return S_OK;
}

HRESULT BasePin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = Peer().detach();
  return *pin ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT BasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  MediaType copy;
  HRESULT hr = CopyConnectionType(&copy);
  // The receiver owns the block and the reference now.
  *type = copy.Detach();
  return hr;
}

HRESULT BaseFilter::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  bool base = riid == IID_IUnknown || riid == IID_IBaseFilter;
#ifdef _WIN32
  base = base || riid == IID_IPersist || riid == IID_IMediaFilter;
#endif
  return Hand(base ? static_cast<IBaseFilter*>(this) : ExtraInterface(riid), ppv);
}

HRESULT BaseFilter::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  *pins = new (std::nothrow) PinEnumerator(this, 0);
  return *pins ? S_OK : E_OUTOFMEMORY;
}

HRESULT BaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  std::lock_guard<std::mutex> hold(lock_);
  CopyName(name_, info->achName, MAX_FILTER_NAME);
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

HRESULT BaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  std::lock_guard<std::mutex> hold(lock_);
  graph_ = graph;
  name_ = graph && name ? name : L"";
  return S_OK;
}

ComPtr<IFilterGraph> BaseFilter::Graph() {
  std::lock_guard<std::mutex> hold(lock_);
  return ComPtr<IFilterGraph>::Share(graph_);
}
