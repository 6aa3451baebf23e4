#include "grabber/interface_batch.h"
#include "grabber/thumbnailer.h"

namespace {

// The last pin of the wanted direction among the first 100 of the filter,
// carrying the reference the enumerator gave it; null when there is none or
// the filter cannot be enumerated. A pin that cannot say what it is does not
// take part.
IPin* FindPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
  InterfaceBatch<IPin, 100> pins;
  if (FetchPins(filter, pins) != PinFetch::kFetched) return nullptr;
  ComPtr<IPin> found;
  for (ULONG i = 0; i < pins.size(); ++i) {
    ComPtr<IPin> pin = pins.Take(i);
    if (!pin) continue;
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info))) continue;
    SafeRelease(info.pFilter);
    if (info.dir == wanted) found = std::move(pin);
  }
  return found.detach();
}

}  // namespace

IPin* TDirectShowThumbnailer::FindInputPin(IBaseFilter* filter) { return FindPin(filter, PINDIR_INPUT); }

IPin* TDirectShowThumbnailer::FindOutputPin(IBaseFilter* filter) { return FindPin(filter, PINDIR_OUTPUT); }
