// The DirectDraw, DirectInput and DirectMusic interfaces, records, ids and
// entry-point types that the DirectX capability probe uses, with their
// Windows names and published id values. Only the methods the probe calls are
// declared.
#pragma once

#include "platform/com/unknown.h"

#ifdef _WIN32

// The system's DirectDraw and DirectMusic declarations; the ids come from
// libdxguid.
#include <ddraw.h>
#include <dmusicc.h>

#else

inline constexpr IID IID_IDirectDraw = {0x6C14DB80, 0xA733, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
inline constexpr IID IID_IDirectDraw2 = {0xB3A6F3E0, 0x2B43, 0x11CF, {0xA2, 0xDE, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};
inline constexpr IID IID_IDirectDraw7 = {0x15E65EC0, 0x3B9C, 0x11D2, {0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}};
inline constexpr IID IID_IDirectDrawSurface = {
    0x6C14DB81, 0xA733, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
inline constexpr IID IID_IDirectDrawSurface3 = {
    0xDA044E00, 0x69B2, 0x11D0, {0xA1, 0xD5, 0x00, 0xAA, 0x00, 0xB8, 0xDF, 0xBB}};
inline constexpr IID IID_IDirectDrawSurface4 = {
    0x0B2B8630, 0xAD35, 0x11D0, {0x8E, 0xA6, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}};
inline constexpr CLSID CLSID_DirectMusic = {
    0x636B9F10, 0x0C7D, 0x11D1, {0x95, 0xB2, 0x00, 0x20, 0xAF, 0xDC, 0x74, 0x21}};
inline constexpr IID IID_IDirectMusic = {0x6536115A, 0x7B2D, 0x11D2, {0xBA, 0x18, 0x00, 0x00, 0xF8, 0x75, 0xAC, 0x12}};

constexpr HRESULT DD_OK = S_OK;
constexpr HRESULT DDERR_INVALIDPARAMS = E_INVALIDARG;
constexpr HRESULT DDERR_NOCOOPLEVELSET = static_cast<HRESULT>(0x887600D4u);

constexpr DWORD DDSCL_NORMAL = 0x00000008;
constexpr DWORD DDSD_CAPS = 0x00000001;
constexpr DWORD DDSCAPS_PRIMARYSURFACE = 0x00000200;

struct DDCOLORKEY {
  DWORD dwColorSpaceLowValue;
  DWORD dwColorSpaceHighValue;
};

struct DDPIXELFORMAT {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwFourCC;
  DWORD dwRGBBitCount;
  DWORD dwRBitMask;
  DWORD dwGBitMask;
  DWORD dwBBitMask;
  DWORD dwRGBAlphaBitMask;
};

struct DDSCAPS {
  DWORD dwCaps;
};

// 108 bytes in a 32-bit Windows process; callers always pass
// sizeof(DDSURFACEDESC) in dwSize, which is what DirectDraw checks.
struct DDSURFACEDESC {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwHeight;
  DWORD dwWidth;
  LONG lPitch;
  DWORD dwBackBufferCount;
  DWORD dwRefreshRate;
  DWORD dwAlphaBitDepth;
  DWORD dwReserved;
  void* lpSurface;
  DDCOLORKEY ddckCKDestOverlay;
  DDCOLORKEY ddckCKDestBlt;
  DDCOLORKEY ddckCKSrcOverlay;
  DDCOLORKEY ddckCKSrcBlt;
  DDPIXELFORMAT ddpfPixelFormat;
  DDSCAPS ddsCaps;
};

class IDirectDrawSurface : public IUnknown {
 protected:
  ~IDirectDrawSurface() = default;
};

class IDirectDrawSurface3 : public IUnknown {
 protected:
  ~IDirectDrawSurface3() = default;
};

class IDirectDrawSurface4 : public IUnknown {
 protected:
  ~IDirectDrawSurface4() = default;
};

class IDirectDraw : public IUnknown {
 public:
  // A null window with DDSCL_NORMAL shares the display with other programs.
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
  // On success *surface carries one reference for the caller.
  virtual HRESULT CreateSurface(DDSURFACEDESC* desc, IDirectDrawSurface** surface, IUnknown* outer) = 0;

 protected:
  ~IDirectDraw() = default;
};

class IDirectDraw2 : public IUnknown {
 protected:
  ~IDirectDraw2() = default;
};

class IDirectDraw7 : public IUnknown {
 protected:
  ~IDirectDraw7() = default;
};

class IDirectMusic : public IUnknown {
 protected:
  ~IDirectMusic() = default;
};

#endif  // _WIN32

// The entry points of DDRAW.DLL and DINPUT.DLL as GetProcAddress finds them.
// A null device GUID selects the default display driver.
using DirectDrawCreateFunction = HRESULT (*)(GUID* device, IDirectDraw** directDraw, IUnknown* outer);
using DirectDrawCreateExFunction = HRESULT (*)(GUID* device, void** directDraw, REFIID iid, IUnknown* outer);
using DirectInputCreateAFunction = HRESULT (*)(HMODULE instance, DWORD version, void** directInput, IUnknown* outer);
