#include <cstdio>
#include <iterator>

#include "grabber/interface_batch.h"
#include "grabber/media_type.h"
#include "grabber/thumbnailer.h"
#include "platform/dshow/scaled_output.h"
#include "platform/trace.h"

namespace {

// The uncompressed video subtypes that the colour space converter (or, for
// RGB24, the sample renderer itself) takes.
constexpr const GUID* kAcceptedSubtypes[] = {
    &MEDIASUBTYPE_RGB1, &MEDIASUBTYPE_RGB4, &MEDIASUBTYPE_RGB8, &MEDIASUBTYPE_RGB555, &MEDIASUBTYPE_RGB565,
    &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_YUYV, &MEDIASUBTYPE_IYUV, &MEDIASUBTYPE_Y411, &MEDIASUBTYPE_Y41P,
    &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_YVYU, &MEDIASUBTYPE_UYVY, &MEDIASUBTYPE_Y211, &MEDIASUBTYPE_YV12,
    &MEDIASUBTYPE_CLJR, &MEDIASUBTYPE_IF09, &MEDIASUBTYPE_CPLA, &MEDIASUBTYPE_RGB32,
};

bool SubtypeAccepted(const GUID& subtype) {
  for (const GUID* accepted : kAcceptedSubtypes)
    if (*accepted == subtype) return true;
  return false;
}

// Traces "MediaType.<field> <guid>\n", formatted in a buffer of its own.
void TraceMediaTypeField(const char* field, const GUID& value) {
  RPC_CSTR guid = nullptr;
  if (UuidToStringA(&value, &guid) != RPC_S_OK) guid = nullptr;
  char text[100];
  std::snprintf(text, sizeof text, "MediaType.%s %s\n", field, guid ? reinterpret_cast<const char*>(guid) : "?");
  if (guid) RpcStringFreeA(&guid);
  DebugTrace("%s", text);
}

// Whether the colour space converter can scale as it converts. Then a
// picture already in RGB24 goes through it as well when a longer edge is
// asked, which is cheaper than scaling the bitmap afterwards; the system's
// converter cannot, and such pictures keep their direct path.
bool ConverterScales() {
  ComPtr<IScaledOutput> scaled;
  return SUCCEEDED(CoCreateInstance(CLSID_Colour, nullptr, CLSCTX_INPROC_SERVER, IID_IScaledOutput,
                                    scaled.put_void())) &&
         scaled;
}

// The picture's size as the pin delivers it, once it is known to be video.
void KeepShownSize(TDirectShowThumbnailer& t, const AM_MEDIA_TYPE& type) {
  if (type.formattype != FORMAT_VideoInfo || !type.pbFormat || type.cbFormat < sizeof(VIDEOINFOHEADER)) return;
  const BITMAPINFOHEADER& header = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
  t.ShownWidth = header.biWidth;
  t.ShownHeight = header.biHeight < 0 ? -header.biHeight : header.biHeight;
}

// How the splice of one pin ended.
enum class SpliceResult { kSpliced, kGivenUp, kFailed };

// Reroutes the connected video output pin P, whose connection type is M, into
// a new sample renderer: P is cut from the filter it fed, that filter leaves
// the graph, and P feeds "MyGrabber" directly when it delivers RGB24 or
// through a colour space converter otherwise. Nothing is undone on failure.
SpliceResult Splice(TDirectShowThumbnailer& t, IPin* P, const AM_MEDIA_TYPE& M) {
  DebugTrace("AddSampleGrabber 13\n");
  // A second splice replaces the members; the earlier renderer stays in the
  // graph, which holds its own reference, until its branch is pruned.
  SafeRelease(t.pGrabFilter);
  SafeRelease(t.MyGrabber);
  DebugTrace("AddSampleGrabber 14\n");
  if (FAILED(CoCreateInstance(CLSID_TarvenixSampleRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleRendererControl,
                              reinterpret_cast<void**>(&t.MyGrabber))) ||
      !t.MyGrabber) {
    DebugTrace("CoCreateInstance(CLSID_TarvenixSampleRenderer failed\n");
    return SpliceResult::kFailed;
  }
  DebugTrace("AddSampleGrabber 15\n");
  if (FAILED(t.MyGrabber->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&t.pGrabFilter))) ||
      !t.pGrabFilter) {
    DebugTrace("MyGrabber->QueryInterface failed \n");
    return SpliceResult::kFailed;
  }

  ComPtr<IPin> DestinationPin;
  if (FAILED(P->ConnectedTo(DestinationPin.put()))) {
    DebugTrace("Pins[j]->ConnectedTo failed \n");
    return SpliceResult::kFailed;
  }
  DebugTrace("AddSampleGrabber 16\n");
  if (DestinationPin) {
    if (FAILED(t.pGraph->Disconnect(P))) {
      DebugTrace("pGraph->Disconnect(Pins[j]) failed \n");
      return SpliceResult::kFailed;
    }
    if (FAILED(t.pGraph->Disconnect(DestinationPin.get()))) {
      DebugTrace("pGraph->Disconnect(DestinationPin) failed \n");
      return SpliceResult::kFailed;
    }
    PIN_INFO destinationInfo{};
    if (FAILED(DestinationPin->QueryPinInfo(&destinationInfo))) {
      DebugTrace("DestinationPin->QueryPinInfo failed \n");
      return SpliceResult::kFailed;
    }
    // Only the filter P fed leaves; whatever lies downstream of it stays.
    ComPtr<IBaseFilter> fed = ComPtr<IBaseFilter>::Adopt(destinationInfo.pFilter);
    if (FAILED(t.pGraph->RemoveFilter(fed.get()))) {
      DebugTrace("pGraph->RemoveFilter failed \n");
      return SpliceResult::kFailed;
    }
  }

  MediaTypeHolder holder(M);
  holder.subtype = MEDIASUBTYPE_RGB24;
  holder.formattype = FORMAT_VideoInfo;
  if (FAILED(t.MyGrabber->put_MediaType(&holder))) {
    DebugTrace("MyGrabber->put_MediaType failed\n");
    return SpliceResult::kFailed;
  }
  if (FAILED(t.pGraph->AddFilter(t.pGrabFilter, L"MyGrabber"))) {
    DebugTrace("pGraph->AddFilter failed\n");
    return SpliceResult::kFailed;
  }
  ComPtr<IPin> GrabInputPin = ComPtr<IPin>::Adopt(t.FindInputPin(t.pGrabFilter));
  // A renderer without an input pin gives up this pin alone, as it stands.
  if (!GrabInputPin) return SpliceResult::kGivenUp;

  holder = M;
  holder.majortype = MEDIATYPE_Video;
  ComPtr<IPin> ThePin = ComPtr<IPin>::Share(P);
  KeepShownSize(t, M);
  const bool converted = M.subtype != MEDIASUBTYPE_RGB24 || (t.LongerEdge > 0 && ConverterScales());
  if (converted) {
    TraceMediaTypeField("subtype", M.subtype);
    ThePin = ComPtr<IPin>::Adopt(t.InsertColorConverter(P));
    DebugTrace("Using color convertor\n");
    if (!ThePin) {
      DebugTrace("InsertColorConverter failed\n");
      return SpliceResult::kFailed;
    }
  }
  if (FAILED(t.pGraph->Connect(ThePin.get(), GrabInputPin.get()))) {
    DebugTrace("pGraph->Connect(ThePin,GrabInputPin) failed\n");
    return SpliceResult::kFailed;
  }
  if (converted) {
    ThePin.reset();
  } else {
    // Told again once connected, with the same type as before.
    holder.formattype = FORMAT_VideoInfo;
    holder.subtype = MEDIASUBTYPE_RGB24;
    if (FAILED(t.MyGrabber->put_MediaType(&holder))) {
      DebugTrace("MyGrabber->put_MediaType failed\n");
      return SpliceResult::kFailed;
    }
  }
  DebugTrace("AddSampleGrabber 17\n");
  DebugTrace("AddSampleGrabber 19\n");
  return SpliceResult::kSpliced;
}

}  // namespace

