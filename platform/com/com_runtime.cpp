#include "platform/com/com_runtime.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

namespace {

thread_local int com_init_count = 0;

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

struct Registry {
  std::mutex lock;
  std::map<CLSID, ClassFactory, GuidLess> classes;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // never destroyed: used until _exit
  return *registry;
}

std::atomic<size_t> task_blocks{0};
std::function<bool(size_t)>* task_failure = nullptr;

}  // namespace

HRESULT CoInitialize(void*) { return com_init_count++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (com_init_count > 0) --com_init_count;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  ClassFactory factory;
  {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    auto it = r.classes.find(clsid);
    if (it == r.classes.end()) return REGDB_E_CLASSNOTREG;
    factory = it->second;
  }
  HRESULT hr;
  try {
    hr = factory(riid, ppv);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

void RegisterClassFactory(REFCLSID clsid, ClassFactory factory) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> hold(r.lock);
  r.classes[clsid] = std::move(factory);
}

ScopedClassRegistration::ScopedClassRegistration(REFCLSID clsid, ClassFactory factory) : clsid_(clsid) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> hold(r.lock);
  auto it = r.classes.find(clsid);
  had_previous_ = it != r.classes.end();
  if (had_previous_) previous_ = it->second;
  r.classes[clsid] = std::move(factory);
}

ScopedClassRegistration::~ScopedClassRegistration() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> hold(r.lock);
  if (had_previous_)
    r.classes[clsid_] = std::move(previous_);
  else
    r.classes.erase(clsid_);
}

void* CoTaskMemAlloc(size_t size) {
  if (task_failure && (*task_failure)(size)) return nullptr;
  void* block = std::malloc(size ? size : 1);
  if (block) task_blocks.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void CoTaskMemFree(void* block) {
  if (!block) return;
  task_blocks.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}

size_t TaskMemOutstanding() { return task_blocks.load(); }

ScopedTaskMemFailure::ScopedTaskMemFailure(std::function<bool(size_t)> fail) {
  task_failure = new std::function<bool(size_t)>(std::move(fail));
}

ScopedTaskMemFailure::~ScopedTaskMemFailure() {
  delete task_failure;
  task_failure = nullptr;
}

RPC_STATUS UuidToStringA(const UUID* uuid, RPC_CSTR* text) {
  if (!uuid || !text) return RPC_S_OUT_OF_MEMORY;
  char* out = static_cast<char*>(std::malloc(37));
  if (!out) return RPC_S_OUT_OF_MEMORY;
  std::snprintf(out, 37, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", uuid->Data1, uuid->Data2,
                uuid->Data3, uuid->Data4[0], uuid->Data4[1], uuid->Data4[2], uuid->Data4[3], uuid->Data4[4],
                uuid->Data4[5], uuid->Data4[6], uuid->Data4[7]);
  *text = reinterpret_cast<RPC_CSTR>(out);
  return RPC_S_OK;
}

RPC_STATUS RpcStringFreeA(RPC_CSTR* text) {
  if (text) {
    std::free(*text);
    *text = nullptr;
  }
  return RPC_S_OK;
}
