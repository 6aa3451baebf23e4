// Fake filters, pins, enumerators, a fake filter graph manager, a fake sample
// renderer and a fake colour space converter for the grabber's unit tests.
//
// Every fake is owned by a FakeWorld and starts with one reference, the
// test's own; Release never frees, so a count is an exact number and a test
// ends by checking that each fake is back at 1 (above: a leak, below: a
// double release). Each call has a *_hr field for injected failures; calls
// the grabber should never make fail the test.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/com_runtime.h"
#include "platform/dshow/dshow.h"
#include "platform/trace.h"

class FakeWorld;
class FakeFilter;
class FakeGraph;

// The fields the grabber looks at, with a format block of its own.
struct FakeMediaType {
  GUID majortype = GUID_NULL;
  GUID subtype = GUID_NULL;
  GUID formattype = GUID_NULL;
  std::vector<BYTE> format;
};

// A VIDEOINFOHEADER format block for a frame of this geometry.
std::vector<BYTE> VideoInfoBlock(LONG width, LONG height, WORD bitCount);
FakeMediaType VideoType(const GUID& subtype, LONG width = 4, LONG height = 2);
FakeMediaType AudioType();

class FakePin final : public IPin {
 public:
  FakePin(std::string name, PIN_DIRECTION dir, FakeFilter* owner) : name(std::move(name)), dir(dir), owner(owner) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PIN_DIRECTION*) override;
  HRESULT ConnectedTo(IPin** pin) override;
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override;

  ULONG refs = 1;
  std::string name;
  PIN_DIRECTION dir;
  FakeFilter* owner;
  FakePin* peer = nullptr;
  FakeMediaType media;  // what a connection from this output pin carries
  int calls = 0;        // any call at all
  HRESULT query_pin_info_hr = S_OK;
  HRESULT connected_to_hr = S_OK;
  HRESULT connection_media_type_hr = S_OK;
  HRESULT disconnect_hr = S_OK;  // the graph's Disconnect of this pin
  HRESULT connect_hr = S_OK;     // the graph's Connect from this pin
};

class FakeEnumPins final : public IEnumPins {
 public:
  FakeEnumPins(std::vector<FakePin*> pins, HRESULT next_hr) : pins(std::move(pins)), next_hr(next_hr) {}
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT Next(ULONG count, IPin** out, ULONG* fetched) override;
  HRESULT Skip(ULONG count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumPins** clone) override;

  ULONG refs = 1;
  std::vector<FakePin*> pins;
  HRESULT next_hr;
  size_t position = 0;
};

class FakeFilter final : public IBaseFilter {
 public:
  FakeFilter(FakeWorld* world, std::string name) : world(world), name(std::move(name)) {}
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override;
  HRESULT EnumPins(IEnumPins** out) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT JoinFilterGraph(IFilterGraph*, LPCWSTR) override;

  FakePin* Pin(const std::string& pinName);

  ULONG refs = 1;
  FakeWorld* world;
  std::string name;
  std::vector<FakePin*> pins;
  FakeGraph* graph = nullptr;  // set while the filter is in the graph
  int calls = 0;
  HRESULT enum_pins_hr = S_OK;
  HRESULT next_hr = S_OK;  // of the enumerators it hands out
  HRESULT query_filter_info_hr = S_OK;
  int query_filter_info_calls = 0;
  int query_filter_info_fail_at = 0;  // the call number that fails, 0 for none
  HRESULT add_hr = S_OK;     // the graph's AddFilter of this filter
  HRESULT remove_hr = S_OK;  // the graph's RemoveFilter of this filter
};

class FakeEnumFilters final : public IEnumFilters {
 public:
  FakeEnumFilters(std::vector<FakeFilter*> filters, HRESULT next_hr) : filters(std::move(filters)), next_hr(next_hr) {}
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT Next(ULONG count, IBaseFilter** out, ULONG* fetched) override;
  HRESULT Reset() override;

  ULONG refs = 1;
  std::vector<FakeFilter*> filters;
  HRESULT next_hr;
};

// The filter graph manager with all four of its interfaces on one count. It
// keeps no references on its filters, so each fake's count says only what
// the grabber holds.
class FakeGraph final : public IGraphBuilder, public IMediaControl, public IMediaEventEx, public IMediaSeeking {
 public:
  explicit FakeGraph(FakeWorld* world) : world(world) {}
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override;
  // IFilterGraph, IGraphBuilder
  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
  HRESULT RemoveFilter(IBaseFilter* filter) override;
  HRESULT EnumFilters(IEnumFilters** out) override;
  HRESULT Disconnect(IPin* pin) override;
  HRESULT Connect(IPin* out, IPin* in) override;
  HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) override;
  // IMediaControl
  HRESULT Run() override;
  HRESULT Pause() override;
  HRESULT Stop() override;
  HRESULT GetState(LONG, OAFilterState*) override;
  // IMediaEventEx
  HRESULT WaitForCompletion(LONG timeout, LONG* code) override;
  HRESULT SetNotifyWindow(OAHWND hwnd, LONG message, LONG_PTR instance) override;
  // IMediaSeeking
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetCurrentPosition(LONGLONG*) override;
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;

  bool Contains(const std::string& filterName) const;

  ULONG refs = 1;
  FakeWorld* world;
  std::vector<FakeFilter*> filters;  // in the graph, in enumeration order
  std::vector<std::string> log;      // the surgery and running calls, in order
  std::wstring rendered;             // the path RenderFile was given
  LONGLONG duration = 100000000;     // 10 s
  std::function<void()> on_completion;  // what a run delivers, before Wait returns
  HRESULT qi_graph_builder_hr = S_OK;
  HRESULT qi_event_hr = S_OK;
  HRESULT qi_control_hr = S_OK;
  HRESULT qi_seeking_hr = S_OK;
  HRESULT enum_filters_hr = S_OK;
  HRESULT next_hr = S_OK;
  HRESULT render_file_hr = S_OK;
  HRESULT run_hr = S_OK;
  HRESULT wait_hr = S_OK;
  HRESULT set_notify_hr = S_OK;
  HRESULT get_duration_hr = S_OK;
};

