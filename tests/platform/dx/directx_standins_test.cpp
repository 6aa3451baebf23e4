// The module loader and the DirectX stand-ins answer the calls the
// capability probe makes, as a machine with DirectX answers them.
#include "platform/dx/directx_standins.h"

#include <gtest/gtest.h>

#include "platform/com/com_runtime.h"
#include "platform/dx/module_loader.h"

namespace {

TEST(ModuleLoader, KnowsTheProbedModulesWithoutRegardToCase) {
  for (const char* name : {"DDRAW.DLL", "ddraw.dll", "DInput.dll", "d3d8.DLL"}) {
    HMODULE m = LoadModule(name);
    EXPECT_NE(m, nullptr) << name;
    EXPECT_TRUE(FreeModule(m));
  }
  EXPECT_EQ(LoadModule("DDRAW"), nullptr);
  EXPECT_EQ(LoadModule("D3D9.DLL"), nullptr);
  EXPECT_EQ(LoadModule(nullptr), nullptr);
}

TEST(ModuleLoader, EntriesBelongToTheirModuleAndLoadsAreCounted) {
  HMODULE ddraw = LoadModule("DDRAW.DLL");
  HMODULE again = LoadModule("DDRAW.DLL");
  HMODULE dinput = LoadModule("DINPUT.DLL");
  EXPECT_EQ(ddraw, again);
  EXPECT_EQ(ModuleLoadCount("DDRAW.DLL"), 2);
  EXPECT_NE(ModuleEntry(ddraw, "DirectDrawCreate"), nullptr);
  EXPECT_NE(ModuleEntry(ddraw, "DirectDrawCreateEx"), nullptr);
  EXPECT_EQ(ModuleEntry(ddraw, "directdrawcreate"), nullptr);
  EXPECT_EQ(ModuleEntry(ddraw, "DirectInputCreateA"), nullptr);
  EXPECT_NE(ModuleEntry(dinput, "DirectInputCreateA"), nullptr);
  EXPECT_TRUE(FreeModule(ddraw));
  EXPECT_TRUE(FreeModule(again));
  EXPECT_TRUE(FreeModule(dinput));
  // Freed modules hand out nothing more and cannot be freed again.
  EXPECT_EQ(ModuleEntry(ddraw, "DirectDrawCreate"), nullptr);
  EXPECT_FALSE(FreeModule(ddraw));
  EXPECT_FALSE(FreeModule(nullptr));
  EXPECT_EQ(ModuleLoadCount("DDRAW.DLL"), 0);
}

TEST(DirectDrawStandIn, PrimarySurfaceNeedsTheCooperativeLevelAndACorrectDescription) {
  IDirectDraw* dd = nullptr;
  ASSERT_EQ(StandInDirectDrawCreate(nullptr, &dd, nullptr), DD_OK);
  ComPtr<IDirectDraw> directDraw = ComPtr<IDirectDraw>::Adopt(dd);

  DDSURFACEDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  ComPtr<IDirectDrawSurface> surface;
  EXPECT_EQ(directDraw->CreateSurface(&desc, surface.put(), nullptr), DDERR_NOCOOPLEVELSET);
  EXPECT_FALSE(surface);
  EXPECT_EQ(directDraw->SetCooperativeLevel(nullptr, 0x11), DDERR_INVALIDPARAMS);
  ASSERT_EQ(directDraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
  desc.dwSize = 108 - 1;
  EXPECT_EQ(directDraw->CreateSurface(&desc, surface.put(), nullptr), DDERR_INVALIDPARAMS);
  desc.dwSize = sizeof desc;
  ASSERT_EQ(directDraw->CreateSurface(&desc, surface.put(), nullptr), DD_OK);

  ComPtr<IUnknown> s3, s4, dd2;
  EXPECT_EQ(surface->QueryInterface(IID_IDirectDrawSurface3, s3.put_void()), S_OK);
  EXPECT_EQ(surface->QueryInterface(IID_IDirectDrawSurface4, s4.put_void()), S_OK);
  EXPECT_EQ(directDraw->QueryInterface(IID_IDirectDraw2, dd2.put_void()), S_OK);
  EXPECT_EQ(directDraw->QueryInterface(IID_IDirectMusic, dd2.put_void()), E_NOINTERFACE);
}

TEST(DirectDrawStandIn, CreateExGivesDirectDraw7AndRefusesDevicesAndAggregation) {
  ComPtr<IUnknown> dd7;
  EXPECT_EQ(StandInDirectDrawCreateEx(nullptr, dd7.put_void(), IID_IDirectDraw7, nullptr), DD_OK);
  EXPECT_TRUE(dd7);
  GUID device{1, 2, 3, {4}};
  ComPtr<IUnknown> other;
  EXPECT_TRUE(FAILED(StandInDirectDrawCreateEx(&device, other.put_void(), IID_IDirectDraw7, nullptr)));
  EXPECT_EQ(StandInDirectDrawCreateEx(nullptr, other.put_void(), IID_IDirectDraw7, dd7.get()), CLASS_E_NOAGGREGATION);
  EXPECT_FALSE(other);
}

TEST(DirectMusicStandIn, IsARegisteredClass) {
  RegisterDirectMusicClass();
  ComPtr<IUnknown> music;
  EXPECT_EQ(CoCreateInstance(CLSID_DirectMusic, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectMusic, music.put_void()),
            S_OK);
  EXPECT_TRUE(music);
}

}  // namespace
