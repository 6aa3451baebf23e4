// The Windows half of the hand-written DirectShow filters, on the shared
// base filter: the class id, the filter states with the hook that follows
// them, the reference clock, pins found by id, and events posted to the
// graph.
#pragma once

#include <mutex>

#include "platform/dshow/base_filter.h"

class MediaFilter : public BaseFilter {
 public:
  explicit MediaFilter(REFCLSID clsid);

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;

  FILTER_STATE State();
  // Posts an event to the graph the filter belongs to (EC_COMPLETE from a
  // renderer); nothing happens outside a graph.
  void NotifyGraph(LONG code, LONG_PTR parameter1, LONG_PTR parameter2);

 protected:
  // Called with the new state once it is set, outside the filter's lock.
  virtual void OnStateChange(FILTER_STATE from, FILTER_STATE to);

 private:
  HRESULT ChangeState(FILTER_STATE to);

  const CLSID clsid_;
  std::mutex lock_;
  FILTER_STATE state_ = State_Stopped;
  ComPtr<IReferenceClock> clock_;
};
