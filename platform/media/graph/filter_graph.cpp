#include "platform/media/graph/filter_graph.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "platform/media/decode/audio_decoder.h"
#include "platform/media/decode/video_decoder.h"
#include "platform/media/ffmpeg/ffmpeg_errors.h"
#include "platform/media/graph/enumerator.h"
#include "platform/media/render/renderer_filter.h"
#include "platform/media/source/ffmpeg_source_filter.h"

namespace media {
namespace {

// Each wide character of the path stands for one byte of the file name, the
// way the caller widened it; a path with characters beyond a byte is taken as
// Unicode and written in UTF-8.
std::string NarrowPath(LPCWSTR path, bool utf8) {
  std::string out;
  for (const WCHAR* p = path; *p; ++p) {
    auto c = static_cast<uint32_t>(*p);
    if (!utf8 && c <= 0xFF) {
      out += static_cast<char>(c);
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | ((c >> 18) & 0x07));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool HasCharactersBeyondAscii(LPCWSTR path) {
  for (const WCHAR* p = path; *p; ++p)
    if (static_cast<uint32_t>(*p) >= 0x80) return true;
  return false;
}

}  // namespace

FilterGraph::~FilterGraph() {
  for (Entry& e : filters_) e.filter->JoinFilterGraph(nullptr, nullptr);
}

HRESULT FilterGraph::QueryInterface(REFIID riid, void** ppv) {
  return QueryInterfaceTable(riid, ppv,
                             {{IID_IUnknown, static_cast<IGraphBuilder*>(this)},
                              {IID_IFilterGraph, static_cast<IGraphBuilder*>(this)},
                              {IID_IGraphBuilder, static_cast<IGraphBuilder*>(this)},
                              {IID_IMediaControl, static_cast<IMediaControl*>(this)},
                              {IID_IMediaEvent, static_cast<IMediaEventEx*>(this)},
                              {IID_IMediaEventEx, static_cast<IMediaEventEx*>(this)},
                              {IID_IMediaSeeking, static_cast<IMediaSeeking*>(this)},
                              {IID_IMediaFailure, static_cast<IMediaFailure*>(this)},
                              {IID_IMediaDescription, static_cast<IMediaDescription*>(this)}});
}

std::wstring FilterGraph::UniqueName(LPCWSTR name) const {
  std::wstring base = name && *name ? name : L"Filter";
  base.resize(std::min<size_t>(base.size(), MAX_FILTER_NAME - 6));
  auto taken = [this](const std::wstring& n) {
    return std::any_of(filters_.begin(), filters_.end(), [&](const Entry& e) { return e.name == n; });
  };
  std::wstring candidate = base;
  for (int i = 1; taken(candidate) && i < 10000; ++i) {
    wchar_t suffix[8];
    swprintf(suffix, 8, L" %04d", i);
    candidate = base + suffix;
  }
  return candidate;
}

bool FilterGraph::InGraph(IBaseFilter* filter) const {
  return std::any_of(filters_.begin(), filters_.end(), [&](const Entry& e) { return e.filter.get() == filter; });
}

HRESULT FilterGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
  if (!filter) return E_POINTER;
  if (InGraph(filter)) return E_INVALIDARG;
  try {
    std::wstring unique = UniqueName(name);
    filters_.reserve(filters_.size() + 1);
    HRESULT hr = filter->JoinFilterGraph(this, unique.c_str());
    if (FAILED(hr)) return hr;
    filters_.push_back({ComPtr<IBaseFilter>::Share(filter), std::move(unique)});
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT FilterGraph::RemoveFilter(IBaseFilter* filter) {
  if (!filter) return E_POINTER;
  auto it = std::find_if(filters_.begin(), filters_.end(), [&](const Entry& e) { return e.filter.get() == filter; });
  if (it == filters_.end()) return VFW_E_NOT_FOUND;
  filter->JoinFilterGraph(nullptr, nullptr);
  filters_.erase(it);
  return S_OK;
}

HRESULT FilterGraph::EnumFilters(IEnumFilters** out) {
  if (!out) return E_POINTER;
  try {
    std::vector<IBaseFilter*> list;
    for (Entry& e : filters_) list.push_back(e.filter.get());
    *out = new FilterEnumerator(static_cast<IGraphBuilder*>(this), list);
    return S_OK;
  } catch (const std::bad_alloc&) {
    *out = nullptr;
    return E_OUTOFMEMORY;
  }
}

HRESULT FilterGraph::Disconnect(IPin* pin) {
  if (!pin) return E_POINTER;
  Pin* own = AsPin(pin);
  if (!own) return VFW_E_NOT_FOUND;
  return own->Disconnect();
}

HRESULT FilterGraph::Connect(IPin* out, IPin* in) {
  if (!out || !in) return E_POINTER;
  Pin* from = AsPin(out);
  Pin* to = AsPin(in);
  if (!from || !to) return VFW_E_CANNOT_CONNECT;
  if (!InGraph(from->filter()) || !InGraph(to->filter())) return VFW_E_NOT_IN_GRAPH;
  return ConnectPins(from, to);
}

std::vector<Filter*> FilterGraph::OwnFilters() const {
  std::vector<Filter*> own;
  for (const Entry& e : filters_)
    if (Filter* f = AsFilter(e.filter.get())) own.push_back(f);
  return own;
}

// Adds `filter` under `name`, connects `out` to its input and renders its
// output in turn; on failure the filter leaves the graph again.
HRESULT FilterGraph::RenderThrough(Filter* filter, LPCWSTR name, Pin* out) {
  HRESULT hr = AddFilter(filter, name);
  if (FAILED(hr)) return hr;
  Pin* in = nullptr;
  Pin* next = nullptr;
  for (auto& pin : filter->pins()) (pin->direction() == PINDIR_INPUT ? in : next) = pin.get();
  hr = ConnectPins(out, in);
  if (SUCCEEDED(hr) && next) hr = RenderPin(next);
  if (FAILED(hr)) {
    in->Disconnect();
    RemoveFilter(filter);
  }
  return hr;
}

HRESULT FilterGraph::RenderPin(Pin* out) {
  MediaType offered;
  if (out->filter()->GetOutputType(out, 0, &offered) != S_OK) return VFW_E_CANNOT_RENDER;
  bool video = offered.majortype == MEDIATYPE_Video;
  if (offered.majortype != MEDIATYPE_Video && offered.majortype != MEDIATYPE_Audio) return VFW_E_CANNOT_RENDER;
  // A compressed stream goes through a decoder, anything else to a renderer.
  if (const StreamInfo* info = StreamInfoOf(offered)) {
    if (!DecoderFilter::CanDecode(*info)) return E_MEDIA_NO_DECODER;
    Filter* decoder = video ? static_cast<Filter*>(new (std::nothrow) VideoDecoder)
                                : static_cast<Filter*>(new (std::nothrow) AudioDecoder);
    if (!decoder) return E_OUTOFMEMORY;
    ComPtr<Filter> own = ComPtr<Filter>::Adopt(decoder);
    return RenderThrough(decoder, video ? L"Video Decoder" : L"Audio Decoder", out);
  }
  auto* renderer = new (std::nothrow) NullRenderer(offered.majortype);
  if (!renderer) return E_OUTOFMEMORY;
  ComPtr<Filter> own = ComPtr<Filter>::Adopt(renderer);
  return RenderThrough(renderer, video ? L"Video Renderer" : L"Audio Renderer", out);
}

HRESULT FilterGraph::RenderFile(LPCWSTR file, LPCWSTR) {
  if (!file) return E_POINTER;
  try {
    ComPtr<FfmpegSourceFilter> source;
    failure_ = S_OK;
    failureCodec_.clear();
    HRESULT hr = FfmpegSourceFilter::Open(NarrowPath(file, false), &source);
    if (hr == kFileNotFound && HasCharactersBeyondAscii(file))
      hr = FfmpegSourceFilter::Open(NarrowPath(file, true), &source);
    failure_ = hr;
    if (FAILED(hr)) return hr;
    hr = AddFilter(source.get(), file);
    if (FAILED(hr)) return hr;
    failure_ = E_MEDIA_NO_VIDEO;
    videoCodec_.clear();
    audioCodec_.clear();
    coverNamedVideo_ = false;
    size_t rendered = 0, total = 0;
    for (auto& pin : source->pins()) {
      ++total;
      KeepCodecName(pin.get());
      HRESULT pinResult = RenderPin(pin.get());
      if (SUCCEEDED(pinResult)) ++rendered;
      KeepVideoFailure(pin.get(), pinResult);
    }
    if (rendered == 0) {
      RemoveFilter(source.get());
      return VFW_E_CANNOT_RENDER;
    }
    return rendered == total ? S_OK : VFW_S_PARTIAL_RENDER;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

namespace {

// A codec's short name; for an id FFmpeg does not know, the container's tag.
std::string CodecName(const AVCodecParameters& par) {
  if (par.codec_id != AV_CODEC_ID_NONE) return avcodec_get_name(par.codec_id);
  if (!par.codec_tag) return {};
  char tag[AV_FOURCC_MAX_STRING_SIZE] = {};
  return av_fourcc_make_string(tag, par.codec_tag);
}

void CopyName(const std::string& name, char* out, DWORD bytes) {
  if (!out || bytes == 0) return;
  const size_t n = std::min<size_t>(name.size(), bytes - 1);
  std::memcpy(out, name.data(), n);
  out[n] = '\0';
}

}  // namespace

void FilterGraph::KeepCodecName(Pin* out) {
  MediaType offered;
  if (out->filter()->GetOutputType(out, 0, &offered) != S_OK) return;
  const StreamInfo* info = StreamInfoOf(offered);
  if (!info || !info->codecpar) return;
  // A cover picture names the video codec only of a file with no other video.
  const bool video = offered.majortype == MEDIATYPE_Video;
  std::string& kept = video ? videoCodec_ : audioCodec_;
  if (kept.empty() || (video && coverNamedVideo_ && !info->attachedPicture)) {
    kept = CodecName(*info->codecpar);
    if (video) coverNamedVideo_ = info->attachedPicture;
  }
}

HRESULT FilterGraph::GetCodecNames(char* video, char* audio, DWORD bytes) {
  CopyName(videoCodec_, video, bytes);
  CopyName(audioCodec_, audio, bytes);
  return S_OK;
}

void FilterGraph::KeepVideoFailure(Pin* out, HRESULT hr) {
  MediaType offered;
  if (out->filter()->GetOutputType(out, 0, &offered) != S_OK || offered.majortype != MEDIATYPE_Video) return;
  // One rendered video stream clears the lack of one; a failure before it
  // stays, the first one kept.
  if (failure_ == E_MEDIA_NO_VIDEO) failure_ = S_OK;
  if (SUCCEEDED(hr) || FAILED(failure_)) return;
  failure_ = hr;
  const StreamInfo* info = StreamInfoOf(offered);
  if (!info || !info->codecpar) return;
  failureCodec_ = CodecName(*info->codecpar);
}

HRESULT FilterGraph::GetFailure(HRESULT* reason, char* codec, DWORD bytes) {
  if (!reason) return E_POINTER;
  *reason = failure_;
  std::string name = failureCodec_;
  if (SUCCEEDED(*reason)) {
    name.clear();
    for (Filter* f : OwnFilters())
      if (FAILED(f->Failure())) *reason = f->Failure();
  }
  CopyName(name, codec, bytes);
  return S_OK;
}

HRESULT FilterGraph::Run() {
  // Every run re-arms the renderers: a renderer that ends its stream after
  // one sample takes the next one.
  for (Filter* f : OwnFilters()) f->OnRun();
  state_ = State_Running;
  return S_OK;
}

HRESULT FilterGraph::Pause() {
  state_ = State_Paused;
  return S_OK;
}

HRESULT FilterGraph::Stop() {
  state_ = State_Stopped;
  return S_OK;
}

HRESULT FilterGraph::GetState(LONG, OAFilterState* state) {
  if (!state) return E_POINTER;
  *state = state_;
  return S_OK;
}

bool FilterGraph::Complete() const {
  for (Filter* f : OwnFilters()) {
    if (!f->IsRenderer() || f->AtEndOfStream()) continue;
    for (auto& pin : f->pins())
      if (pin->direction() == PINDIR_INPUT && pin->connected()) return false;
  }
  return true;
}

bool FilterGraph::PumpSources() {
  bool progress = false;
  for (Filter* f : OwnFilters())
    if (f->IsSource() && f->Pump() == S_OK) progress = true;
  return progress;
}

HRESULT FilterGraph::WaitForCompletion(LONG timeout, LONG* eventCode) {
  if (!eventCode) return E_POINTER;
  *eventCode = 0;
  if (state_ != State_Running) return VFW_E_WRONG_STATE;
  using Clock = std::chrono::steady_clock;
  bool forever = timeout < 0;  // INFINITE
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeout);
  try {
    for (;;) {
      if (Complete() || !PumpSources()) {
        *eventCode = EC_COMPLETE;
        return S_OK;
      }
      if (!forever && Clock::now() >= deadline) return E_ABORT;
    }
  } catch (const std::bad_alloc&) {
    *eventCode = EC_ERRORABORT;
    return E_OUTOFMEMORY;
  }
}

HRESULT FilterGraph::SetNotifyWindow(OAHWND, LONG, LONG_PTR) { return S_OK; }

HRESULT FilterGraph::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  HRESULT result = E_FAIL;
  for (Filter* f : OwnFilters()) {
    LONGLONG d = 0;
    if (!f->IsSource() || FAILED(f->GetDuration(&d))) continue;
    if (FAILED(result) || d > *duration) *duration = d;
    result = S_OK;
  }
  return result;
}

HRESULT FilterGraph::GetCurrentPosition(LONGLONG* current) {
  if (!current) return E_POINTER;
  *current = position_;
  return S_OK;
}

HRESULT FilterGraph::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  DWORD how = currentFlags & AM_SEEKING_PositioningBitsMask;
  DWORD stopHow = stopFlags & AM_SEEKING_PositioningBitsMask;
  if ((how != AM_SEEKING_NoPositioning && !current) || (stopHow != AM_SEEKING_NoPositioning && !stop)) return E_POINTER;
  if (stopHow == AM_SEEKING_AbsolutePositioning) stop_ = *stop;
  if (stopHow == AM_SEEKING_RelativePositioning) stop_ += *stop;
  if (how == AM_SEEKING_NoPositioning) return S_OK;
  LONGLONG position = how == AM_SEEKING_AbsolutePositioning ? *current : position_ + *current;
  if (position < 0) position = 0;
  HRESULT result = E_NOTIMPL;
  try {
    for (Filter* f : OwnFilters()) {
      if (!f->IsSource()) continue;
      HRESULT hr = f->Seek(position, stop_, (currentFlags & AM_SEEKING_SeekToKeyFrame) != 0);
      if (SUCCEEDED(hr) || FAILED(result)) result = hr;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (SUCCEEDED(result)) position_ = position;
  return result;
}

}  // namespace media
