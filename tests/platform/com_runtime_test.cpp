#include "platform/com/com_runtime.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

constexpr CLSID kTestClass = {0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 5, 5, 5, 5}};
constexpr IID kOtherIid = {0x99999999, 0x2222, 0x3333, {4, 4, 5, 5, 5, 5, 5, 5}};

class Counted final : public RefCounted, public IUnknown {
 public:
  explicit Counted(int* alive) : alive_(alive) { ++*alive_; }
  ~Counted() override { --*alive_; }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return QueryInterfaceTable(riid, ppv, {{IID_IUnknown, this}});
  }
  IMPLEMENT_REFCOUNT

 private:
  int* alive_;
};

TEST(CoInitialize, CountsPerThread) {
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  std::thread([] {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
  }).join();
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

TEST(CoCreateInstance, ScopedRegistrationCreatesAndIsUndone) {
  int alive = 0;
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(p, nullptr);
  {
    ScopedClassRegistration reg(kTestClass, [&](REFIID riid, void** ppv) {
      auto* o = new Counted(&alive);
      HRESULT hr = o->QueryInterface(riid, ppv);
      o->Release();
      return hr;
    });
    IUnknown* u = nullptr;
    ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&u)),
              S_OK);
    EXPECT_EQ(alive, 1);
    EXPECT_EQ(u->Release(), 0u);
    EXPECT_EQ(alive, 0);

    // An interface the object lacks: failure, nothing leaked.
    EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, kOtherIid, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(alive, 0);

    int dummy;
    EXPECT_EQ(CoCreateInstance(kTestClass, reinterpret_cast<IUnknown*>(&dummy), CLSCTX_INPROC_SERVER, IID_IUnknown,
                               &p),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr), E_POINTER);
  }
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
}

TEST(CoCreateInstance, NestedScopeRestoresTheOuterClass) {
  int which = 0;
  ScopedClassRegistration outer(kTestClass, [&](REFIID, void**) { which = 1; return E_FAIL; });
  {
    ScopedClassRegistration inner(kTestClass, [&](REFIID, void**) { which = 2; return E_FAIL; });
    void* p;
    CoCreateInstance(kTestClass, nullptr, 1, IID_IUnknown, &p);
    EXPECT_EQ(which, 2);
  }
  void* p;
  CoCreateInstance(kTestClass, nullptr, 1, IID_IUnknown, &p);
  EXPECT_EQ(which, 1);
}

TEST(TaskAllocator, CountsBlocksAndFailsOnRequest) {
  size_t before = TaskMemOutstanding();
  void* a = CoTaskMemAlloc(88);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(TaskMemOutstanding(), before + 1);
  {
    ScopedTaskMemFailure fail([](size_t size) { return size == 88; });
    EXPECT_EQ(CoTaskMemAlloc(88), nullptr);
    void* b = CoTaskMemAlloc(10);
    EXPECT_NE(b, nullptr);
    CoTaskMemFree(b);
  }
  CoTaskMemFree(a);
  CoTaskMemFree(nullptr);
  EXPECT_EQ(TaskMemOutstanding(), before);
}

TEST(UuidToStringA, FormatsLowerCase8_4_4_4_12) {
  constexpr GUID g = {0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
  RPC_CSTR text = nullptr;
  ASSERT_EQ(UuidToStringA(&g, &text), RPC_S_OK);
  EXPECT_STREQ(reinterpret_cast<char*>(text), "73646976-0000-0010-8000-00aa00389b71");
  RpcStringFreeA(&text);
  EXPECT_EQ(text, nullptr);
}

TEST(ComPtr, PutReleasesTheOldReference) {
  int alive = 0;
  ComPtr<IUnknown> p = ComPtr<IUnknown>::Adopt(new Counted(&alive));
  EXPECT_EQ(alive, 1);
  *p.put() = new Counted(&alive);
  EXPECT_EQ(alive, 1);
  p.reset();
  EXPECT_EQ(alive, 0);
}

}  // namespace