int TDirectShowThumbnailer::AddSampleGrabber() {
  ComPtr<IEnumFilters> FilterEnum;
  if (!pGraph || FAILED(pGraph->EnumFilters(FilterEnum.put())) || !FilterEnum) {
    DebugTrace("pGraph->EnumFilters failed\n");
    return 0;
  }
  InterfaceBatch<IBaseFilter, 100> Filters;
  if (FAILED(Filters.Fetch(FilterEnum.get()))) {
    DebugTrace("FilterEnum->Next failed\n");
    return 0;
  }
  ULONG NrOfFilters = Filters.size();
  char text[100];
  std::snprintf(text, sizeof text, "AddSampleGrabber: NrOfFilters %u\n", NrOfFilters);
  DebugTrace("%s", text);

  int spliced = 0;
  for (ULONG i = 0; i < NrOfFilters; ++i) {
    DebugTrace("AddSampleGrabber 3\n");
    ComPtr<IBaseFilter> filter = Filters.Take(i);
    // Once one filter has been spliced, the others are not examined.
    if (spliced || !filter) continue;

    DebugTrace("AddSampleGrabber 4\n");
    FILTER_INFO filterInfo{};
    if (FAILED(filter->QueryFilterInfo(&filterInfo))) {
      DebugTrace("Filters[i]->QueryFilterInfo failed\n");
      return 0;
    }
    ComPtr<IFilterGraph> filterGraph = ComPtr<IFilterGraph>::Adopt(filterInfo.pGraph);

    DebugTrace("AddSampleGrabber 5\n");
    InterfaceBatch<IPin, 100> Pins;
    switch (FetchPins(filter.get(), Pins)) {
      case PinFetch::kFetched:
        break;
      case PinFetch::kNoEnumerator:
        return 0;
      case PinFetch::kNextFailed:
        DebugTrace("PinEnum->Next failed\n");
        return 0;
    }
    DebugTrace("AddSampleGrabber 6\n");

    for (ULONG j = 0; j < Pins.size(); ++j) {
      DebugTrace("AddSampleGrabber 7\n");
      ComPtr<IPin> pin = Pins.Take(j);
      if (!pin) continue;
      PIN_INFO pinInfo{};
      if (FAILED(pin->QueryPinInfo(&pinInfo))) continue;
      ComPtr<IBaseFilter> pinFilter = ComPtr<IBaseFilter>::Adopt(pinInfo.pFilter);
      DebugTrace("AddSampleGrabber 8\n");
      if (pinInfo.dir != PINDIR_OUTPUT) continue;
      DebugTrace("AddSampleGrabber 9\n");

      // Only a connected pin has a connection type; S_OK is the one answer
      // that promises a filled record. The holder frees it on every way out.
      MediaTypeHolder MediaType;
      if (pin->ConnectionMediaType(&MediaType) != S_OK) continue;
      DebugTrace("AddSampleGrabber 10\n");
      if (MediaType.majortype != MEDIATYPE_Video) {
        TraceMediaTypeField("majortype", MediaType.majortype);
        continue;
      }
      DebugTrace("AddSampleGrabber A\n");
      if (!SubtypeAccepted(MediaType.subtype)) {
        TraceMediaTypeField("subtype", MediaType.subtype);
        continue;
      }
      DebugTrace("AddSampleGrabber 11\n");

      // Every further qualifying pin of this filter is spliced too, each into
      // a sample renderer of its own; the members name the last one.
      switch (Splice(*this, pin.get(), MediaType)) {
        case SpliceResult::kSpliced:
          spliced = 1;
          break;
        case SpliceResult::kGivenUp:
          break;
        case SpliceResult::kFailed:
          return 0;
      }
    }
  }
  FilterEnum.reset();
  DebugTrace("AddSampleGrabber : Done\n");
  return spliced;
}

