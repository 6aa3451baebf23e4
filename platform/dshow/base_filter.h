// The base filter and base pin that the filters of both platforms are built
// from: COM identity and reference counting, graph membership, pin
// enumeration and what a pin says about itself and its connection. Each
// platform adds how pins connect and how samples travel (a pumped graph on
// Linux, IMemInputPin and the filter states on Windows).
#pragma once

#include <mutex>
#include <string>

#include "platform/dshow/dshow.h"
#include "platform/dshow/media_type.h"

class BaseFilter;

class BasePin : public IPin {
 public:
  BasePin(BaseFilter& filter, PIN_DIRECTION direction, std::wstring name);
  BasePin(const BasePin&) = delete;
  BasePin& operator=(const BasePin&) = delete;

  // IUnknown and IPin; other interfaces through ExtraInterface. References on
  // a pin are references on its filter.
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT ConnectedTo(IPin** pin) override;
  // A deep copy of the connection's type that the caller frees; a zeroed
  // record and VFW_E_NOT_CONNECTED while unconnected.
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override;

  PIN_DIRECTION direction() const { return direction_; }
  const std::wstring& name() const { return name_; }

  // The pin at the other end, with a reference; null while unconnected.
  virtual ComPtr<IPin> Peer() = 0;
  // Copies the connection's type into *type; VFW_E_NOT_CONNECTED while
  // unconnected.
  virtual HRESULT CopyConnectionType(MediaType* type) = 0;

 protected:
  ~BasePin() = default;
  // Interfaces of the pin beyond IPin; the result is not yet referenced.
  virtual IUnknown* ExtraInterface(REFIID) { return nullptr; }

  BaseFilter& filter_;

 private:
  const PIN_DIRECTION direction_;
  const std::wstring name_;
};

class BaseFilter : public IBaseFilter, public RefCounted {
 public:
  // IUnknown and IBaseFilter (with the interfaces it derives from); other
  // interfaces through ExtraInterface.
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  IMPLEMENT_REFCOUNT

  HRESULT EnumPins(IEnumPins** pins) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  // The graph is not referenced: it owns the filter.
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;

  // The pins, in enumeration order; they live as long as the filter.
  virtual ULONG PinCount() const = 0;
  virtual BasePin* PinAt(ULONG index) = 0;

  // The graph the filter belongs to, with a reference; null outside one.
  ComPtr<IFilterGraph> Graph();

 protected:
  BaseFilter() = default;
  // Interfaces of the filter beyond IBaseFilter; the result is not yet
  // referenced.
  virtual IUnknown* ExtraInterface(REFIID) { return nullptr; }

 private:
  std::mutex lock_;
  IFilterGraph* graph_ = nullptr;
  std::wstring name_;
};
