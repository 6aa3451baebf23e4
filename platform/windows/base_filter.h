// The base of the hand-written DirectShow filters: IBaseFilter with its
// state, graph membership and pin enumeration. A filter supplies its pins
// and, where it needs them, hooks for extra interfaces and state changes.
#pragma once

#include <mutex>

#include "platform/dshow/dshow.h"

class BaseFilter : public IBaseFilter, public RefCounted {
 public:
  explicit BaseFilter(REFCLSID clsid);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  IMPLEMENT_REFCOUNT

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
  // The graph is not referenced: it owns the filter.
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;

  // The pins, in enumeration order; they live as long as the filter.
  virtual ULONG PinCount() const = 0;
  virtual IPin* PinAt(ULONG index) = 0;

  FILTER_STATE State();
  // Posts an event to the graph the filter belongs to (EC_COMPLETE from a
  // renderer); nothing happens outside a graph.
  void NotifyGraph(LONG code, LONG_PTR parameter1, LONG_PTR parameter2);

 protected:
  // Interfaces beyond IBaseFilter; the result is not yet referenced.
  virtual IUnknown* ExtraInterface(REFIID riid);
  // Called with the new state once it is set, outside the filter's lock.
  virtual void OnStateChange(FILTER_STATE from, FILTER_STATE to);

 private:
  HRESULT ChangeState(FILTER_STATE to);

  const CLSID clsid_;
  std::mutex lock_;
  FILTER_STATE state_ = State_Stopped;
  IFilterGraph* graph_ = nullptr;
  WCHAR name_[MAX_FILTER_NAME] = {};
  ComPtr<IReferenceClock> clock_;
};