IPin* TDirectShowThumbnailer::InsertColorConverter(IPin* pin) {
  // A second converter replaces the member; the graph keeps the first.
  SafeRelease(ColorspaceConverter);
  if (!pGraph || FAILED(CoCreateInstance(CLSID_Colour, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&ColorspaceConverter))) ||
      !ColorspaceConverter) {
    DebugTrace("CoCreateInstance(CLSID_Colour failed\n");
    return nullptr;
  }
  if (FAILED(pGraph->AddFilter(ColorspaceConverter, L"Colorspace converter"))) {
    DebugTrace("pGraph->AddFilter(ColorspaceConverter failed\n");
    return nullptr;
  }
  ComPtr<IPin> input = ComPtr<IPin>::Adopt(FindInputPin(ColorspaceConverter));
  ComPtr<IPin> output = ComPtr<IPin>::Adopt(FindOutputPin(ColorspaceConverter));
  if (!input || !output) return nullptr;
  // Told before its output connects, which fixes the size it delivers.
  ComPtr<IScaledOutput> scaled;
  if (LongerEdge > 0 && SUCCEEDED(ColorspaceConverter->QueryInterface(IID_IScaledOutput, scaled.put_void())) && scaled)
    scaled->SetLongerEdge(LongerEdge);
  if (FAILED(pGraph->Connect(pin, input.get()))) return nullptr;
  return output.detach();
}
