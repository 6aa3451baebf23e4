#include "platform/dx/directx_standins.h"

#include "platform/com/com_runtime.h"

namespace {

class StandInSurface final : public RefCounted,
                             public IDirectDrawSurface,
                             public IDirectDrawSurface3,
                             public IDirectDrawSurface4 {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return QueryInterfaceTable(riid, ppv,
                               {{IID_IUnknown, static_cast<IDirectDrawSurface*>(this)},
                                {IID_IDirectDrawSurface, static_cast<IDirectDrawSurface*>(this)},
                                {IID_IDirectDrawSurface3, static_cast<IDirectDrawSurface3*>(this)},
                                {IID_IDirectDrawSurface4, static_cast<IDirectDrawSurface4*>(this)}});
  }
  IMPLEMENT_REFCOUNT
};

class StandInDirectDraw final : public RefCounted, public IDirectDraw, public IDirectDraw2, public IDirectDraw7 {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return QueryInterfaceTable(riid, ppv,
                               {{IID_IUnknown, static_cast<IDirectDraw*>(this)},
                                {IID_IDirectDraw, static_cast<IDirectDraw*>(this)},
                                {IID_IDirectDraw2, static_cast<IDirectDraw2*>(this)},
                                {IID_IDirectDraw7, static_cast<IDirectDraw7*>(this)}});
  }
  IMPLEMENT_REFCOUNT

  HRESULT SetCooperativeLevel(HWND window, DWORD flags) override {
    // Without a window only the normal, shared level makes sense.
    if (window || flags != DDSCL_NORMAL) return DDERR_INVALIDPARAMS;
    cooperative_level_set_ = true;
    return DD_OK;
  }

  HRESULT CreateSurface(DDSURFACEDESC* desc, IDirectDrawSurface** surface, IUnknown* outer) override {
    if (!surface) return DDERR_INVALIDPARAMS;
    *surface = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (!desc || desc->dwSize != sizeof(DDSURFACEDESC) || !(desc->dwFlags & DDSD_CAPS) ||
        !(desc->ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE))
      return DDERR_INVALIDPARAMS;
    if (!cooperative_level_set_) return DDERR_NOCOOPLEVELSET;
    *surface = new (std::nothrow) StandInSurface;
    return *surface ? DD_OK : E_OUTOFMEMORY;
  }

 private:
  bool cooperative_level_set_ = false;
};

class StandInDirectMusic final : public RefCounted, public IDirectMusic {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return QueryInterfaceTable(riid, ppv, {{IID_IUnknown, this}, {IID_IDirectMusic, this}});
  }
  IMPLEMENT_REFCOUNT
};

// Creates one object and hands out the interface asked for; the creation
// reference is dropped either way, so a refused interface frees the object.
template <class Object>
HRESULT CreateAndQuery(REFIID riid, void** ppv) {
  ComPtr<Object> object = ComPtr<Object>::Adopt(new (std::nothrow) Object);
  if (!object) return E_OUTOFMEMORY;
  return object->QueryInterface(riid, ppv);
}

}  // namespace

HRESULT StandInDirectDrawCreateEx(GUID* device, void** directDraw, REFIID iid, IUnknown* outer) {
  if (!directDraw) return DDERR_INVALIDPARAMS;
  *directDraw = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (device) return DDERR_INVALIDPARAMS;
  return CreateAndQuery<StandInDirectDraw>(iid, directDraw);
}

HRESULT StandInDirectDrawCreate(GUID* device, IDirectDraw** directDraw, IUnknown* outer) {
  return StandInDirectDrawCreateEx(device, reinterpret_cast<void**>(directDraw), IID_IDirectDraw, outer);
}

HRESULT StandInDirectInputCreateA(HMODULE, DWORD, void** directInput, IUnknown*) {
  if (directInput) *directInput = nullptr;
  return E_NOTIMPL;
}

void RegisterDirectMusicClass() {
  RegisterClassFactory(CLSID_DirectMusic, CreateAndQuery<StandInDirectMusic>);
}