// The sample renderer: its control interface here, its filter (one input
// pin unless the test takes it away) a FakeFilter of the world.
class FakeSampleRenderer final : public ISampleRendererControl {
 public:
  FakeSampleRenderer(FakeWorld* world, FakeFilter* filter) : world(world), filter(filter) {}
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override;
  HRESULT put_MediaType(AM_MEDIA_TYPE* type) override;
  HRESULT get_MediaType(AM_MEDIA_TYPE** type) override;
  HRESULT SetOneShot(BOOL oneShot) override;
  HRESULT SetBufferSamples(BOOL buffer) override;
  HRESULT GetCurrentBuffer(LONG* size, BYTE* buffer) override;
  // The time given with the sample, or a failure without one.
  HRESULT GetBufferedTime(LONGLONG* time) override;

  // Buffers a sample of the given bytes with a connected RGB24 type.
  void Deliver(LONG width, LONG height, std::vector<BYTE> sample, WORD bitCount = 24);

  ULONG refs = 1;
  FakeWorld* world;
  FakeFilter* filter;
  std::vector<FakeMediaType> put_types;  // deep copies of what put_MediaType was given
  std::vector<HRESULT> put_hrs;          // per call, S_OK beyond the list
  BOOL one_shot = FALSE;
  BOOL buffer_samples = FALSE;
  AM_MEDIA_TYPE connected{};  // what get_MediaType hands out; format block in connected_format
  std::vector<BYTE> connected_format;
  std::vector<BYTE> sample;
  std::optional<LONGLONG> sample_time;
  std::vector<LONG> copy_sizes;  // sizes asked for by GetCurrentBuffer with a buffer
  HRESULT qi_filter_hr = S_OK;
  HRESULT get_media_type_hr = S_OK;
  HRESULT size_hr = S_OK;  // GetCurrentBuffer with a null buffer
  HRESULT copy_hr = S_OK;  // GetCurrentBuffer with a buffer, which then copies nothing
  HRESULT set_one_shot_hr = S_OK;
  HRESULT set_buffer_samples_hr = S_OK;
};

// Owns every fake and registers the three classes the grabber creates for
// its lifetime. Renderers and converters are handed out in creation order.
class FakeWorld {
 public:
  FakeWorld();
  ~FakeWorld();

  FakeFilter* Filter(const std::string& name, const std::vector<std::pair<std::string, PIN_DIRECTION>>& pins,
                     bool inGraph = true);
  FakePin* AddPin(FakeFilter* filter, const std::string& name, PIN_DIRECTION dir);
  // Connects two pins as RenderFile would have.
  static void Link(FakePin* out, FakePin* in);
  FakeSampleRenderer* AddRenderer();
  FakeFilter* AddConverter();

  // Every fake back at its one reference and no task-allocator block left.
  void ExpectAllReleased() const;

  FakeGraph graph{this};
  std::vector<FakeSampleRenderer*> renderers;
  std::vector<FakeFilter*> converters;
  size_t renderers_created = 0;
  size_t converters_created = 0;
  HRESULT create_graph_hr = S_OK;
  HRESULT create_renderer_hr = S_OK;
  HRESULT create_converter_hr = S_OK;
  // While set, the graph, filters and sample renderers name themselves here
  // on each Release.
  bool record_releases = false;
  std::vector<std::string> releases;

  std::deque<FakeFilter> filters;
  std::deque<FakePin> pins;
  std::deque<FakeEnumPins> pin_enums;
  std::deque<FakeEnumFilters> filter_enums;
  std::deque<FakeSampleRenderer> renderer_objects;

 private:
  size_t task_blocks_at_start_;
  std::unique_ptr<ScopedClassRegistration> graph_class_;
  std::unique_ptr<ScopedClassRegistration> renderer_class_;
  std::unique_ptr<ScopedClassRegistration> converter_class_;
};

// Collects the trace texts while it lives.
class TraceLog {
 public:
  TraceLog();
  bool Has(const std::string& text) const;
  size_t Count(const std::string& text) const;
  std::vector<std::string> texts;

 private:
  ScopedTraceSink sink_;
};

// The graph RenderFile builds for a file: "source" with a "Video" output
// (compressed) into "decoder" (In, Out delivering `decoded`) into "Video
// Renderer"; with audio also the source's "Audio" output into "audio decoder"
// into "Audio Renderer". One sample renderer is ready to be created.
struct PlaybackGraph {
  FakeFilter* source = nullptr;
  FakeFilter* decoder = nullptr;
  FakeFilter* videoRenderer = nullptr;
  FakeFilter* audioDecoder = nullptr;
  FakeFilter* audioRenderer = nullptr;
  FakeSampleRenderer* renderer = nullptr;
};
PlaybackGraph BuildPlayback(FakeWorld& world, const GUID& decoded, bool withAudio = false);

// The calls a failed run made are the start of those a clean run makes:
// nothing more, nothing undone.
void ExpectPrefix(const std::vector<std::string>& log, const std::vector<std::string>& full);
