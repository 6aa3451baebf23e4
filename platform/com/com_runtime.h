// The COM runtime: per-thread initialisation, object creation through a class
// registry, and the task allocator.
#pragma once

#include <cstddef>
#include <functional>

#include "platform/com/unknown.h"

#ifdef _WIN32
// The system's COM runtime: CoInitialize, CoCreateInstance, the task
// allocator.
#include <objbase.h>
#else
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;

// S_OK the first time on a thread, S_FALSE when the thread is already
// initialised; each call is undone by one CoUninitialize.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();

// Creates an instance of a registered class. An outer object gives
// CLASS_E_NOAGGREGATION, an unknown class REGDB_E_CLASSNOTREG, a null ppv
// E_POINTER. On failure *ppv is null.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);

// A class factory: creates one object and queries it for riid into *ppv.
using ClassFactory = std::function<HRESULT(REFIID riid, void** ppv)>;

// Registers a class for the life of the process (the platform's own classes).
void RegisterClassFactory(REFCLSID clsid, ClassFactory factory);

// Replaces (or adds) a class for the life of the scope; the previous
// registration, or its absence, comes back when the scope ends.
class ScopedClassRegistration {
 public:
  ScopedClassRegistration(REFCLSID clsid, ClassFactory factory);
  ~ScopedClassRegistration();
  ScopedClassRegistration(const ScopedClassRegistration&) = delete;
  ScopedClassRegistration& operator=(const ScopedClassRegistration&) = delete;

 private:
  CLSID clsid_;
  bool had_previous_;
  ClassFactory previous_;
};

// Task allocator. CoTaskMemFree(nullptr) does nothing.
void* CoTaskMemAlloc(size_t size);
void CoTaskMemFree(void* block);

// Test seams of the task allocator: the number of blocks allocated and not
// yet freed, and a hook that makes an allocation fail when it returns true.
size_t TaskMemOutstanding();
class ScopedTaskMemFailure {
 public:
  explicit ScopedTaskMemFailure(std::function<bool(size_t size)> fail);
  ~ScopedTaskMemFailure();
  ScopedTaskMemFailure(const ScopedTaskMemFailure&) = delete;
  ScopedTaskMemFailure& operator=(const ScopedTaskMemFailure&) = delete;
};

#endif  // _WIN32

// Releases *p when it is set and sets it to null.
template <class T>
void SafeRelease(T*& p) {
  if (p) {
    p->Release();
    p = nullptr;
  }
}
