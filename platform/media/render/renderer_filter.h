// The end of a branch: one input pin, and an end-of-stream state that the
// graph reads to decide when a run is complete. A seek or a new run re-arms
// it.
#pragma once

#include "platform/media/filter/filter.h"

namespace media {

class RendererFilter : public Filter {
 public:
  bool IsRenderer() const override { return true; }
  bool AtEndOfStream() const override { return endOfStream_; }
  HRESULT EndOfStream(Pin* in) override;
  void Flush(Pin* in, const Segment& segment) override;
  void OnRun() override;

 protected:
  RendererFilter();
  Pin* input() const { return input_; }
  void SetEndOfStream() { endOfStream_ = true; }
  // Called when a seek or a run re-arms the renderer.
  virtual void Rearm() {}

 private:
  Pin* input_;
  bool endOfStream_ = false;
};

// "Video Renderer" and "Audio Renderer": accept any type of their major type
// and drop what they receive.
class NullRenderer final : public RendererFilter {
 public:
  explicit NullRenderer(const GUID& majorType) : majorType_(majorType) {}
  HRESULT CheckInputType(Pin* in, const AM_MEDIA_TYPE& type) override;

 private:
  GUID majorType_;
};

}  // namespace media
