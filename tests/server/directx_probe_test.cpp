// The DirectX probe against fake modules and objects that fail at each check
// in turn: the level and flag of each failure, the order of the checks, and
// every library freed and every object released on every way out.
#include "protocol/messages.h"
#include "server/directx_probe.h"

#include <map>

#include "platform/dshow/guids.h"
#include "platform/dx/ddraw.h"
#include "server/command_handlers.h"
#include "server/thumbnail_server.h"
#include "tests/server/server_test_base.h"

namespace {

// What the fakes were asked, in order.
std::vector<std::string> calls;
// The check that is to fail, 0 for none.
int failing = 0;

template <class Interface>
struct FakeObject : Interface {
  ULONG refs = 1;  // the test's own reference
  std::map<const IID*, IUnknown*> answers;
  std::map<const IID*, std::string> names;
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    for (auto& [iid, object] : answers)
      if (*iid == riid) {
        calls.push_back("QI " + names[iid]);
        if (!object) return E_NOINTERFACE;
        object->AddRef();
        *ppv = object;
        return S_OK;
      }
    ADD_FAILURE() << "unexpected QueryInterface";
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }  // never frees
};

struct FakeSurface : FakeObject<IDirectDrawSurface> {};

struct FakeDirectDraw : FakeObject<IDirectDraw> {
  FakeSurface* surface = nullptr;
  HRESULT SetCooperativeLevel(HWND window, DWORD flags) override {
    calls.push_back("SetCooperativeLevel");
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(flags, DDSCL_NORMAL);
    return failing == 7 ? E_FAIL : DD_OK;
  }
  HRESULT CreateSurface(DDSURFACEDESC* desc, IDirectDrawSurface** out, IUnknown* outer) override {
    calls.push_back("CreateSurface");
    EXPECT_EQ(desc->dwSize, sizeof(DDSURFACEDESC));
    EXPECT_EQ(desc->dwFlags, DDSD_CAPS);
    EXPECT_EQ(desc->ddsCaps.dwCaps, DDSCAPS_PRIMARYSURFACE);
    EXPECT_EQ(outer, nullptr);
    *out = nullptr;
    if (failing == 8) return E_FAIL;
    surface->AddRef();
    *out = surface;
    return DD_OK;
  }
};

struct Fakes {
  FakeDirectDraw directDraw;
  FakeObject<IUnknown> directDraw2, directDraw7, surface3, surface4, directMusic, graph;
  FakeSurface surface;
  std::vector<ULONG> counts() const {
    return {directDraw.refs, directDraw2.refs, directDraw7.refs, surface.refs,
            surface3.refs,   surface4.refs,    directMusic.refs, graph.refs};
  }
};
Fakes* fakes = nullptr;

HRESULT FakeDirectDrawCreate(GUID* device, IDirectDraw** out, IUnknown* outer) {
  calls.push_back("DirectDrawCreate");
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(outer, nullptr);
  *out = nullptr;
  if (failing == 3) return E_FAIL;
  fakes->directDraw.AddRef();
  *out = &fakes->directDraw;
  return DD_OK;
}

HRESULT FakeDirectDrawCreateEx(GUID* device, void** out, REFIID iid, IUnknown* outer) {
  calls.push_back("DirectDrawCreateEx");
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(iid, IID_IDirectDraw7);
  EXPECT_EQ(outer, nullptr);
  *out = nullptr;
  if (failing == 14) return E_FAIL;
  fakes->directDraw7.AddRef();
  *out = static_cast<IUnknown*>(&fakes->directDraw7);
  return DD_OK;
}

HRESULT FakeDirectInputCreate(HMODULE, DWORD, void**, IUnknown*) {
  ADD_FAILURE() << "DirectInputCreateA is never called";
  return E_FAIL;
}

// Modules by name, each a load count; the handle is the count's address.
class ProbePlatform : public FakePlatform {
 public:
  std::map<std::string, int> loads{{"DDRAW.DLL", 0}, {"DINPUT.DLL", 0}, {"D3D8.DLL", 0}};
  std::vector<ULONG> countsAtDirectDrawFree;

