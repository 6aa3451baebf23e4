#include "platform/windows/colour_converter.h"

ColourConverterStandIn::ColourConverterStandIn() : MediaFilter(CLSID_Colour), input_(*this), output_(*this) {}

BasePin* ColourConverterStandIn::PinAt(ULONG index) {
  return index == 0 ? static_cast<BasePin*>(&input_) : static_cast<BasePin*>(&output_);
}

bool ColourConverterStandIn::Input::Accepts(const AM_MEDIA_TYPE& type) {
  if (type.majortype != MEDIATYPE_Video || type.subtype != MEDIASUBTYPE_RGB24 || type.formattype != FORMAT_VideoInfo ||
      !type.pbFormat || type.cbFormat < sizeof(VIDEOINFOHEADER))
    return false;
  const BITMAPINFOHEADER& h = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
  // Top-down rows would need a flip, which passing samples on cannot do.
  return h.biBitCount == 24 && h.biCompression == BI_RGB && h.biWidth > 0 && h.biHeight > 0;
}

bool ColourConverterStandIn::Output::Accepts(const AM_MEDIA_TYPE& type) {
  const AM_MEDIA_TYPE* proposed = ProposedType();
  return proposed && type.majortype == proposed->majortype && type.subtype == proposed->subtype &&
         type.formattype == proposed->formattype;
}

const AM_MEDIA_TYPE* ColourConverterStandIn::Output::ProposedType() {
  // Refreshed on each call from the input's connection; nothing until then.
  if (FAILED(owner_.input_.CopyConnectionType(&proposed_))) return nullptr;
  return &proposed_;
}

IUnknown* ColourConverterStandIn::Output::ExtraInterface(REFIID riid) {
  return riid == IID_IMediaSeeking ? &seeking_ : nullptr;
}
