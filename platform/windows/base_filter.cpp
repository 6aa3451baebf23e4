#include "platform/windows/base_filter.h"

#include <cwchar>

namespace {

// Hands out the filter's pins in order; holds the filter, so the pins stay.
class PinEnumerator final : public IEnumPins, public RefCounted {
 public:
  PinEnumerator(BaseFilter* filter, ULONG position) : filter_(ComPtr<BaseFilter>::Share(filter)), position_(position) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return QueryInterfaceTable(riid, ppv, {{IID_IUnknown, this}, {IID_IEnumPins, this}});
  }
  IMPLEMENT_REFCOUNT

  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (!pins || (count != 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    for (; n < count && position_ < filter_->PinCount(); ++n, ++position_) {
      pins[n] = filter_->PinAt(position_);
      pins[n]->AddRef();
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const ULONG pins = filter_->PinCount();
    if (position_ + count > pins) {
      position_ = pins;
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins** clone) override {
    if (!clone) return E_POINTER;
    *clone = new (std::nothrow) PinEnumerator(filter_.get(), position_);
    return *clone ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ComPtr<BaseFilter> filter_;
  ULONG position_;
};

}  // namespace

BaseFilter::BaseFilter(REFCLSID clsid) : clsid_(clsid) {}

HRESULT BaseFilter::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IUnknown* object = nullptr;
  if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter || riid == IID_IBaseFilter)
    object = static_cast<IBaseFilter*>(this);
  else
    object = ExtraInterface(riid);
  if (!object) return E_NOINTERFACE;
  object->AddRef();
  *ppv = object;
  return S_OK;
}

HRESULT BaseFilter::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

HRESULT BaseFilter::ChangeState(FILTER_STATE to) {
  FILTER_STATE from;
  {
    std::lock_guard<std::mutex> hold(lock_);
    from = state_;
    state_ = to;
  }
  if (from != to) OnStateChange(from, to);
  return S_OK;
}

HRESULT BaseFilter::Stop() { return ChangeState(State_Stopped); }
HRESULT BaseFilter::Pause() { return ChangeState(State_Paused); }
HRESULT BaseFilter::Run(REFERENCE_TIME) { return ChangeState(State_Running); }

HRESULT BaseFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  // No pause waits for data: the filters hold no frame back.
  *state = State();
  return S_OK;
}

FILTER_STATE BaseFilter::State() {
  std::lock_guard<std::mutex> hold(lock_);
  return state_;
}

HRESULT BaseFilter::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard<std::mutex> hold(lock_);
  clock_ = ComPtr<IReferenceClock>::Share(clock);
  return S_OK;
}

HRESULT BaseFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  std::lock_guard<std::mutex> hold(lock_);
  *clock = clock_.get();
  if (*clock) (*clock)->AddRef();
  return S_OK;
}

HRESULT BaseFilter::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  *pins = new (std::nothrow) PinEnumerator(this, 0);
  return *pins ? S_OK : E_OUTOFMEMORY;
}

HRESULT BaseFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  *pin = nullptr;
  for (ULONG i = 0; i < PinCount(); ++i) {
    LPWSTR pinId = nullptr;
    if (FAILED(PinAt(i)->QueryId(&pinId))) continue;
    const bool same = std::wcscmp(pinId, id) == 0;
    CoTaskMemFree(pinId);
    if (same) {
      *pin = PinAt(i);
      (*pin)->AddRef();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

HRESULT BaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  std::lock_guard<std::mutex> hold(lock_);
  std::wmemcpy(info->achName, name_, MAX_FILTER_NAME);
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

HRESULT BaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  std::lock_guard<std::mutex> hold(lock_);
  graph_ = graph;
  name_[0] = 0;
  if (name) {
    std::wcsncpy(name_, name, MAX_FILTER_NAME - 1);
    name_[MAX_FILTER_NAME - 1] = 0;
  }
  return S_OK;
}

HRESULT BaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

void BaseFilter::NotifyGraph(LONG code, LONG_PTR parameter1, LONG_PTR parameter2) {
  ComPtr<IMediaEventSink> sink;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!graph_ || FAILED(graph_->QueryInterface(IID_IMediaEventSink, sink.put_void()))) return;
  }
  // Outside the lock: the graph may call back into the filter.
  sink->Notify(code, parameter1, parameter2);
}

IUnknown* BaseFilter::ExtraInterface(REFIID) { return nullptr; }
void BaseFilter::OnStateChange(FILTER_STATE, FILTER_STATE) {}
