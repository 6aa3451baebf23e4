// IMediaSeeking passed upstream: every call goes to the seeking interface of
// the pin that feeds the given input pin, as a renderer or a converter lets
// the graph seek the source through it. Lives inside its filter.
#pragma once

#include "platform/windows/base_pins.h"

class SeekingForwarder : public IMediaSeeking {
 public:
  SeekingForwarder(BaseFilter& filter, BasePin& input) : filter_(filter), input_(input) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return filter_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return filter_.Release(); }

  HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capabilities) override;
  HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* capabilities) override;
  HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) override;
  HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) override;
  HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) override;
  HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) override;
  HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) override;
  HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override;
  HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* stop) override;
  HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) override;
  HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                              const GUID* sourceFormat) override;
  HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                         DWORD stopFlags) override;
  HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
  HRESULT STDMETHODCALLTYPE GetRate(double* rate) override;
  HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) override;

 private:
  // The upstream seeking interface; null when unconnected or not seekable.
  ComPtr<IMediaSeeking> Upstream();
  template <class Call>
  HRESULT Forward(Call call) {
    ComPtr<IMediaSeeking> upstream = Upstream();
    return upstream ? call(upstream.get()) : E_NOTIMPL;
  }

  BaseFilter& filter_;
  BasePin& input_;
};
