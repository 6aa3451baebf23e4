#include "platform/dx/module_loader.h"

#include <strings.h>

#include <array>
#include <cstring>
#include <mutex>

#include "platform/dx/directx_standins.h"

namespace {

struct Entry {
  const char* name;
  FARPROC address;
};

struct Module {
  const char* name;
  std::array<Entry, 2> entries;  // unused slots have a null name
  int loads;
};

template <class Function>
FARPROC AsFarProc(Function function) {
  return reinterpret_cast<FARPROC>(function);
}

std::mutex mutex;
std::array<Module, 3> modules = {{
    {"DDRAW.DLL",
     {{{"DirectDrawCreate", AsFarProc(&StandInDirectDrawCreate)},
       {"DirectDrawCreateEx", AsFarProc(&StandInDirectDrawCreateEx)}}},
     0},
    {"DINPUT.DLL", {{{"DirectInputCreateA", AsFarProc(&StandInDirectInputCreateA)}, {nullptr, nullptr}}}, 0},
    // Direct3D 8 is only looked for, never called.
    {"D3D8.DLL", {{{nullptr, nullptr}, {nullptr, nullptr}}}, 0},
}};

Module* Find(LPCSTR name) {
  if (!name) return nullptr;
  for (Module& m : modules)
    if (strcasecmp(m.name, name) == 0) return &m;
  return nullptr;
}

// The module behind a handle this loader gave out and that is still loaded.
Module* Loaded(HMODULE handle) {
  for (Module& m : modules)
    if (handle == &m && m.loads > 0) return &m;
  return nullptr;
}

}  // namespace

HMODULE LoadModule(LPCSTR name) {
  std::lock_guard lock(mutex);
  Module* m = Find(name);
  if (!m) return nullptr;
  ++m->loads;
  return m;
}

FARPROC ModuleEntry(HMODULE handle, LPCSTR name) {
  std::lock_guard lock(mutex);
  Module* m = Loaded(handle);
  if (!m || !name) return nullptr;
  for (const Entry& e : m->entries)
    if (e.name && std::strcmp(e.name, name) == 0) return e.address;
  return nullptr;
}

BOOL FreeModule(HMODULE handle) {
  std::lock_guard lock(mutex);
  Module* m = Loaded(handle);
  if (!m) return FALSE;
  --m->loads;
  return TRUE;
}

int ModuleLoadCount(LPCSTR name) {
  std::lock_guard lock(mutex);
  Module* m = Find(name);
  return m ? m->loads : 0;
}
