#include "platform/windows/sample_renderer.h"

#include <chrono>
#include <cstring>

namespace {

// How long a seek waits for its frame. A stream that never delivers is cut
// off by the server's watchdog anyway; this only keeps the wait bounded.
constexpr DWORD kSeekFrameWaitMs = 5000;

}  // namespace

SampleRenderer::SampleRenderer() : MediaFilter(CLSID_TarvenixSampleRenderer), input_(*this), seeking_(*this) {}

IUnknown* SampleRenderer::ExtraInterface(REFIID riid) {
  if (riid == IID_ISampleRendererControl) return static_cast<ISampleRendererControl*>(this);
  if (riid == IID_IAMFilterMiscFlags) return static_cast<IAMFilterMiscFlags*>(this);
  if (riid == IID_IMediaSeeking) return &seeking_;
  return nullptr;
}

HRESULT SampleRenderer::put_MediaType(AM_MEDIA_TYPE* pType) {
  std::lock_guard<std::mutex> hold(lock_);
  return rules_.SetAcceptedType(pType);
}

bool SampleRenderer::Accepts(const AM_MEDIA_TYPE& type) {
  std::lock_guard<std::mutex> hold(lock_);
  return rules_.CheckType(type) == S_OK;
}

HRESULT SampleRenderer::get_MediaType(AM_MEDIA_TYPE** ppType) {
  if (!ppType) return E_POINTER;
  *ppType = nullptr;
  std::lock_guard<std::mutex> hold(lock_);
  if (current_.Empty()) {
    // The first call after a connection takes the pin's type.
    HRESULT hr = input_.CopyConnectionType(&current_);
    if (FAILED(hr)) return hr;
  }
  *ppType = &current_;
  return S_OK;
}

void SampleRenderer::ForgetConnectionType() {
  std::lock_guard<std::mutex> hold(lock_);
  current_.Clear();
}

HRESULT SampleRenderer::SetOneShot(BOOL oneShot) {
  std::lock_guard<std::mutex> hold(lock_);
  rules_.SetOneShot(oneShot);
  return S_OK;
}

HRESULT SampleRenderer::SetBufferSamples(BOOL buffer) {
  std::lock_guard<std::mutex> hold(lock_);
  rules_.SetBufferSamples(buffer);
  // The rules forget the kept sample, and so its time.
  if (!buffer) bufferedTimeKnown_ = false;
  return S_OK;
}

HRESULT SampleRenderer::GetCurrentBuffer(LONG* pBufferSize, BYTE* pBuffer) {
  std::lock_guard<std::mutex> hold(lock_);
  return rules_.GetCurrentBuffer(
      pBufferSize, pBuffer,
      [this](size_t* count) {
        *count = buffer_.size();
        return S_OK;
      },
      [this](BYTE* out, size_t n) {
        std::memcpy(out, buffer_.data(), n);
        return S_OK;
      });
}

HRESULT SampleRenderer::GetBufferedTime(LONGLONG* pTime) {
  if (!pTime) return E_POINTER;
  std::lock_guard<std::mutex> hold(lock_);
  if (!bufferedTimeKnown_) return VFW_E_WRONG_STATE;
  *pTime = bufferedTime_;
  return S_OK;
}

HRESULT SampleRenderer::OnReceive(IMediaSample* sample) {
  if (State() == State_Stopped) return VFW_E_WRONG_STATE;
  // Frames decoded only to reach the seek position are not the picture.
  if (sample->IsPreroll() == S_OK) return S_OK;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (flushing_ || !rules_.Wants()) return S_OK;
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed) {
      // A new format within the stream: later get_MediaType calls see it.
      HRESULT hr = current_.Assign(*changed);
      DeleteMediaType(changed);
      if (FAILED(hr)) return hr;
    }
    if (rules_.Keeps()) {
      BYTE* data = nullptr;
      const long length = sample->GetActualDataLength();
      if (FAILED(sample->GetPointer(&data)) || !data || length < 0) return E_FAIL;
      try {
        buffer_.assign(data, data + length);
      } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
      }
      // Sample times count from the segment's start, which the last seek
      // set; a key frame before the position sought comes with a negative
      // time.
      REFERENCE_TIME start = 0, end = 0;
      bufferedTimeKnown_ = SUCCEEDED(sample->GetTime(&start, &end));
      bufferedTime_ = segmentStart_ + start;
    }
    const bool ends = rules_.Take(rules_.Keeps());
    arrived_.notify_all();
    if (!ends) return S_OK;
  }
  Complete();
  return S_OK;
}

HRESULT SampleRenderer::OnEndOfStream() {
  // A stream that ends before any sample still completes, so a wait for
  // completion returns.
  Complete();
  return S_OK;
}

void SampleRenderer::Complete() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (completed_ || flushing_) return;
    completed_ = true;
    arrived_.notify_all();
  }
  NotifyGraph(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
}

HRESULT SampleRenderer::OnBeginFlush() {
  std::lock_guard<std::mutex> hold(lock_);
  flushing_ = true;
  return S_OK;
}

void SampleRenderer::OnNewSegment(REFERENCE_TIME start) {
  std::lock_guard<std::mutex> hold(lock_);
  segmentStart_ = start;
}

HRESULT SampleRenderer::OnEndFlush() {
  // A seek: the next sample is the picture at the new position.
  std::lock_guard<std::mutex> hold(lock_);
  flushing_ = false;
  rules_.Rearm();
  completed_ = false;
  return S_OK;
}

void SampleRenderer::WaitForSample(DWORD timeoutMs) {
  std::unique_lock<std::mutex> hold(lock_);
  arrived_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return rules_.Taken() || completed_; });
}

LONGLONG SampleRenderer::SeekTarget(LONGLONG position) {
  LONGLONG duration = 0;
  MediaType type;
  if (FAILED(seeking_.GetDuration(&duration)) || position < duration ||
      FAILED(input_.CopyConnectionType(&type)))
    return position;
  const VIDEOINFOHEADER* video = VideoInfoOf(type);
  const REFERENCE_TIME frame = video ? video->AvgTimePerFrame : 0;
  return frame > 0 && frame <= duration ? duration - frame : position;
}

HRESULT SampleRenderer::Seeking::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                              DWORD stopFlags) {
  const DWORD positioning = currentFlags & AM_SEEKING_PositioningBitsMask;
  LONGLONG target = 0;
  if (current) target = positioning == AM_SEEKING_AbsolutePositioning ? owner_.SeekTarget(*current) : *current;
  HRESULT hr = SeekingForwarder::SetPositions(current ? &target : nullptr, currentFlags, stop, stopFlags);
  if (current && (currentFlags & AM_SEEKING_ReturnTime)) *current = target;
  // A stopped graph streams nothing until it runs; its first completion is
  // still to come, so there is nothing to wait for.
  if (SUCCEEDED(hr) && positioning != AM_SEEKING_NoPositioning && owner_.State() != State_Stopped)
    owner_.WaitForSample(kSeekFrameWaitMs);
  return hr;
}

void SampleRenderer::OnStateChange(FILTER_STATE from, FILTER_STATE to) {
  std::lock_guard<std::mutex> hold(lock_);
  if (from == State_Stopped || to == State_Stopped) {
    rules_.Rearm();
    completed_ = false;
  }
}
