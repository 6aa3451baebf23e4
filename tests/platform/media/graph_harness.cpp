#include "tests/platform/media/graph_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/media/graph/media_classes.h"

namespace media_test {
namespace {

AM_MEDIA_TYPE ConnectionType(IPin* pin, bool* connected) {
  AM_MEDIA_TYPE mt{};
  *connected = pin->ConnectionMediaType(&mt) == S_OK;
  return mt;
}

void FreeType(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat) CoTaskMemFree(mt.pbFormat);
  if (mt.pUnk) mt.pUnk->Release();
  mt = AM_MEDIA_TYPE{};
}

std::vector<ComPtr<IPin>> Pins(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> e;
  if (FAILED(filter->EnumPins(e.put()))) return pins;
  IPin* pin = nullptr;
  while (e->Next(1, &pin, nullptr) == S_OK) pins.push_back(ComPtr<IPin>::Adopt(pin));
  return pins;
}

std::vector<ComPtr<IBaseFilter>> Filters(IGraphBuilder* graph) {
  std::vector<ComPtr<IBaseFilter>> filters;
  ComPtr<IEnumFilters> e;
  if (FAILED(graph->EnumFilters(e.put()))) return filters;
  IBaseFilter* f = nullptr;
  while (e->Next(1, &f, nullptr) == S_OK) filters.push_back(ComPtr<IBaseFilter>::Adopt(f));
  return filters;
}

std::wstring FilterName(IBaseFilter* filter) {
  FILTER_INFO info{};
  filter->QueryFilterInfo(&info);
  if (info.pGraph) info.pGraph->Release();
  return info.achName;
}

PIN_DIRECTION Direction(IPin* pin) {
  PIN_DIRECTION dir = PINDIR_INPUT;
  pin->QueryDirection(&dir);
  return dir;
}

// Removes everything downstream of `out`, the way the thumbnailer prunes.
void RemoveBranch(IGraphBuilder* graph, IPin* out) {
  ComPtr<IPin> peer;
  if (FAILED(out->ConnectedTo(peer.put())) || !peer) return;
  PIN_INFO info{};
  peer->QueryPinInfo(&info);
  ComPtr<IBaseFilter> downstream = ComPtr<IBaseFilter>::Adopt(info.pFilter);
  graph->Disconnect(out);
  graph->Disconnect(peer.get());
  for (auto& pin : Pins(downstream.get()))
    if (Direction(pin.get()) == PINDIR_OUTPUT) RemoveBranch(graph, pin.get());
  graph->RemoveFilter(downstream.get());
}

}  // namespace

std::wstring Wide(const std::string& s) {
  std::wstring w;
  for (unsigned char c : s) w += static_cast<wchar_t>(c);
  return w;
}

std::vector<FilterView> Describe(IGraphBuilder* graph) {
  std::vector<FilterView> out;
  for (auto& f : Filters(graph)) {
    FilterView view{FilterName(f.get()), {}};
    for (auto& pin : Pins(f.get())) {
      PIN_INFO info{};
      pin->QueryPinInfo(&info);
      if (info.pFilter) info.pFilter->Release();
      PinView p{info.dir, info.achName, false, GUID_NULL, GUID_NULL};
      AM_MEDIA_TYPE mt = ConnectionType(pin.get(), &p.connected);
      p.major = mt.majortype;
      p.sub = mt.subtype;
      FreeType(mt);
      view.pins.push_back(p);
    }
    out.push_back(view);
  }
  return out;
}

ComPtr<IBaseFilter> FindFilter(IGraphBuilder* graph, const std::wstring& name) {
  for (auto& f : Filters(graph))
    if (FilterName(f.get()) == name) return f;
  return nullptr;
}

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION dir) {
  for (auto& pin : Pins(filter))
    if (Direction(pin.get()) == dir) return pin;
  return nullptr;
}

GraphHarness::GraphHarness() {
  RegisterMediaClasses();
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.put_void()),
            S_OK);
  if (!graph_) return;
  graph_->QueryInterface(IID_IMediaControl, control_.put_void());
  graph_->QueryInterface(IID_IMediaEventEx, events_.put_void());
  graph_->QueryInterface(IID_IMediaSeeking, seeking_.put_void());
}

GraphHarness::~GraphHarness() = default;

HRESULT GraphHarness::Render(const std::string& path) {
  return graph_ ? graph_->RenderFile(Wide(path).c_str(), nullptr) : E_FAIL;
}

