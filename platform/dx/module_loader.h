// The module loader behind LoadLibraryA, GetProcAddress and FreeLibrary on
// Linux. It knows the Windows modules the DirectX probe asks for, DDRAW.DLL,
// DINPUT.DLL and D3D8.DLL (names compared without regard to case), and
// their entry points, backed by the stand-ins of directx_standins.h. It loads
// nothing from disk.
#pragma once

#include "platform/win/types.h"

// The module's handle, or null for a module it does not know. Each load is
// undone by one FreeModule.
HMODULE LoadModule(LPCSTR name);
// The entry point of a loaded module, or null for an unknown name or handle
// (entry names are case-sensitive, as on Windows).
FARPROC ModuleEntry(HMODULE module, LPCSTR name);
// FALSE for a handle that is not loaded.
BOOL FreeModule(HMODULE module);
// How many loads of the named module are not yet freed.
int ModuleLoadCount(LPCSTR name);