  HMODULE LoadLibraryA(LPCSTR name) override {
    calls.push_back(std::string("Load ") + name);
    const int fails = std::string(name) == "DDRAW.DLL" ? 1 : std::string(name) == "DINPUT.DLL" ? 5 : 15;
    if (failing == fails) return nullptr;
    ++loads.at(name);
    return &loads.at(name);
  }
  FARPROC GetProcAddress(HMODULE module, LPCSTR name) override {
    calls.push_back(std::string("Proc ") + name);
    const std::string n = name;
    EXPECT_EQ(module, &loads.at(n == "DirectInputCreateA" ? "DINPUT.DLL" : "DDRAW.DLL"));
    if (n == "DirectDrawCreate") return failing == 2 ? nullptr : reinterpret_cast<FARPROC>(&FakeDirectDrawCreate);
    if (n == "DirectDrawCreateEx") return failing == 13 ? nullptr : reinterpret_cast<FARPROC>(&FakeDirectDrawCreateEx);
    if (n == "DirectInputCreateA") return failing == 6 ? nullptr : reinterpret_cast<FARPROC>(&FakeDirectInputCreate);
    ADD_FAILURE() << "unexpected entry " << n;
    return nullptr;
  }
  BOOL FreeLibrary(HMODULE module) override {
    for (auto& [name, count] : loads)
      if (module == &count) {
        calls.push_back("Free " + name);
        EXPECT_GT(count, 0) << name << " freed more often than loaded";
        --count;
        if (name == "DDRAW.DLL") countsAtDirectDrawFree = fakes->counts();
        return TRUE;
      }
    ADD_FAILURE() << "FreeLibrary of an unknown module";
    return FALSE;
  }
};

class DirectXProbe : public ServerTest {
 protected:
  DirectXProbe() {
    fakes = &f;
    calls.clear();
    f.directDraw.answers = {{&IID_IDirectDraw2, &f.directDraw2}};
    f.directDraw.names = {{&IID_IDirectDraw2, "DirectDraw2"}};
    f.directDraw.surface = &f.surface;
    f.surface.answers = {{&IID_IDirectDrawSurface3, &f.surface3}, {&IID_IDirectDrawSurface4, &f.surface4}};
    f.surface.names = {{&IID_IDirectDrawSurface3, "Surface3"}, {&IID_IDirectDrawSurface4, "Surface4"}};
  }
  ~DirectXProbe() override { fakes = nullptr; }

  // A class whose creation is the check numbered check: it fails when that
  // check is the failing one, else hands out object.
  static ClassFactory FakeClass(const char* call, REFIID iid, int check, FakeObject<IUnknown>& object) {
    return [call, &iid, check, &object](REFIID riid, void** ppv) {
      calls.push_back(call);
      EXPECT_EQ(riid, iid);
      if (failing == check) return E_FAIL;
      object.AddRef();
      *ppv = static_cast<IUnknown*>(&object);
      return S_OK;
    };
  }

  // Runs one probe with check `fail` failing.
  DWORD Probe(int fail, BYTE* flag) {
    failing = fail;
    if (fail == 4) f.directDraw.answers[&IID_IDirectDraw2] = nullptr;
    if (fail == 9) f.surface.answers[&IID_IDirectDrawSurface3] = nullptr;
    if (fail == 10) f.surface.answers[&IID_IDirectDrawSurface4] = nullptr;
    ScopedClassRegistration music(CLSID_DirectMusic,
                                  FakeClass("Create DirectMusic", IID_IDirectMusic, 11, f.directMusic));
    ScopedClassRegistration graph(CLSID_FilterGraph,
                                  FakeClass("Create FilterGraph", IID_IGraphBuilder, 12, f.graph));
    *flag = 0xAA;
    return DirectXLevelProbe(platform).Probe(flag);
  }

  Fakes f;
  ProbePlatform platform;
};

// Every call of a probe that passes, grouped by the check that makes it.
const std::vector<std::vector<std::string>> kChecks = {
    {"Load DDRAW.DLL"},
    {"Proc DirectDrawCreate"},
    {"DirectDrawCreate"},
    {"QI DirectDraw2"},
    {"Load DINPUT.DLL"},
    {"Proc DirectInputCreateA", "Free DINPUT.DLL"},
    {"SetCooperativeLevel"},
    {"CreateSurface"},
    {"QI Surface3"},
    {"QI Surface4"},
    {"Create DirectMusic"},
    {"Create FilterGraph"},
    {"Proc DirectDrawCreateEx"},
    {"DirectDrawCreateEx"},
    {"Load D3D8.DLL"},
};

