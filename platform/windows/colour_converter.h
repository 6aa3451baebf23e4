// A stand-in for the system's colour space converter, for systems that have
// none (Wine). It has the converter's pins and class id but converts by
// negotiation only: its input takes bottom-up RGB24 video, which the
// decoders there can deliver, and its output passes each sample on as it
// came. Registered only when CLSID_Colour is not on the system.
#pragma once

#include "platform/windows/base_pins.h"
#include "platform/windows/seeking_forwarder.h"

class ColourConverterStandIn final : public MediaFilter {
 public:
  ColourConverterStandIn();

  ULONG PinCount() const override { return 2; }
  BasePin* PinAt(ULONG index) override;

 private:
  class Input final : public InputPin {
   public:
    explicit Input(ColourConverterStandIn& owner) : InputPin(owner, L"Input"), owner_(owner) {}
    bool Accepts(const AM_MEDIA_TYPE& type) override;

   protected:
    HRESULT OnReceive(IMediaSample* sample) override { return owner_.output_.Deliver(sample); }
    HRESULT OnEndOfStream() override { return owner_.output_.DeliverEndOfStream(); }
    HRESULT OnBeginFlush() override { return owner_.output_.DeliverBeginFlush(); }
    HRESULT OnEndFlush() override { return owner_.output_.DeliverEndFlush(); }
    HRESULT OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
      return owner_.output_.DeliverNewSegment(start, stop, rate);
    }

   private:
    ColourConverterStandIn& owner_;
  };

  class Output final : public OutputPin {
   public:
    explicit Output(ColourConverterStandIn& owner)
        : OutputPin(owner, L"XForm Out"), owner_(owner), seeking_(owner, owner.input_) {}
    bool Accepts(const AM_MEDIA_TYPE& type) override;
    // The input's type: RGB24 in, the same RGB24 out.
    const AM_MEDIA_TYPE* ProposedType() override;

   protected:
    ComPtr<IMemAllocator> Allocator() override { return owner_.input_.Allocator(); }
    IUnknown* ExtraInterface(REFIID riid) override;

   private:
    ColourConverterStandIn& owner_;
    SeekingForwarder seeking_;
    MediaType proposed_;
  };

  Input input_;
  Output output_;
};
