// The colour space converter (CLSID_Colour): any uncompressed video type the
// graph carries in, bottom-up RGB24 in a VIDEOINFOHEADER out, at the same
// size, with the colours a viewer sees (DisplayConverter). Its pictures are
// drawings (Sample::FromDrawing): converted when they are read, straight
// into the reader's memory, so that a kept picture costs its source alone
// and the one that is read exists once, in the reader's bitmap.
#pragma once

#include <memory>

#include "platform/media/filter/filter.h"
#include "platform/media/picture/display_converter.h"

namespace media {

class ColourConverter final : public Filter {
 public:
  ColourConverter();

  HRESULT CheckInputType(Pin* in, const AM_MEDIA_TYPE& type) override;
  HRESULT GetOutputType(Pin* out, int index, MediaType* type) override;
  HRESULT Receive(Pin* in, const SamplePtr& sample) override;
  HRESULT EndOfStream(Pin* in) override;
  void Flush(Pin* in, const Segment& segment) override;

 private:
  Pin* input_;
  Pin* output_;
  // Shared with the pictures it delivered, which may be read after the
  // filter is gone; they are read one at a time, on the graph's thread.
  std::shared_ptr<DisplayConverter> converter_;
};

}  // namespace media
