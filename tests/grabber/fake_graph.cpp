#include "fake_graph.h"

#include <algorithm>
#include <cstring>

namespace {

std::string Narrow(LPCWSTR text) {
  std::string out;
  for (; text && *text; ++text) out += static_cast<char>(*text);
  return out;
}

FakePin* AsFake(IPin* pin) { return static_cast<FakePin*>(pin); }
FakeFilter* AsFake(IBaseFilter* filter) { return static_cast<FakeFilter*>(filter); }

}  // namespace

std::vector<BYTE> VideoInfoBlock(LONG width, LONG height, WORD bitCount) {
  VIDEOINFOHEADER v{};
  v.AvgTimePerFrame = 200000;
  v.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  v.bmiHeader.biWidth = width;
  v.bmiHeader.biHeight = height;
  v.bmiHeader.biPlanes = 1;
  v.bmiHeader.biBitCount = bitCount;
  v.bmiHeader.biCompression = BI_RGB;
  v.bmiHeader.biSizeImage = static_cast<DWORD>(((width * bitCount + 31) / 32) * 4 * (height < 0 ? -height : height));
  std::vector<BYTE> block(sizeof v);
  std::memcpy(block.data(), &v, sizeof v);
  return block;
}

FakeMediaType VideoType(const GUID& subtype, LONG width, LONG height) {
  return FakeMediaType{MEDIATYPE_Video, subtype, FORMAT_VideoInfo, VideoInfoBlock(width, height, 24)};
}

FakeMediaType AudioType() {
  return FakeMediaType{MEDIATYPE_Audio, FourccGuid('\x01', 0, 0, 0), FORMAT_WaveFormatEx,
                       std::vector<BYTE>(sizeof(WAVEFORMATEX), 0)};
}

// FakePin

HRESULT FakePin::QueryInterface(REFIID riid, void** ppv) {
  ++calls;
  return QueryInterfaceTable(riid, ppv, {{IID_IUnknown, this}, {IID_IPin, this}});
}

HRESULT FakePin::QueryPinInfo(PIN_INFO* info) {
  ++calls;
  if (FAILED(query_pin_info_hr)) return query_pin_info_hr;
  std::memset(info, 0, sizeof *info);
  info->pFilter = owner;
  owner->AddRef();
  info->dir = dir;
  return S_OK;
}

HRESULT FakePin::QueryDirection(PIN_DIRECTION*) {
  ADD_FAILURE() << "unexpected QueryDirection on " << name;
  return E_NOTIMPL;
}

HRESULT FakePin::ConnectedTo(IPin** pin) {
  ++calls;
  *pin = nullptr;
  if (FAILED(connected_to_hr)) return connected_to_hr;
  if (!peer) return VFW_E_NOT_CONNECTED;
  peer->AddRef();
  *pin = peer;
  return S_OK;
}

HRESULT FakePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  ++calls;
  if (connection_media_type_hr != S_OK) return connection_media_type_hr;
  if (!peer) return VFW_E_NOT_CONNECTED;
  const FakeMediaType& m = dir == PINDIR_OUTPUT ? media : peer->media;
  std::memset(type, 0, sizeof *type);
  type->majortype = m.majortype;
  type->subtype = m.subtype;
  type->formattype = m.formattype;
  type->bFixedSizeSamples = TRUE;
  type->lSampleSize = 1234;
  if (!m.format.empty()) {
    type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(m.format.size()));
    std::memcpy(type->pbFormat, m.format.data(), m.format.size());
    type->cbFormat = static_cast<ULONG>(m.format.size());
  }
  return S_OK;
}

// FakeEnumPins

HRESULT FakeEnumPins::QueryInterface(REFIID, void**) {
  ADD_FAILURE() << "unexpected QueryInterface on a pin enumerator";
  return E_NOINTERFACE;
}

