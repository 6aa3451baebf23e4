#include "grabber/interface_batch.h"
#include "grabber/thumbnailer.h"
#include "platform/trace.h"

void TDirectShowThumbnailer::RemoveNonVideoBranches() {
  // The walk goes upstream from the sample renderer, through the input pin
  // that FindInputPin picks, to the source; at each filter on the way every
  // other output pin loses the branch behind it.
  ComPtr<IBaseFilter> filter;
  if (!pGraph || !MyGrabber || FAILED(MyGrabber->QueryInterface(IID_IBaseFilter, filter.put_void())) || !filter) {
    DebugTrace("TDirectShowThumbnailer::RemoveNonVideoBranches Error 1\n");
    return;
  }
  ComPtr<IPin> input = ComPtr<IPin>::Adopt(FindInputPin(filter.get()));
  while (input) {
    ComPtr<IPin> ConnectedPin;
    if (FAILED(input->ConnectedTo(ConnectedPin.put())) || !ConnectedPin) {
      DebugTrace("TDirectShowThumbnailer::RemoveNonVideoBranches 8\n");
      return;
    }
    filter.reset();

    PIN_INFO connectedInfo{};
    if (FAILED(ConnectedPin->QueryPinInfo(&connectedInfo))) {
      DebugTrace("TDirectShowThumbnailer::RemoveNonVideoBranches Error2\n");
      return;
    }
    ComPtr<IBaseFilter> upstream = ComPtr<IBaseFilter>::Adopt(connectedInfo.pFilter);
    FILTER_INFO ConnectedFilterInfo{};
    if (!upstream || FAILED(upstream->QueryFilterInfo(&ConnectedFilterInfo))) {
      DebugTrace("Filter->QueryFilterInfo(&ConnectedFilterInfo) failed\n");
      return;
    }
    SafeRelease(ConnectedFilterInfo.pGraph);

    InterfaceBatch<IPin, 10> Pins;
    switch (FetchPins(upstream.get(), Pins)) {
      case PinFetch::kFetched:
        break;
      case PinFetch::kNoEnumerator:
        return;
      case PinFetch::kNextFailed:
        DebugTrace("PinEnum->Next failed\n");
        return;
    }
    for (ULONG i = 0; i < Pins.size(); ++i) {
      ComPtr<IPin> pin = Pins.Take(i);
      // ConnectedPin is the way back to the sample renderer.
      if (!pin || pin.get() == ConnectedPin.get()) continue;
      PIN_INFO info{};
      if (FAILED(pin->QueryPinInfo(&info))) {
        DebugTrace("Pins[i]->QueryPinInfo failed\n");
        return;
      }
      ComPtr<IBaseFilter> owner = ComPtr<IBaseFilter>::Adopt(info.pFilter);
      if (info.dir != PINDIR_OUTPUT) continue;
      FILTER_INFO ownerInfo{};
      if (!owner || FAILED(owner->QueryFilterInfo(&ownerInfo))) {
        DebugTrace("Info.pFilter->QueryFilterInfo failed\n");
        return;
      }
      SafeRelease(ownerInfo.pGraph);
      RemoveBranch(pin.get());
      // Asks for nothing to be connected, which the graph refuses; what the
      // pin is left with does not matter to the walk.
      pGraph->Connect(pin.get(), nullptr);
    }
    filter = std::move(upstream);
    input = ComPtr<IPin>::Adopt(FindInputPin(filter.get()));
  }
  DebugTrace("TDirectShowThumbnailer::RemoveNonVideoBranches 6\n");
}

void TDirectShowThumbnailer::RemoveBranch(IPin* pin) {
  ComPtr<IPin> peer;
  if (!pGraph || !pin || FAILED(pin->ConnectedTo(peer.put())) || !peer) return;
  PIN_INFO peerInfo{};
  if (FAILED(peer->QueryPinInfo(&peerInfo))) return;
  ComPtr<IBaseFilter> downstream = ComPtr<IBaseFilter>::Adopt(peerInfo.pFilter);
  if (!downstream) return;
  if (FAILED(pGraph->Disconnect(pin)) || FAILED(pGraph->Disconnect(peer.get()))) return;
  peer.reset();

  // Depth first: the branches behind the downstream filter's own outputs go
  // before the filter itself.
  InterfaceBatch<IPin, 10> pins;
  if (FetchPins(downstream.get(), pins) != PinFetch::kFetched) return;
  for (ULONG i = 0; i < pins.size(); ++i) {
    ComPtr<IPin> next = pins.Take(i);
    if (!next) continue;
    PIN_INFO info{};
    if (FAILED(next->QueryPinInfo(&info))) return;
    SafeRelease(info.pFilter);
    if (info.dir == PINDIR_OUTPUT) RemoveBranch(next.get());
  }
  // The reference goes whether or not the graph lets the filter go.
  pGraph->RemoveFilter(downstream.get());
}
