// Stand-ins for the DirectX components that the capability probe looks for.
// Linux has no DirectDraw display driver, DirectInput or DirectMusic, so
// these objects answer exactly the calls the probe makes, the way a machine
// with those components answers them; they draw, read and play nothing.
#pragma once

#include "platform/dx/ddraw.h"

// DDRAW.DLL's DirectDrawCreate: an object with IDirectDraw and IDirectDraw2.
// Only the default driver (null device) exists; an outer object gives
// CLASS_E_NOAGGREGATION.
HRESULT StandInDirectDrawCreate(GUID* device, IDirectDraw** directDraw, IUnknown* outer);
// DDRAW.DLL's DirectDrawCreateEx: the same object, queried for iid
// (IID_IDirectDraw7 among others).
HRESULT StandInDirectDrawCreateEx(GUID* device, void** directDraw, REFIID iid, IUnknown* outer);
// DINPUT.DLL's DirectInputCreateA: present so that the entry can be found;
// there is no input device to offer, so it creates nothing.
HRESULT StandInDirectInputCreateA(HMODULE instance, DWORD version, void** directInput, IUnknown* outer);

// Registers CLSID_DirectMusic (IDirectMusic) in the class registry.
void RegisterDirectMusicClass();