HRESULT FakeEnumPins::Next(ULONG count, IPin** out, ULONG* fetched) {
  if (FAILED(next_hr)) return next_hr;
  ULONG n = 0;
  for (; n < count && position < pins.size(); ++n, ++position) {
    pins[position]->AddRef();
    out[n] = pins[position];
  }
  if (fetched) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT FakeEnumPins::Reset() {
  ADD_FAILURE() << "unexpected Reset of a pin enumerator";
  return E_NOTIMPL;
}

HRESULT FakeEnumPins::Skip(ULONG) {
  ADD_FAILURE() << "unexpected Skip of a pin enumerator";
  return E_NOTIMPL;
}

HRESULT FakeEnumPins::Clone(IEnumPins**) {
  ADD_FAILURE() << "unexpected Clone of a pin enumerator";
  return E_NOTIMPL;
}

// FakeFilter

HRESULT FakeFilter::QueryInterface(REFIID riid, void** ppv) {
  ++calls;
  return QueryInterfaceTable(riid, ppv, {{IID_IUnknown, this}, {IID_IBaseFilter, this}});
}

HRESULT FakeFilter::EnumPins(IEnumPins** out) {
  ++calls;
  *out = nullptr;
  if (FAILED(enum_pins_hr)) return enum_pins_hr;
  FakeEnumPins& e = world->pin_enums.emplace_back(pins, next_hr);
  e.AddRef();
  *out = &e;
  return S_OK;
}

HRESULT FakeFilter::QueryFilterInfo(FILTER_INFO* info) {
  ++calls;
  if (++query_filter_info_calls == query_filter_info_fail_at) return E_FAIL;
  if (FAILED(query_filter_info_hr)) return query_filter_info_hr;
  std::memset(info, 0, sizeof *info);
  for (size_t i = 0; i < name.size() && i + 1 < MAX_FILTER_NAME; ++i) info->achName[i] = name[i];
  if (graph) {
    graph->AddRef();
    info->pGraph = graph;
  }
  return S_OK;
}

HRESULT FakeFilter::JoinFilterGraph(IFilterGraph*, LPCWSTR) {
  ADD_FAILURE() << "unexpected JoinFilterGraph on " << name;
  return E_NOTIMPL;
}

FakePin* FakeFilter::Pin(const std::string& pinName) {
  for (FakePin* p : pins)
    if (p->name == pinName) return p;
  ADD_FAILURE() << name << " has no pin " << pinName;
  return nullptr;
}

ULONG FakeFilter::Release() {
  if (world->record_releases) world->releases.push_back(name);
  return --refs;
}

// FakeEnumFilters

HRESULT FakeEnumFilters::QueryInterface(REFIID, void**) {
  ADD_FAILURE() << "unexpected QueryInterface on a filter enumerator";
  return E_NOINTERFACE;
}

HRESULT FakeEnumFilters::Next(ULONG count, IBaseFilter** out, ULONG* fetched) {
  if (FAILED(next_hr)) return next_hr;
  ULONG n = 0;
  for (; n < count && n < filters.size(); ++n) {
    filters[n]->AddRef();
    out[n] = filters[n];
  }
  if (fetched) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT FakeEnumFilters::Reset() {
  ADD_FAILURE() << "unexpected Reset of a filter enumerator";
  return E_NOTIMPL;
}

// FakeGraph

HRESULT FakeGraph::QueryInterface(REFIID riid, void** ppv) {
  *ppv = nullptr;
  IUnknown* found = nullptr;
  HRESULT hr = S_OK;
  if (riid == IID_IUnknown || riid == IID_IFilterGraph || riid == IID_IGraphBuilder) {
    hr = qi_graph_builder_hr;
    found = static_cast<IGraphBuilder*>(this);
  } else if (riid == IID_IMediaControl) {
    hr = qi_control_hr;
    found = static_cast<IMediaControl*>(this);
  } else if (riid == IID_IMediaEventEx) {
    hr = qi_event_hr;
    found = static_cast<IMediaEventEx*>(this);
  } else if (riid == IID_IMediaSeeking) {
    hr = qi_seeking_hr;
    found = static_cast<IMediaSeeking*>(this);
  } else {
    return E_NOINTERFACE;
  }
  if (FAILED(hr)) return hr;
  AddRef();
  *ppv = found;
  return S_OK;
}

ULONG FakeGraph::Release() {
  if (world->record_releases) world->releases.push_back("graph");
  return --refs;
}

HRESULT FakeGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
  FakeFilter* f = AsFake(filter);
  if (FAILED(f->add_hr)) return f->add_hr;
  filters.push_back(f);
  f->graph = this;
  log.push_back("AddFilter " + f->name + " as " + Narrow(name));
  return S_OK;
}

HRESULT FakeGraph::RemoveFilter(IBaseFilter* filter) {
  FakeFilter* f = AsFake(filter);
  if (FAILED(f->remove_hr)) return f->remove_hr;
  auto it = std::find(filters.begin(), filters.end(), f);
  if (it == filters.end()) return VFW_E_NOT_FOUND;
  filters.erase(it);
  f->graph = nullptr;
  log.push_back("RemoveFilter " + f->name);
  return S_OK;
}

HRESULT FakeGraph::EnumFilters(IEnumFilters** out) {
  *out = nullptr;
  if (FAILED(enum_filters_hr)) return enum_filters_hr;
  FakeEnumFilters& e = world->filter_enums.emplace_back(filters, next_hr);
  e.AddRef();
  *out = &e;
  return S_OK;
}

HRESULT FakeGraph::Disconnect(IPin* pin) {
  FakePin* p = AsFake(pin);
  if (FAILED(p->disconnect_hr)) return p->disconnect_hr;
  if (!p->peer) return S_FALSE;
  p->peer = nullptr;
  log.push_back("Disconnect " + p->owner->name + "." + p->name);
  return S_OK;
}

HRESULT FakeGraph::Connect(IPin* out, IPin* in) {
  FakePin* o = AsFake(out);
  if (!in) {
    log.push_back("Connect " + o->owner->name + "." + o->name + " to nothing");
    return E_POINTER;
  }
  FakePin* i = AsFake(in);
  if (FAILED(o->connect_hr)) return o->connect_hr;
  if (o->peer || i->peer) return VFW_E_ALREADY_CONNECTED;
  o->peer = i;
  i->peer = o;
  log.push_back("Connect " + o->owner->name + "." + o->name + " to " + i->owner->name + "." + i->name);
  return S_OK;
}

HRESULT FakeGraph::RenderFile(LPCWSTR file, LPCWSTR playList) {
  EXPECT_EQ(playList, nullptr);
  rendered = file;
  return render_file_hr;
}

HRESULT FakeGraph::Run() {
  log.push_back("Run");
  return run_hr;
}

HRESULT FakeGraph::Pause() {
  ADD_FAILURE() << "unexpected Pause";
  return E_NOTIMPL;
}

HRESULT FakeGraph::Stop() {
  ADD_FAILURE() << "unexpected Stop";
  return E_NOTIMPL;
}

HRESULT FakeGraph::GetState(LONG, OAFilterState*) {
  ADD_FAILURE() << "unexpected GetState";
  return E_NOTIMPL;
}

HRESULT FakeGraph::WaitForCompletion(LONG timeout, LONG* code) {
  EXPECT_EQ(static_cast<DWORD>(timeout), INFINITE);
  log.push_back("Wait");
  if (FAILED(wait_hr)) return wait_hr;
  if (on_completion) on_completion();
  *code = EC_COMPLETE;
  return S_OK;
}

HRESULT FakeGraph::SetNotifyWindow(OAHWND hwnd, LONG message, LONG_PTR instance) {
  EXPECT_EQ(hwnd, 0);
  EXPECT_EQ(message, 0x8001);
  EXPECT_EQ(instance, 0);
  log.push_back("SetNotifyWindow");
  return set_notify_hr;
}

HRESULT FakeGraph::GetDuration(LONGLONG* d) {
  if (FAILED(get_duration_hr)) return get_duration_hr;
  *d = duration;
  return S_OK;
}

HRESULT FakeGraph::GetCurrentPosition(LONGLONG*) {
  ADD_FAILURE() << "unexpected GetCurrentPosition";
  return E_NOTIMPL;
}

HRESULT FakeGraph::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  EXPECT_EQ(currentFlags, AM_SEEKING_AbsolutePositioning);
  EXPECT_EQ(stopFlags, AM_SEEKING_AbsolutePositioning);
  EXPECT_EQ(*current, *stop);
  log.push_back("Seek " + std::to_string(*current));
  return S_OK;
}

