// The sample renderer component on Windows: a renderer filter with one input
// pin that follows the shared sample renderer rules (what it accepts,
// one-shot, the kept sample), keeps a copy of the sample it takes and tells
// the graph when its stream ends. The graph seeks the source through it.
// Registered for the process by MediaClassRegistration, together with a
// stand-in colour space converter where the system has none.
#pragma once

#include <condition_variable>
#include <vector>

#include "platform/dshow/sample_renderer_rules.h"
#include "platform/windows/base_pins.h"
#include "platform/windows/seeking_forwarder.h"

class SampleRenderer final : public MediaFilter, public ISampleRendererControl, public IAMFilterMiscFlags {
 public:
  SampleRenderer();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override { return MediaFilter::QueryInterface(riid, ppv); }
  ULONG STDMETHODCALLTYPE AddRef() override { return MediaFilter::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return MediaFilter::Release(); }

  HRESULT put_MediaType(AM_MEDIA_TYPE* pType) override;
  HRESULT get_MediaType(AM_MEDIA_TYPE** ppType) override;
  HRESULT SetOneShot(BOOL oneShot) override;
  HRESULT SetBufferSamples(BOOL buffer) override;
  HRESULT GetCurrentBuffer(LONG* pBufferSize, BYTE* pBuffer) override;
  HRESULT GetBufferedTime(LONGLONG* pTime) override;

  // The graph counts this filter among the renderers whose end of stream
  // completes playback.
  ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

  ULONG PinCount() const override { return 1; }
  BasePin* PinAt(ULONG) override { return &input_; }

 private:
  class Input final : public InputPin {
   public:
    explicit Input(SampleRenderer& owner) : InputPin(owner, L"In"), owner_(owner) {}
    bool Accepts(const AM_MEDIA_TYPE& type) override { return owner_.Accepts(type); }

   protected:
    HRESULT OnReceive(IMediaSample* sample) override { return owner_.OnReceive(sample); }
    HRESULT OnEndOfStream() override { return owner_.OnEndOfStream(); }
    HRESULT OnBeginFlush() override { return owner_.OnBeginFlush(); }
    HRESULT OnEndFlush() override { return owner_.OnEndFlush(); }
    HRESULT OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME, double) override {
      owner_.OnNewSegment(start);
      return S_OK;
    }
    void OnDisconnect() override {
      InputPin::OnDisconnect();
      owner_.ForgetConnectionType();
    }

   private:
    SampleRenderer& owner_;
  };

  // The graph's seeking, which waits after a seek of a paused or running
  // graph until the sample at the new position (or the stream's end) is
  // here. A graph that leaves its completion signalled across a seek (Wine's
  // does) then still finds the new frame when its wait returns at once. A
  // seek to the end or past it goes to the last frame's start: a splitter
  // delivers nothing from the end itself, where the grabber asks for the
  // end to be shown its last frame.
  class Seeking final : public SeekingForwarder {
   public:
    explicit Seeking(SampleRenderer& owner) : SeekingForwarder(owner, owner.input_), owner_(owner) {}
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                           DWORD stopFlags) override;

   private:
    SampleRenderer& owner_;
  };

  IUnknown* ExtraInterface(REFIID riid) override;
  void OnStateChange(FILTER_STATE from, FILTER_STATE to) override;

  bool Accepts(const AM_MEDIA_TYPE& type);
  HRESULT OnReceive(IMediaSample* sample);
  HRESULT OnEndOfStream();
  HRESULT OnBeginFlush();
  HRESULT OnEndFlush();
  void OnNewSegment(REFERENCE_TIME start);
  void ForgetConnectionType();
  // Where a seek to `position` goes: the position, or the last frame's start
  // (the duration less one frame's time) when the position is at or past the
  // end and the frame's time is known.
  LONGLONG SeekTarget(LONGLONG position);
  // Waits, at most timeoutMs, for a sample or the end of the stream since
  // the last start or seek.
  void WaitForSample(DWORD timeoutMs);
  // Reports the end of the stream once per start or seek.
  void Complete();

  Input input_;
  Seeking seeking_;

  std::mutex lock_;
  std::condition_variable arrived_;
  SampleRendererRules rules_;
  // The connection's type as get_MediaType hands it out; the pointer stays
  // valid until the next connection or a change of format within the stream.
  MediaType current_;
  std::vector<BYTE> buffer_;
  // The kept sample's time from the start of the media, when it had one:
  // that of the sample GetCurrentBuffer hands out, even one kept before the
  // last seek because nothing came after it.
  REFERENCE_TIME bufferedTime_ = 0;
  bool bufferedTimeKnown_ = false;
  REFERENCE_TIME segmentStart_ = 0;
  bool flushing_ = false;
  bool completed_ = false;
};
