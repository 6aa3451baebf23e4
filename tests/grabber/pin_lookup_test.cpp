#include <gtest/gtest.h>

#include "fake_graph.h"
#include "grabber/thumbnailer.h"

namespace {

TEST(FindPin, ReturnsTheLastPinOfItsDirectionWithOneReference) {
  FakeWorld world;
  FakeFilter* f = world.Filter("decoder", {{"in1", PINDIR_INPUT},
                                           {"out1", PINDIR_OUTPUT},
                                           {"in2", PINDIR_INPUT},
                                           {"out2", PINDIR_OUTPUT}});
  {
    TDirectShowThumbnailer t;
    IPin* in = t.FindInputPin(f);
    EXPECT_EQ(in, f->Pin("in2"));
    EXPECT_EQ(f->Pin("in2")->refs, 2u);
    IPin* out = t.FindOutputPin(f);
    EXPECT_EQ(out, f->Pin("out2"));
    EXPECT_EQ(f->Pin("out2")->refs, 2u);
    EXPECT_EQ(f->Pin("in1")->refs, 1u);
    EXPECT_EQ(f->refs, 1u);
    in->Release();
    out->Release();
  }
  world.ExpectAllReleased();
}

TEST(FindPin, NullWhenTheDirectionIsMissingOrTheFilterFails) {
  FakeWorld world;
  FakeFilter* none = world.Filter("none", {});
  FakeFilter* outputs = world.Filter("outputs", {{"out", PINDIR_OUTPUT}});
  FakeFilter* inputs = world.Filter("inputs", {{"in", PINDIR_INPUT}});
  FakeFilter* noEnum = world.Filter("noEnum", {{"in", PINDIR_INPUT}});
  noEnum->enum_pins_hr = E_FAIL;
  FakeFilter* noNext = world.Filter("noNext", {{"in", PINDIR_INPUT}});
  noNext->next_hr = E_FAIL;
  {
    TDirectShowThumbnailer t;
    EXPECT_EQ(t.FindInputPin(none), nullptr);
    EXPECT_EQ(t.FindOutputPin(none), nullptr);
    EXPECT_EQ(t.FindInputPin(outputs), nullptr);
    EXPECT_EQ(t.FindOutputPin(inputs), nullptr);
    EXPECT_EQ(t.FindInputPin(noEnum), nullptr);
    EXPECT_EQ(t.FindInputPin(noNext), nullptr);
  }
  world.ExpectAllReleased();
}

TEST(FindPin, APinThatCannotSayWhatItIsTakesNoPart) {
  FakeWorld world;
  FakeFilter* f = world.Filter("f", {{"in1", PINDIR_INPUT}, {"in2", PINDIR_INPUT}});
  f->Pin("in2")->query_pin_info_hr = E_FAIL;
  {
    TDirectShowThumbnailer t;
    IPin* in = t.FindInputPin(f);
    EXPECT_EQ(in, f->Pin("in1"));
    in->Release();
  }
  world.ExpectAllReleased();
}

TEST(FindPin, OnlyTheFirstHundredPinsTakePart) {
  FakeWorld world;
  std::vector<std::pair<std::string, PIN_DIRECTION>> pins(99, {"out", PINDIR_OUTPUT});
  pins.push_back({"in100", PINDIR_INPUT});
  pins.push_back({"in101", PINDIR_INPUT});
  FakeFilter* f = world.Filter("wide", pins);
  {
    TDirectShowThumbnailer t;
    IPin* in = t.FindInputPin(f);
    EXPECT_EQ(in, f->Pin("in100"));
    in->Release();
    EXPECT_EQ(f->Pin("in101")->calls, 0);
  }
  world.ExpectAllReleased();
}

}  // namespace