bool FakeGraph::Contains(const std::string& filterName) const {
  for (FakeFilter* f : filters)
    if (f->name == filterName) return true;
  return false;
}

// FakeSampleRenderer

HRESULT FakeSampleRenderer::QueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IBaseFilter) {
    *ppv = nullptr;
    if (FAILED(qi_filter_hr)) return qi_filter_hr;
    filter->AddRef();
    *ppv = static_cast<IBaseFilter*>(filter);
    return S_OK;
  }
  return QueryInterfaceTable(riid, ppv, {{IID_IUnknown, this}, {IID_ISampleRendererControl, this}});
}

ULONG FakeSampleRenderer::Release() {
  if (world->record_releases) world->releases.push_back("sample renderer");
  return --refs;
}

HRESULT FakeSampleRenderer::put_MediaType(AM_MEDIA_TYPE* type) {
  FakeMediaType copy{type->majortype, type->subtype, type->formattype,
                     std::vector<BYTE>(type->pbFormat, type->pbFormat + type->cbFormat)};
  put_types.push_back(copy);
  return put_types.size() <= put_hrs.size() ? put_hrs[put_types.size() - 1] : S_OK;
}

HRESULT FakeSampleRenderer::get_MediaType(AM_MEDIA_TYPE** type) {
  *type = nullptr;
  if (FAILED(get_media_type_hr)) return get_media_type_hr;
  connected.pbFormat = connected_format.empty() ? nullptr : connected_format.data();
  connected.cbFormat = static_cast<ULONG>(connected_format.size());
  *type = &connected;
  return S_OK;
}

