// The colour space converter (CLSID_Colour): any uncompressed video type the
// graph carries in, bottom-up RGB24 in a VIDEOINFOHEADER out, at the same
// size or within a longer edge, with the colours a viewer sees
// (DisplayConverter). Its pictures are
// drawings (Sample::FromDrawing): converted when they are read, straight
// into the reader's memory, so that a kept picture costs its source alone
// and the one that is read exists once, in the reader's bitmap. Asked for a
// longer edge (IScaledOutput), it scales in the same pass, before the
// colours are converted.
#pragma once

#include <memory>

#include "platform/dshow/scaled_output.h"
#include "platform/media/filter/filter.h"
#include "platform/media/picture/display_converter.h"

namespace media {

class ColourConverter final : public Filter, public IScaledOutput {
 public:
  ColourConverter();

  // IUnknown of both interfaces: one object, one count.
  HRESULT QueryInterface(REFIID riid, void** ppv) override { return Filter::QueryInterface(riid, ppv); }
  ULONG AddRef() override { return Filter::AddRef(); }
  ULONG Release() override { return Filter::Release(); }

  HRESULT SetLongerEdge(ULONG edge) override;

  HRESULT CheckInputType(Pin* in, const AM_MEDIA_TYPE& type) override;
  HRESULT GetOutputType(Pin* out, int index, MediaType* type) override;
  HRESULT Receive(Pin* in, const SamplePtr& sample) override;
  HRESULT EndOfStream(Pin* in) override;
  void Flush(Pin* in, const Segment& segment) override;

 protected:
  IUnknown* ExtraInterface(REFIID riid) override;

 private:
  Pin* input_;
  Pin* output_;
  // Shared with the pictures it delivered, which may be read after the
  // filter is gone; they are read one at a time, on the graph's thread.
  std::shared_ptr<DisplayConverter> converter_;
  ULONG longerEdge_ = 0;
};

}  // namespace media
