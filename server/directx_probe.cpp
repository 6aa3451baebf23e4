// Each check stands for a DirectX release; the first that fails gives the
// level. The checks are split by what they hold: DDRAW.DLL stays loaded for
// the whole probe, the DirectDraw object for the checks up to the surfaces,
// the primary surface for its two version checks.
#include "server/directx_probe.h"

#include "platform/dshow/guids.h"
#include "platform/dx/ddraw.h"
#include "platform/trace.h"

namespace {

// The checks that follow the surfaces are still to be made.
constexpr DWORD kSurfacesPassed = 0xFFFFFFFF;

// Checks 9 and 10: the surface versions of DirectX 3 and 5.
DWORD ProbeSurfaceVersions(IDirectDrawSurface* surface) {
  ComPtr<IDirectDrawSurface3> surface3;
  if (FAILED(surface->QueryInterface(IID_IDirectDrawSurface3, surface3.put_void()))) return kDirectX3;
  ComPtr<IDirectDrawSurface4> surface4;
  if (FAILED(surface->QueryInterface(IID_IDirectDrawSurface4, surface4.put_void()))) return kDirectX5;
  return kSurfacesPassed;
}

// Checks 4 to 10, on the DirectDraw object.
DWORD ProbeDirectDraw(Platform& platform, IDirectDraw* directDraw) {
  {
    ComPtr<IDirectDraw2> directDraw2;
    if (FAILED(directDraw->QueryInterface(IID_IDirectDraw2, directDraw2.put_void()))) {
      DebugTrace("Couldn't QI DDraw2\r\n");
      return kDirectX1;
    }
  }
  HMODULE dinput = platform.LoadLibraryA("DINPUT.DLL");
  if (!dinput) {
    DebugTrace("Couldn't LoadLibrary DInput\r\n");
    return kDirectX2;
  }
  // Its presence is all that counts; the entry is never called.
  FARPROC directInputCreate = platform.GetProcAddress(dinput, "DirectInputCreateA");
  platform.FreeLibrary(dinput);
  if (!directInputCreate) {
    DebugTrace("Couldn't GetProcAddress DInputCreate\r\n");
    return kDirectX2;
  }
  if (FAILED(directDraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL))) {
    DebugTrace("Couldn't Set coop level\r\n");
    return kDirectXNone;
  }
  DDSURFACEDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  ComPtr<IDirectDrawSurface> surface;
  if (FAILED(directDraw->CreateSurface(&desc, surface.put(), nullptr)) || !surface) {
    DebugTrace("Couldn't CreateSurface\r\n");
    return kDirectXNone;
  }
  return ProbeSurfaceVersions(surface.get());
}

// Checks 11 to 15, made once every DirectDraw object is gone.
DWORD ProbeLaterComponents(Platform& platform, HMODULE ddraw, BYTE* FilterGraphAvailable) {
  {
    ComPtr<IUnknown> directMusic;
    if (FAILED(CoCreateInstance(CLSID_DirectMusic, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectMusic,
                                directMusic.put_void()))) {
      DebugTrace("Couldn't create CLSID_DirectMusic\r\n");
      return kDirectX6;
    }
  }
  {
    ComPtr<IUnknown> graph;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                IID_IGraphBuilder, graph.put_void())))
      return kDirectX6_1;
  }
  *FilterGraphAvailable = 1;
  auto directDrawCreateEx =
      reinterpret_cast<DirectDrawCreateExFunction>(platform.GetProcAddress(ddraw, "DirectDrawCreateEx"));
  if (!directDrawCreateEx) return kDirectX6_1;
  {
    ComPtr<IUnknown> directDraw7;
    if (FAILED(directDrawCreateEx(nullptr, directDraw7.put_void(), IID_IDirectDraw7, nullptr))) return kDirectX6_1;
  }
  HMODULE d3d8 = platform.LoadLibraryA("D3D8.DLL");
  if (!d3d8) return kDirectX7;
  platform.FreeLibrary(d3d8);
  return kDirectX8;
}

// Checks 2 onwards, with DDRAW.DLL loaded.
DWORD ProbeWithDirectDrawLoaded(Platform& platform, HMODULE ddraw, BYTE* FilterGraphAvailable) {
  auto directDrawCreate =
      reinterpret_cast<DirectDrawCreateFunction>(platform.GetProcAddress(ddraw, "DirectDrawCreate"));
  if (!directDrawCreate) {
    DebugTrace("Couldn't LoadLibrary DDraw\r\n");
    return kDirectXNone;
  }
  DWORD level;
  {
    ComPtr<IDirectDraw> directDraw;
    if (FAILED(directDrawCreate(nullptr, directDraw.put(), nullptr)) || !directDraw) {
      DebugTrace("Couldn't create DDraw\r\n");
      return kDirectXNone;
    }
    level = ProbeDirectDraw(platform, directDraw.get());
  }
  if (level != kSurfacesPassed) return level;
  // Start-up initialised COM on this thread already; this only nests, and
  // is undone here so the probe leaves the count as it found it.
  const HRESULT com = platform.CoInitialize(nullptr);
  level = ProbeLaterComponents(platform, ddraw, FilterGraphAvailable);
  if (SUCCEEDED(com)) platform.CoUninitialize();
  return level;
}

}  // namespace

DWORD DirectXLevelProbe::Probe(BYTE* FilterGraphAvailable) {
  *FilterGraphAvailable = 0;
  HMODULE ddraw = platform_.LoadLibraryA("DDRAW.DLL");
  if (!ddraw) return kDirectXNone;
  const DWORD level = ProbeWithDirectDrawLoaded(platform_, ddraw, FilterGraphAvailable);
  platform_.FreeLibrary(ddraw);
  return level;
}