TEST_F(DirectXProbe, EachFailingCheckSelectsItsLevel) {
  struct Row {
    int fail;
    DWORD level;
    BYTE flag;
    const char* trace;
  };
  const Row rows[] = {
      {1, 0x0000, 0, nullptr},
      {2, 0x0000, 0, "Couldn't LoadLibrary DDraw\r\n"},
      {3, 0x0000, 0, "Couldn't create DDraw\r\n"},
      {4, 0x0100, 0, "Couldn't QI DDraw2\r\n"},
      {5, 0x0200, 0, "Couldn't LoadLibrary DInput\r\n"},
      {6, 0x0200, 0, "Couldn't GetProcAddress DInputCreate\r\n"},
      {7, 0x0000, 0, "Couldn't Set coop level\r\n"},
      {8, 0x0000, 0, "Couldn't CreateSurface\r\n"},
      {9, 0x0300, 0, nullptr},
      {10, 0x0500, 0, nullptr},
      {11, 0x0600, 0, "Couldn't create CLSID_DirectMusic\r\n"},
      {12, 0x0601, 0, nullptr},
      {13, 0x0601, 1, nullptr},
      {14, 0x0601, 1, nullptr},
      {15, 0x0700, 1, nullptr},
      {0, 0x0800, 1, nullptr},
  };
  const std::vector<ULONG> start = f.counts();
  for (const Row& row : rows) {
    SCOPED_TRACE("failing check " + std::to_string(row.fail));
    calls.clear();
    traces.clear();
    platform.countsAtDirectDrawFree.clear();
    f.directDraw.answers[&IID_IDirectDraw2] = &f.directDraw2;
    f.surface.answers = {{&IID_IDirectDrawSurface3, &f.surface3}, {&IID_IDirectDrawSurface4, &f.surface4}};
    BYTE flag;
    EXPECT_EQ(Probe(row.fail, &flag), row.level);
    EXPECT_EQ(flag, row.flag);
    if (row.trace) {
      EXPECT_TRUE(Traced(row.trace));
    }

    // The checks up to the failing one, in order, and no further.
    std::vector<std::string> expected;
    const size_t made = row.fail ? static_cast<size_t>(row.fail) : kChecks.size();
    for (size_t i = 0; i < made; ++i) expected.insert(expected.end(), kChecks[i].begin(), kChecks[i].end());
    if (row.fail == 0) expected.push_back("Free D3D8.DLL");
    if (row.fail != 1) expected.push_back("Free DDRAW.DLL");
    EXPECT_EQ(calls, expected);

    for (auto& [name, count] : platform.loads) EXPECT_EQ(count, 0) << name << " not freed";
    EXPECT_EQ(f.counts(), start) << "an object was not released (or released twice)";
    if (row.fail != 1) {
      EXPECT_EQ(platform.countsAtDirectDrawFree, start) << "DirectDraw objects outlived DDRAW.DLL";
    }
    EXPECT_EQ(platform.co_initialized, 0) << "the probe's CoInitialize is undone";
  }
}

TEST_F(DirectXProbe, ReportSendsLevelAndFlagThenTheEvent) {
  TThumbnailServer server(platform, kGoodTail);
  f.directDraw.answers[&IID_IDirectDraw2] = &f.directDraw2;
  for (int round = 0; round < 2; ++round) {
    // Each command probes afresh: the second sees the machine changed.
    failing = round == 0 ? 0 : 12;
    ScopedClassRegistration music(CLSID_DirectMusic,
                                  FakeClass("Create DirectMusic", IID_IDirectMusic, 11, f.directMusic));
    ScopedClassRegistration graph(CLSID_FilterGraph,
                                  FakeClass("Create FilterGraph", IID_IGraphBuilder, 12, f.graph));
    platform.Send({wire::kGetDirectXLevel});
    server.PollCommand();
  }
  EXPECT_EQ(platform.ReplyDwords(), (std::vector<DWORD>{0x0800, 1, 0x0601, 0}));
  EXPECT_EQ(platform.events_at, (std::vector<size_t>{8, 16}));
  EXPECT_TRUE(Traced("Write 6\n"));
}

// The handler alone, over a channel with one handle missing at a time.
TEST_F(DirectXProbe, NoReplyWithoutWritePipeOrEvent) {
  CommandChannel channel(platform);
  ServerState state;
  DirectXLevelProbe probe(platform);
  CommandContext context{channel, state, probe};
  channel.ReadPipe = kReadPipe;
  for (const auto& [write, event] : {std::pair{kWritePipe, DWORD{0}}, std::pair{DWORD{0}, kReplyEvent}}) {
    channel.WritePipe = write;
    channel.ReplyEvent = event;
    HandlerOf(wire::kGetDirectXLevel)(context);
  }
  EXPECT_TRUE(calls.empty()) << "probed with nowhere to answer";
  EXPECT_TRUE(platform.replies.empty());
  EXPECT_TRUE(platform.events_at.empty());
}

}  // namespace