HRESULT FakeSampleRenderer::SetOneShot(BOOL value) {
  one_shot = value;
  return set_one_shot_hr;
}

HRESULT FakeSampleRenderer::SetBufferSamples(BOOL value) {
  buffer_samples = value;
  return set_buffer_samples_hr;
}

HRESULT FakeSampleRenderer::GetCurrentBuffer(LONG* size, BYTE* buffer) {
  if (!buffer) {
    if (FAILED(size_hr)) return size_hr;
    *size = static_cast<LONG>(sample.size());
    return S_OK;
  }
  copy_sizes.push_back(*size);
  if (FAILED(copy_hr)) return copy_hr;
  size_t n = std::min(sample.size(), static_cast<size_t>(static_cast<ULONG>(*size)));
  std::memcpy(buffer, sample.data(), n);
  return S_OK;
}

HRESULT FakeSampleRenderer::GetBufferedTime(LONGLONG* time) {
  if (!sample_time) return VFW_E_WRONG_STATE;
  *time = *sample_time;
  return S_OK;
}

void FakeSampleRenderer::Deliver(LONG width, LONG height, std::vector<BYTE> bytes, WORD bitCount) {
  connected = AM_MEDIA_TYPE{};
  connected.majortype = MEDIATYPE_Video;
  connected.subtype = MEDIASUBTYPE_RGB24;
  connected.formattype = FORMAT_VideoInfo;
  connected_format = VideoInfoBlock(width, height, bitCount);
  sample = std::move(bytes);
}

// FakeWorld

FakeWorld::FakeWorld() : task_blocks_at_start_(TaskMemOutstanding()) {
  graph_class_ = std::make_unique<ScopedClassRegistration>(CLSID_FilterGraph, [this](REFIID riid, void** ppv) {
    if (FAILED(create_graph_hr)) return create_graph_hr;
    return graph.QueryInterface(riid, ppv);
  });
  renderer_class_ =
      std::make_unique<ScopedClassRegistration>(CLSID_TarvenixSampleRenderer, [this](REFIID riid, void** ppv) {
        if (FAILED(create_renderer_hr)) return create_renderer_hr;
        if (renderers_created >= renderers.size()) {
          ADD_FAILURE() << "more sample renderers created than the test expected";
          return E_FAIL;
        }
        return renderers[renderers_created++]->QueryInterface(riid, ppv);
      });
  converter_class_ = std::make_unique<ScopedClassRegistration>(CLSID_Colour, [this](REFIID riid, void** ppv) {
    if (FAILED(create_converter_hr)) return create_converter_hr;
    if (converters_created >= converters.size()) {
      ADD_FAILURE() << "more colour space converters created than the test expected";
      return E_FAIL;
    }
    return converters[converters_created++]->QueryInterface(riid, ppv);
  });
}

FakeWorld::~FakeWorld() = default;

