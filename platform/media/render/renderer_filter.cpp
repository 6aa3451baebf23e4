#include "platform/media/render/renderer_filter.h"

namespace media {

RendererFilter::RendererFilter() : input_(AddPin(PINDIR_INPUT, L"In")) {}

HRESULT RendererFilter::EndOfStream(Pin*) {
  endOfStream_ = true;
  return S_OK;
}

void RendererFilter::Flush(Pin*, const Segment&) {
  endOfStream_ = false;
  Rearm();
}

void RendererFilter::OnRun() {
  endOfStream_ = false;
  Rearm();
}

HRESULT NullRenderer::CheckInputType(Pin*, const AM_MEDIA_TYPE& type) {
  return type.majortype == majorType_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

}  // namespace media
