// The file's cover picture: when the caller prefers it, the source's other
// video branches go before the sample renderer is spliced, so that the
// splice, which takes the first video branch it meets, meets the cover's.
// A file whose only picture is its cover (an audio file's album art) gives
// the cover whatever the caller asked, and says so.
#include <cwchar>
#include <vector>

#include "grabber/interface_batch.h"
#include "grabber/media_type.h"
#include "grabber/thumbnailer.h"
#include "platform/dshow/cover_pin.h"

namespace {

bool IsCover(IPin* pin) {
  PIN_INFO info{};
  if (FAILED(pin->QueryPinInfo(&info))) return false;
  SafeRelease(info.pFilter);
  return info.dir == PINDIR_OUTPUT && std::wcscmp(info.achName, kCoverPinName) == 0;
}

bool CarriesVideo(IPin* pin) {
  MediaTypeHolder type;
  return pin->ConnectionMediaType(&type) == S_OK && type.majortype == MEDIATYPE_Video;
}

}  // namespace

void TDirectShowThumbnailer::ChooseCover() {
  ComPtr<IEnumFilters> filterEnum;
  InterfaceBatch<IBaseFilter, 100> filters;
  if (!pGraph || FAILED(pGraph->EnumFilters(filterEnum.put())) || !filterEnum ||
      FAILED(filters.Fetch(filterEnum.get())))
    return;
  for (ULONG i = 0; i < filters.size(); ++i) {
    ComPtr<IBaseFilter> filter = filters.Take(i);
    InterfaceBatch<IPin, 100> batch;
    if (!filter || FetchPins(filter.get(), batch) != PinFetch::kFetched) continue;
    std::vector<ComPtr<IPin>> pins;
    bool hasCover = false;
    bool hasOtherVideo = false;
    for (ULONG j = 0; j < batch.size(); ++j) {
      pins.push_back(batch.Take(j));
      IPin* pin = pins.back().get();
      if (!pin || !CarriesVideo(pin)) continue;
      (IsCover(pin) ? hasCover : hasOtherVideo) = true;
    }
    if (!hasCover) continue;
    if (!PreferCover && hasOtherVideo) return;
    for (const ComPtr<IPin>& pin : pins)
      if (pin && !IsCover(pin.get()) && CarriesVideo(pin.get())) RemoveBranch(pin.get());
    FromCover = true;
    return;
  }
}