FakeFilter* FakeWorld::Filter(const std::string& name,
                              const std::vector<std::pair<std::string, PIN_DIRECTION>>& pinList, bool inGraph) {
  FakeFilter* f = &filters.emplace_back(this, name);
  for (const auto& [pinName, dir] : pinList) AddPin(f, pinName, dir);
  if (inGraph) {
    graph.filters.push_back(f);
    f->graph = &graph;
  }
  return f;
}

FakePin* FakeWorld::AddPin(FakeFilter* filter, const std::string& name, PIN_DIRECTION dir) {
  FakePin* p = &pins.emplace_back(name, dir, filter);
  filter->pins.push_back(p);
  return p;
}

void FakeWorld::Link(FakePin* out, FakePin* in) {
  out->peer = in;
  in->peer = out;
}

FakeSampleRenderer* FakeWorld::AddRenderer() {
  std::string name = "renderer" + std::to_string(renderers.size() + 1);
  FakeFilter* f = Filter(name, {{"In", PINDIR_INPUT}}, false);
  FakeSampleRenderer* r = &renderer_objects.emplace_back(this, f);
  renderers.push_back(r);
  return r;
}

FakeFilter* FakeWorld::AddConverter() {
  std::string name = "converter" + std::to_string(converters.size() + 1);
  FakeFilter* f = Filter(name, {{"In", PINDIR_INPUT}, {"Out", PINDIR_OUTPUT}}, false);
  f->Pin("Out")->media = VideoType(MEDIASUBTYPE_RGB24);
  converters.push_back(f);
  return f;
}

void FakeWorld::ExpectAllReleased() const {
  EXPECT_EQ(graph.refs, 1u) << "graph";
  for (const FakeFilter& f : filters) EXPECT_EQ(f.refs, 1u) << "filter " << f.name;
  for (const FakePin& p : pins) EXPECT_EQ(p.refs, 1u) << "pin " << p.owner->name << "." << p.name;
  for (const FakeEnumPins& e : pin_enums) EXPECT_EQ(e.refs, 1u) << "pin enumerator";
  for (const FakeEnumFilters& e : filter_enums) EXPECT_EQ(e.refs, 1u) << "filter enumerator";
  for (const FakeSampleRenderer& r : renderer_objects) EXPECT_EQ(r.refs, 1u) << "sample renderer";
  EXPECT_EQ(TaskMemOutstanding(), task_blocks_at_start_) << "task-allocator blocks left";
}

// TraceLog

TraceLog::TraceLog() : sink_([this](const std::string& text) { texts.push_back(text); }) {}

bool TraceLog::Has(const std::string& text) const { return Count(text) > 0; }

size_t TraceLog::Count(const std::string& text) const {
  return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
}

PlaybackGraph BuildPlayback(FakeWorld& world, const GUID& decoded, bool withAudio) {
  PlaybackGraph g;
  g.source = world.Filter("source", {{"Video", PINDIR_OUTPUT}});
  g.source->Pin("Video")->media = VideoType(FourccGuid('H', '2', '6', '4'));
  g.decoder = world.Filter("decoder", {{"In", PINDIR_INPUT}, {"Out", PINDIR_OUTPUT}});
  g.decoder->Pin("Out")->media = VideoType(decoded);
  g.videoRenderer = world.Filter("Video Renderer", {{"In", PINDIR_INPUT}});
  FakeWorld::Link(g.source->Pin("Video"), g.decoder->Pin("In"));
  FakeWorld::Link(g.decoder->Pin("Out"), g.videoRenderer->Pin("In"));
  if (withAudio) {
    FakePin* audio = world.AddPin(g.source, "Audio", PINDIR_OUTPUT);
    audio->media = AudioType();
    g.audioDecoder = world.Filter("audio decoder", {{"In", PINDIR_INPUT}, {"Out", PINDIR_OUTPUT}});
    g.audioDecoder->Pin("Out")->media = AudioType();
    g.audioRenderer = world.Filter("Audio Renderer", {{"In", PINDIR_INPUT}});
    FakeWorld::Link(audio, g.audioDecoder->Pin("In"));
    FakeWorld::Link(g.audioDecoder->Pin("Out"), g.audioRenderer->Pin("In"));
  }
  g.renderer = world.AddRenderer();
  return g;
}

void ExpectPrefix(const std::vector<std::string>& log, const std::vector<std::string>& full) {
  ASSERT_LE(log.size(), full.size());
  for (size_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i], full[i]) << "call " << i;
}
