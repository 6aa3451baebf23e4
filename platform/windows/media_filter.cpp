#include "platform/windows/media_filter.h"

MediaFilter::MediaFilter(REFCLSID clsid) : clsid_(clsid) {}

HRESULT MediaFilter::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

HRESULT MediaFilter::ChangeState(FILTER_STATE to) {
  FILTER_STATE from;
  {
    std::lock_guard<std::mutex> hold(lock_);
    from = state_;
    state_ = to;
  }
  if (from != to) OnStateChange(from, to);
  return S_OK;
}

HRESULT MediaFilter::Stop() { return ChangeState(State_Stopped); }
HRESULT MediaFilter::Pause() { return ChangeState(State_Paused); }
HRESULT MediaFilter::Run(REFERENCE_TIME) { return ChangeState(State_Running); }

HRESULT MediaFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  // No pause waits for data: the filters hold no frame back.
  *state = State();
  return S_OK;
}

FILTER_STATE MediaFilter::State() {
  std::lock_guard<std::mutex> hold(lock_);
  return state_;
}

HRESULT MediaFilter::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard<std::mutex> hold(lock_);
  clock_ = ComPtr<IReferenceClock>::Share(clock);
  return S_OK;
}

HRESULT MediaFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  std::lock_guard<std::mutex> hold(lock_);
  *clock = clock_.get();
  if (*clock) (*clock)->AddRef();
  return S_OK;
}

// A pin's id is its name.
HRESULT MediaFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  *pin = nullptr;
  for (ULONG i = 0; i < PinCount(); ++i) {
    if (PinAt(i)->name() != id) continue;
    *pin = PinAt(i);
    (*pin)->AddRef();
    return S_OK;
  }
  return VFW_E_NOT_FOUND;
}

HRESULT MediaFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

void MediaFilter::NotifyGraph(LONG code, LONG_PTR parameter1, LONG_PTR parameter2) {
  ComPtr<IFilterGraph> graph = Graph();
  ComPtr<IMediaEventSink> sink;
  if (!graph || FAILED(graph->QueryInterface(IID_IMediaEventSink, sink.put_void()))) return;
  // Outside any lock: the graph may call back into the filter.
  sink->Notify(code, parameter1, parameter2);
}

void MediaFilter::OnStateChange(FILTER_STATE, FILTER_STATE) {}
