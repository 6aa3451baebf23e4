// The pins of the hand-written Windows filters, on the shared base pin. A
// connection pin negotiates one media type and keeps its peer under a lock
// (streaming runs on other threads). The input pin takes samples through
// IMemInputPin and passes them, with the stream's end and flushes, to hooks;
// the output pin offers one media type, uses the allocator that its input
// side chose, and delivers samples downstream.
#pragma once

#include <mutex>

#include "platform/windows/media_filter.h"

class ConnectionPin : public BasePin {
 public:
  ConnectionPin(MediaFilter& filter, const WCHAR* name, PIN_DIRECTION direction);

  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;

  // Whether the pin takes this type.
  virtual bool Accepts(const AM_MEDIA_TYPE& type) = 0;
  // The type the pin proposes, or null when it proposes none.
  virtual const AM_MEDIA_TYPE* ProposedType() { return nullptr; }

  ComPtr<IPin> Peer() override;
  HRESULT CopyConnectionType(MediaType* type) override;

 protected:
  // Records a connection; the caller has checked the type.
  HRESULT SetConnection(IPin* peer, const AM_MEDIA_TYPE& type);
  virtual void OnDisconnect() {}
  FILTER_STATE FilterState() { return owner_.State(); }

  std::mutex pin_lock_;

 private:
  MediaFilter& owner_;
  ComPtr<IPin> peer_;
  MediaType type_;
};

class InputPin : public ConnectionPin, public IMemInputPin {
 public:
  InputPin(MediaFilter& filter, const WCHAR* name);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override { return BasePin::QueryInterface(riid, ppv); }
  ULONG STDMETHODCALLTYPE AddRef() override { return BasePin::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return BasePin::Release(); }

  HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE EndOfStream() override;
  HRESULT STDMETHODCALLTYPE BeginFlush() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // The system's memory allocator, made on first request.
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

  // The allocator that the upstream pin settled on, with a reference.
  ComPtr<IMemAllocator> Allocator();

 protected:
  IUnknown* ExtraInterface(REFIID riid) override;
  // The hooks, called on the upstream filter's streaming thread.
  virtual HRESULT OnReceive(IMediaSample* sample) = 0;
  virtual HRESULT OnEndOfStream() = 0;
  virtual HRESULT OnBeginFlush() = 0;
  virtual HRESULT OnEndFlush() = 0;
  virtual HRESULT OnNewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }
  void OnDisconnect() override;

 private:
  ComPtr<IMemAllocator> allocator_;
};

class OutputPin : public ConnectionPin {
 public:
  OutputPin(MediaFilter& filter, const WCHAR* name);

  // Proposes ProposedType() (a given type must agree with it), then hands the
  // downstream pin the allocator that Allocator() names.
  HRESULT STDMETHODCALLTYPE Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE EndOfStream() override;
  HRESULT STDMETHODCALLTYPE BeginFlush() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // Passes a sample, the end of the stream, a flush or a segment to the
  // downstream pin; VFW_E_NOT_CONNECTED when there is none.
  HRESULT Deliver(IMediaSample* sample);
  HRESULT DeliverEndOfStream();
  HRESULT DeliverBeginFlush();
  HRESULT DeliverEndFlush();
  HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

 protected:
  // The allocator for the downstream pin, with a reference.
  virtual ComPtr<IMemAllocator> Allocator() = 0;
  void OnDisconnect() override;

 private:
  ComPtr<IMemInputPin> downstream_;
};
