// The colour space converter (CLSID_Colour): any uncompressed video type the
// graph carries in, bottom-up RGB24 in a VIDEOINFOHEADER out, at the same
// size, with the colours a viewer sees (DisplayConverter).
#pragma once

#include "platform/media/base_filter.h"
#include "platform/media/display_converter.h"

namespace media {

class ColourConverter final : public BaseFilter {
 public:
  ColourConverter();

  HRESULT CheckInputType(BasePin* in, const AM_MEDIA_TYPE& type) override;
  HRESULT GetOutputType(BasePin* out, int index, MediaType* type) override;
  HRESULT Receive(BasePin* in, const SamplePtr& sample) override;
  HRESULT EndOfStream(BasePin* in) override;
  void Flush(BasePin* in, const Segment& segment) override;

 private:
  BasePin* input_;
  BasePin* output_;
  DisplayConverter converter_;
};

}  // namespace media
