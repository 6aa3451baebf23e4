#include "platform/windows/class_registration.h"

#include <new>

#include "platform/windows/colour_converter.h"
#include "platform/windows/sample_renderer.h"

namespace {

// A class object for one filter class. The objects are static and live as
// long as the process, so their counts do not free anything.
template <class Filter>
class FilterFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return QueryInterfaceTable(riid, ppv, {{IID_IUnknown, this}, {IID_IClassFactory, this}});
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return ::CreateInstance<Filter>(riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

FilterFactory<SampleRenderer> renderer_factory;
FilterFactory<ColourConverterStandIn> converter_factory;

bool SystemHasClass(REFCLSID clsid) {
  IClassFactory* factory = nullptr;
  if (FAILED(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory))))
    return false;
  factory->Release();
  return true;
}

DWORD Register(REFCLSID clsid, IClassFactory* factory) {
  DWORD cookie = 0;
  if (FAILED(CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie))) return 0;
  return cookie;
}

}  // namespace

MediaClassRegistration::MediaClassRegistration() {
  renderer_cookie_ = Register(CLSID_TarvenixSampleRenderer, &renderer_factory);
  if (!SystemHasClass(CLSID_Colour)) converter_cookie_ = Register(CLSID_Colour, &converter_factory);
}

MediaClassRegistration::~MediaClassRegistration() {
  if (converter_cookie_) CoRevokeClassObject(converter_cookie_);
  if (renderer_cookie_) CoRevokeClassObject(renderer_cookie_);
}
