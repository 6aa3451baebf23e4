// IUnknown, the reference-counting base every COM-style object of the
// platform derives from, and a small owning pointer for interface references.
#pragma once

#include <atomic>
#include <initializer_list>
#include <new>
#include <utility>

#include "platform/com/guid.h"

#ifdef _WIN32
#include <unknwn.h>
#else
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IUnknown {
 public:
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};
#endif  // _WIN32

// Reference count for a concrete object; the last Release deletes it. On
// Windows the filters built on it are passed between threads: DirectShow's
// streaming thread takes and drops references to them while the server's
// thread runs the graph, so the count is atomic. (On Linux the graph runs on
// the thread that calls it, and samples are not counted here at all.)
class RefCounted {
 public:
  RefCounted() = default;
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;
  virtual ~RefCounted() = default;

 protected:
  ULONG AddRefImpl() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG ReleaseImpl() {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

// Declares AddRef and Release of a class that derives from RefCounted and
// one or more interfaces.
#define IMPLEMENT_REFCOUNT                              \
  ULONG AddRef() override { return AddRefImpl(); }     \
  ULONG Release() override { return ReleaseImpl(); }

// Owning interface pointer. put() releases what it held before handing out
// the address, so an out-parameter never overwrites a live reference.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes over one reference that the caller already holds.
  static ComPtr Adopt(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  // Adds a reference of its own.
  static ComPtr Share(T* p) {
    if (p) p->AddRef();
    return Adopt(p);
  }
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  void reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  // Hands the reference to the caller.
  T* detach() { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

// The one QueryInterface shape: null check, cleared out-pointer, then a
// referenced cast for the first entry whose id matches. Each object lists its
// interfaces, IID_IUnknown included:
//   return QueryInterfaceTable(riid, ppv, {{IID_IUnknown, static_cast<IBaseFilter*>(this)},
//                                          {IID_IBaseFilter, static_cast<IBaseFilter*>(this)}});
struct InterfaceEntry {
  const IID& iid;
  IUnknown* object;
};

inline HRESULT QueryInterfaceTable(REFIID riid, void** ppv, std::initializer_list<InterfaceEntry> table) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (const InterfaceEntry& e : table) {
    if (e.iid == riid) {
      e.object->AddRef();
      *ppv = e.object;
      return S_OK;
    }
  }
  return E_NOINTERFACE;
}

// Creates a T (an object of ours whose creation reference is its Release's)
// and queries it for riid: the class factories of the registered classes.
template <class T>
HRESULT CreateInstance(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  T* object = new (std::nothrow) T;
  if (!object) return E_OUTOFMEMORY;
  HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}
