#include "platform/media/render/colour_converter.h"

#include <cstdlib>

#include "platform/gdi/bitmap.h"

namespace media {
namespace {

struct Geometry {
  const VideoFormat* format;
  int width;
  int height;
};

bool InputGeometry(const AM_MEDIA_TYPE& type, Geometry* g) {
  const VIDEOINFOHEADER* vih = VideoInfoOf(type);
  if (type.majortype != MEDIATYPE_Video || !vih) return false;
  g->format = FindVideoFormat(type.subtype);
  g->width = vih->bmiHeader.biWidth;
  g->height = std::abs(vih->bmiHeader.biHeight);
  return g->format && DibGeometryAcceptable(g->width, g->height, 24);
}

// The picture a sample holds, as the input type lays it out. False for a
// sample too short to be one.
bool ViewOfSample(const Sample& sample, const Geometry& g, PictureView* view) {
  if (sample.frame()) {
    *view = ViewOfFrame(*sample.frame(), sample.colour());
    return true;
  }
  return ViewOfBytes(*g.format, g.width, g.height, sample.data(), sample.size(), view);
}

}  // namespace

ColourConverter::ColourConverter()
    : input_(AddPin(PINDIR_INPUT, L"Input")),
      output_(AddPin(PINDIR_OUTPUT, L"XForm Out")),
      converter_(std::make_shared<DisplayConverter>()) {}

IUnknown* ColourConverter::ExtraInterface(REFIID riid) {
  return riid == IID_IScaledOutput ? static_cast<IScaledOutput*>(this) : nullptr;
}

HRESULT ColourConverter::SetLongerEdge(ULONG edge) {
  if (output_->connected()) return E_UNEXPECTED;
  longerEdge_ = edge;
  return S_OK;
}

HRESULT ColourConverter::CheckInputType(Pin*, const AM_MEDIA_TYPE& type) {
  Geometry g;
  return InputGeometry(type, &g) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT ColourConverter::GetOutputType(Pin*, int index, MediaType* type) {
  Geometry g;
  if (!input_->connected()) return VFW_E_NOT_CONNECTED;
  if (index > 0 || !InputGeometry(input_->type(), &g)) return VFW_S_NO_MORE_ITEMS;
  const VIDEOINFOHEADER* in = VideoInfoOf(input_->type());
  LONG width = g.width, height = g.height;
  FitWithinEdge(longerEdge_, &width, &height);
  *type = MakeVideoType(Rgb24Format(), width, height, in->AvgTimePerFrame);
  return type->pbFormat ? S_OK : E_OUTOFMEMORY;
}

HRESULT ColourConverter::Receive(Pin*, const SamplePtr& sample) {
  Geometry g;
  if (!output_->connected() || !InputGeometry(input_->type(), &g)) return S_OK;
  PictureView view;
  if (!ViewOfSample(*sample, g, &view)) return S_OK;  // a short sample cannot be a picture of this type: dropped
  const VIDEOINFOHEADER* out = VideoInfoOf(output_->type());
  if (!out) return S_OK;
  const int width = out->bmiHeader.biWidth, height = std::abs(out->bmiHeader.biHeight);
  const size_t size = DibStride(width, 24) * static_cast<size_t>(height);
  auto draw = [converter = converter_, sample, g, width, height](uint8_t* dib) {
    PictureView source;
    return ViewOfSample(*sample, g, &source) && converter->ToDib(source, width, height, dib);
  };
  return output_->Deliver(Sample::FromDrawing(std::move(draw), size, sample->time()));
}

HRESULT ColourConverter::EndOfStream(Pin*) { return output_->DeliverEndOfStream(); }

void ColourConverter::Flush(Pin*, const Segment& segment) { output_->DeliverFlush(segment); }

}  // namespace media
