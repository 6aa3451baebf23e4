// The filter graph manager (CLSID_FilterGraph): builds a playback graph for a
// file, lets its user rewire it, and runs it on the calling thread. There are
// no streaming threads: WaitForCompletion pumps the sources until every
// connected renderer has reached the end of its stream.
#pragma once

#include <string>
#include <vector>

#include "platform/dshow/media_description.h"
#include "platform/media/filter/filter.h"

namespace media {

class FilterGraph final : public IGraphBuilder,
                          public IMediaControl,
                          public IMediaEventEx,
                          public IMediaSeeking,
                          public IMediaFailure,
                          public IMediaDescription,
                          public RefCounted {
 public:
  FilterGraph() = default;

  IMPLEMENT_REFCOUNT
  HRESULT QueryInterface(REFIID riid, void** ppv) override;

  // Holds a reference on the filter until it is removed; a name already in
  // use gets a number appended.
  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
  // Takes the filter out of the graph; its connections stay as they are.
  HRESULT RemoveFilter(IBaseFilter* filter) override;
  HRESULT EnumFilters(IEnumFilters** out) override;
  // Breaks the pin's connection at both ends; S_FALSE when it had none.
  HRESULT Disconnect(IPin* pin) override;

  // Connects two pins of filters in this graph directly; E_POINTER for a
  // null pin.
  HRESULT Connect(IPin* out, IPin* in) override;
  // Adds a source filter named after the file and, for each of its streams,
  // a decoder and a null renderer. S_OK when every stream was rendered,
  // VFW_S_PARTIAL_RENDER when some were, a failure when none was or the file
  // cannot be opened. Why the file or its video failed is kept for
  // GetFailure.
  HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) override;

  HRESULT Run() override;
  HRESULT Pause() override;
  HRESULT Stop() override;
  HRESULT GetState(LONG timeout, OAFilterState* state) override;

  // While running: pumps until complete (S_OK, EC_COMPLETE) or until the
  // time-out in milliseconds runs out (E_ABORT); INFINITE waits for the end.
  // A graph whose sources have nothing more to give is complete.
  HRESULT WaitForCompletion(LONG timeout, LONG* eventCode) override;
  HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) override;

  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetCurrentPosition(LONGLONG* current) override;
  // A precise seek: the first picture delivered is the one shown at the
  // current position, and the streams end after the stop position; with
  // AM_SEEKING_SeekToKeyFrame, the key frame at or before it instead, which
  // only key frames are decoded to reach. While running it re-arms the end
  // of stream.
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;

  // The reason kept by the last RenderFile: the file's open, or the first
  // video stream that could not be rendered, or no video stream at all;
  // else what a filter of the graph found in the samples it took.
  HRESULT GetFailure(HRESULT* reason, char* codec, DWORD bytes) override;

  // The codecs of the file the last RenderFile opened.
  HRESULT GetCodecNames(char* video, char* audio, DWORD bytes) override;

 private:
  struct Entry {
    ComPtr<IBaseFilter> filter;
    std::wstring name;
  };

  ~FilterGraph() override;
  std::wstring UniqueName(LPCWSTR name) const;
  bool InGraph(IBaseFilter* filter) const;
  std::vector<Filter*> OwnFilters() const;
  HRESULT RenderPin(Pin* out);
  // Keeps the first video failure of a RenderFile, with its codec's name.
  void KeepVideoFailure(Pin* out, HRESULT hr);
  // Keeps the codec of the source's first video and first audio stream.
  void KeepCodecName(Pin* out);
  HRESULT RenderThrough(Filter* filter, LPCWSTR name, Pin* out);
  bool Complete() const;
  bool PumpSources();

  std::vector<Entry> filters_;
  FILTER_STATE state_ = State_Stopped;
  LONGLONG position_ = 0;
  LONGLONG stop_ = LLONG_MAX;
  HRESULT failure_ = S_OK;
  std::string failureCodec_;
  std::string videoCodec_;
  std::string audioCodec_;
  bool coverNamedVideo_ = false;  // videoCodec_ is a cover picture's
};

}  // namespace media