bool GraphHarness::Splice() {
  ComPtr<IBaseFilter> decoder = FindFilter(graph_.get(), L"Video Decoder");
  if (!decoder) return false;
  ComPtr<IPin> out = FirstPin(decoder.get(), PINDIR_OUTPUT);
  AM_MEDIA_TYPE mt{};
  if (!out || out->ConnectionMediaType(&mt) != S_OK) return false;
  decoderSubtype_ = mt.subtype;
  FreeType(mt);
  RemoveBranch(graph_.get(), out.get());

  if (FAILED(CoCreateInstance(CLSID_TarvenixSampleRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleRendererControl,
                              grabber_.put_void())))
    return false;
  ComPtr<IBaseFilter> grabFilter;
  grabber_->QueryInterface(IID_IBaseFilter, grabFilter.put_void());
  AM_MEDIA_TYPE want{};
  want.majortype = MEDIATYPE_Video;
  want.subtype = MEDIASUBTYPE_RGB24;
  want.formattype = FORMAT_VideoInfo;
  if (FAILED(grabber_->put_MediaType(&want))) return false;
  if (FAILED(graph_->AddFilter(grabFilter.get(), L"MyGrabber"))) return false;
  ComPtr<IPin> grabIn = FirstPin(grabFilter.get(), PINDIR_INPUT);
  ComPtr<IPin> from = out;
  if (decoderSubtype_ != MEDIASUBTYPE_RGB24) {
    ComPtr<IBaseFilter> converter;
    if (FAILED(CoCreateInstance(CLSID_Colour, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, converter.put_void())))
      return false;
    if (FAILED(graph_->AddFilter(converter.get(), L"Colorspace converter"))) return false;
    if (FAILED(graph_->Connect(out.get(), FirstPin(converter.get(), PINDIR_INPUT).get()))) return false;
    from = FirstPin(converter.get(), PINDIR_OUTPUT);
    usedConverter_ = true;
  }
  if (FAILED(graph_->Connect(from.get(), grabIn.get()))) return false;

  // Cut the branches of every other source pin.
  for (auto& f : Filters(graph_.get())) {
    if (FirstPin(f.get(), PINDIR_INPUT)) continue;  // sources only
    for (auto& pin : Pins(f.get())) {
      ComPtr<IPin> peer;
      if (FAILED(pin->ConnectedTo(peer.put()))) continue;
      PIN_INFO info{};
      peer->QueryPinInfo(&info);
      ComPtr<IBaseFilter> next = ComPtr<IBaseFilter>::Adopt(info.pFilter);
      if (next.get() != decoder.get()) RemoveBranch(graph_.get(), pin.get());
    }
  }
  grabber_->SetBufferSamples(TRUE);
  grabber_->SetOneShot(TRUE);
  return true;
}

bool GraphHarness::RunAt(double seconds) {
  LONGLONG at = static_cast<LONGLONG>(seconds * 10000000.0 + 0.5);
  if (FAILED(seeking_->SetPositions(&at, AM_SEEKING_AbsolutePositioning, &at, AM_SEEKING_AbsolutePositioning)))
    return false;
  if (FAILED(control_->Run())) return false;
  LONG code = 0;
  return events_->WaitForCompletion(static_cast<LONG>(INFINITE), &code) == S_OK && code == EC_COMPLETE;
}

Picture GraphHarness::Frame() {
  Picture pic;
  AM_MEDIA_TYPE* mt = nullptr;
  if (!grabber_ || FAILED(grabber_->get_MediaType(&mt)) || !mt || mt->cbFormat < sizeof(VIDEOINFOHEADER)) return pic;
  VIDEOINFOHEADER vih;
  std::memcpy(&vih, mt->pbFormat, sizeof vih);
  LONG size = 0;
  if (FAILED(grabber_->GetCurrentBuffer(&size, nullptr))) return pic;
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (FAILED(grabber_->GetCurrentBuffer(&size, bytes.data()))) return pic;
  EXPECT_EQ(vih.bmiHeader.biBitCount, 24);
  EXPECT_GT(vih.bmiHeader.biHeight, 0);
  int w = vih.bmiHeader.biWidth, h = std::abs(vih.bmiHeader.biHeight);
  size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
  EXPECT_EQ(static_cast<size_t>(size), stride * h);
  EXPECT_EQ(vih.bmiHeader.biSizeImage, stride * h);
  if (static_cast<size_t>(size) < stride * h) return pic;
  pic.width = w;
  pic.height = h;
  pic.bgr.resize(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    std::memcpy(&pic.bgr[static_cast<size_t>(y) * w * 3], &bytes[(h - 1 - y) * stride], static_cast<size_t>(w) * 3);
  return pic;
}

Picture GraphHarness::FrameAt(double seconds) {
  if (!RunAt(seconds)) return Picture{};
  return Frame();
}

FramePair FramesAt(const std::string& path, double seconds) {
  GraphHarness h;
  FramePair pair;
  EXPECT_TRUE(SUCCEEDED(h.Render(path)));
  EXPECT_TRUE(h.Splice());
  pair.ours = h.FrameAt(seconds);
  pair.reference = ReferenceFrame(path, seconds);
  return pair;
}

}  // namespace media_test
