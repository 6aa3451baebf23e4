#include <gtest/gtest.h>

#include "fake_graph.h"
#include "grabber/thumbnailer.h"

namespace {

const std::vector<BYTE> kDecoderFormat = VideoType(MEDIASUBTYPE_RGB24).format;

// Runs AddSampleGrabber on a fresh thumbnailer over the world's graph.
int Splice(FakeWorld& world, TDirectShowThumbnailer& t) {
  world.graph.AddRef();
  t.pGraph = &world.graph;
  return t.AddSampleGrabber();
}

TEST(AddSampleGrabber, Rgb24DecoderFeedsTheSampleRendererDirectly) {
  FakeWorld world;
  PlaybackGraph g = BuildPlayback(world, MEDIASUBTYPE_RGB24);
  {
    TraceLog log;
    TDirectShowThumbnailer t;
    ASSERT_EQ(Splice(world, t), 1);
    EXPECT_EQ(world.graph.log, (std::vector<std::string>{
                                   "Disconnect decoder.Out",
                                   "Disconnect Video Renderer.In",
                                   "RemoveFilter Video Renderer",
                                   "AddFilter renderer1 as MyGrabber",
                                   "Connect decoder.Out to renderer1.In",
                               }));
    EXPECT_EQ(t.MyGrabber, g.renderer);
    EXPECT_EQ(t.pGrabFilter, g.renderer->filter);
    EXPECT_EQ(t.ColorspaceConverter, nullptr);
    // Told twice, with equal types: RGB24 video with the decoder's own block.
    ASSERT_EQ(g.renderer->put_types.size(), 2u);
    for (const FakeMediaType& m : g.renderer->put_types) {
      EXPECT_EQ(m.majortype, MEDIATYPE_Video);
      EXPECT_EQ(m.subtype, MEDIASUBTYPE_RGB24);
      EXPECT_EQ(m.formattype, FORMAT_VideoInfo);
      EXPECT_EQ(m.format, kDecoderFormat);
    }
    // The compressed source pin is looked at and passed over; the renderer
    // after the spliced decoder is not examined.
    EXPECT_TRUE(log.Has("MediaType.subtype 34363248-0000-0010-8000-00aa00389b71\n"));
    EXPECT_EQ(g.videoRenderer->calls, 0);
    EXPECT_TRUE(log.Has("AddSampleGrabber: NrOfFilters 3\n"));
    EXPECT_EQ(log.texts.back(), "AddSampleGrabber : Done\n");
  }
  world.ExpectAllReleased();
}

TEST(AddSampleGrabber, OtherSubtypesGoThroughTheColourSpaceConverter) {
  FakeWorld world;
  PlaybackGraph g = BuildPlayback(world, MEDIASUBTYPE_YUY2);
  FakeFilter* converter = world.AddConverter();
  {
    TraceLog log;
    TDirectShowThumbnailer t;
    ASSERT_EQ(Splice(world, t), 1);
    EXPECT_EQ(world.graph.log, (std::vector<std::string>{
                                   "Disconnect decoder.Out",
                                   "Disconnect Video Renderer.In",
                                   "RemoveFilter Video Renderer",
                                   "AddFilter renderer1 as MyGrabber",
                                   "AddFilter converter1 as Colorspace converter",
                                   "Connect decoder.Out to converter1.In",
                                   "Connect converter1.Out to renderer1.In",
                               }));
    EXPECT_EQ(t.ColorspaceConverter, converter);
    ASSERT_EQ(g.renderer->put_types.size(), 1u);
    EXPECT_EQ(g.renderer->put_types[0].subtype, MEDIASUBTYPE_RGB24);
    EXPECT_EQ(g.renderer->put_types[0].formattype, FORMAT_VideoInfo);
    EXPECT_EQ(g.renderer->put_types[0].format, kDecoderFormat);
    EXPECT_TRUE(log.Has("Using color convertor\n"));
  }
  world.ExpectAllReleased();
}

TEST(AddSampleGrabber, NoQualifyingPinLeavesTheGraphAlone) {
  FakeWorld world;
  world.AddRenderer();
  FakeFilter* source = world.Filter("source", {{"Audio", PINDIR_OUTPUT}, {"Unconnected", PINDIR_OUTPUT}});
  FakeFilter* sink = world.Filter("Audio Renderer", {{"In", PINDIR_INPUT}});
  source->Pin("Audio")->media = AudioType();
  source->Pin("Unconnected")->media = VideoType(MEDIASUBTYPE_RGB24);
  FakeWorld::Link(source->Pin("Audio"), sink->Pin("In"));
  {
    TraceLog log;
    TDirectShowThumbnailer t;
    EXPECT_EQ(Splice(world, t), 0);
    EXPECT_TRUE(world.graph.log.empty());
    EXPECT_EQ(world.renderers_created, 0u);
    EXPECT_TRUE(log.Has("MediaType.majortype 73647561-0000-0010-8000-00aa00389b71\n"));
    for (const std::string& text : log.texts) EXPECT_EQ(text.find("MediaType.subtype"), std::string::npos);
  }
  world.ExpectAllReleased();
}

TEST(AddSampleGrabber, EveryQualifyingPinOfTheFirstFilterIsSplicedAndNoOtherFilter) {
  FakeWorld world;
  FakeFilter* decoder = world.Filter("decoder", {{"Out1", PINDIR_OUTPUT}, {"Out2", PINDIR_OUTPUT}});
  FakeFilter* sink1 = world.Filter("sink1", {{"In", PINDIR_INPUT}});
  FakeFilter* sink2 = world.Filter("sink2", {{"In", PINDIR_INPUT}});
  FakeFilter* later = world.Filter("later decoder", {{"Out", PINDIR_OUTPUT}});
  FakeFilter* sink3 = world.Filter("sink3", {{"In", PINDIR_INPUT}});
  for (FakePin* p : {decoder->Pin("Out1"), decoder->Pin("Out2"), later->Pin("Out")})
    p->media = VideoType(MEDIASUBTYPE_RGB24);
  FakeWorld::Link(decoder->Pin("Out1"), sink1->Pin("In"));
  FakeWorld::Link(decoder->Pin("Out2"), sink2->Pin("In"));
  FakeWorld::Link(later->Pin("Out"), sink3->Pin("In"));
  FakeSampleRenderer* first = world.AddRenderer();
  FakeSampleRenderer* second = world.AddRenderer();
  {
    TDirectShowThumbnailer t;
    ASSERT_EQ(Splice(world, t), 1);
    EXPECT_EQ(t.MyGrabber, second);
    EXPECT_EQ(t.pGrabFilter, second->filter);
    EXPECT_TRUE(world.graph.Contains("renderer1"));
    EXPECT_TRUE(world.graph.Contains("renderer2"));
    EXPECT_FALSE(world.graph.Contains("sink1"));
    EXPECT_FALSE(world.graph.Contains("sink2"));
    EXPECT_TRUE(world.graph.Contains("sink3"));
    EXPECT_EQ(later->calls, 0);
    EXPECT_EQ(first->filter->Pin("In")->peer, decoder->Pin("Out1"));
    // The first renderer's references went when the second replaced it.
    EXPECT_EQ(first->refs, 1u);
    EXPECT_EQ(first->filter->refs, 1u);
  }
  world.ExpectAllReleased();
}

TEST(AddSampleGrabber, ARendererWithoutInputPinGivesUpThatPinOnly) {
  FakeWorld world;
  FakeFilter* decoder = world.Filter("decoder", {{"Out1", PINDIR_OUTPUT}, {"Out2", PINDIR_OUTPUT}});
  FakeFilter* sink1 = world.Filter("sink1", {{"In", PINDIR_INPUT}});
  FakeFilter* sink2 = world.Filter("sink2", {{"In", PINDIR_INPUT}});
  decoder->Pin("Out1")->media = VideoType(MEDIASUBTYPE_RGB24);
  decoder->Pin("Out2")->media = VideoType(MEDIASUBTYPE_RGB24);
  FakeWorld::Link(decoder->Pin("Out1"), sink1->Pin("In"));
  FakeWorld::Link(decoder->Pin("Out2"), sink2->Pin("In"));
  FakeSampleRenderer* pinless = world.AddRenderer();
  pinless->filter->pins.clear();
  world.AddRenderer();
  {
    TDirectShowThumbnailer t;
    EXPECT_EQ(Splice(world, t), 1);
    EXPECT_EQ(decoder->Pin("Out1")->peer, nullptr);
    EXPECT_FALSE(world.graph.Contains("sink1"));
    EXPECT_TRUE(world.graph.Contains("renderer1"));
    EXPECT_EQ(world.renderers[1]->filter->Pin("In")->peer, decoder->Pin("Out2"));
  }
  world.ExpectAllReleased();
}

TEST(AddSampleGrabber, FiltersAndPinsBeyondTheFirstHundredAreNeverExamined) {
  {
    FakeWorld world;
    world.AddRenderer();
    for (int i = 0; i < 100; ++i) world.Filter("empty" + std::to_string(i), {});
    PlaybackGraph g;
    FakeFilter* decoder = world.Filter("decoder", {{"Out", PINDIR_OUTPUT}});
    FakeFilter* sink = world.Filter("sink", {{"In", PINDIR_INPUT}});
    decoder->Pin("Out")->media = VideoType(MEDIASUBTYPE_RGB24);
    FakeWorld::Link(decoder->Pin("Out"), sink->Pin("In"));
    TraceLog log;
    {
      TDirectShowThumbnailer t;
      EXPECT_EQ(Splice(world, t), 0);
    }
    EXPECT_TRUE(log.Has("AddSampleGrabber: NrOfFilters 100\n"));
    EXPECT_EQ(decoder->calls, 0);
    EXPECT_EQ(world.renderers_created, 0u);
    world.ExpectAllReleased();
  }
  {
    FakeWorld world;
    world.AddRenderer();
    std::vector<std::pair<std::string, PIN_DIRECTION>> pins(100, {"in", PINDIR_INPUT});
    pins.push_back({"Out", PINDIR_OUTPUT});
    FakeFilter* decoder = world.Filter("decoder", pins);
    FakeFilter* sink = world.Filter("sink", {{"In", PINDIR_INPUT}});
    decoder->Pin("Out")->media = VideoType(MEDIASUBTYPE_RGB24);
    FakeWorld::Link(decoder->Pin("Out"), sink->Pin("In"));
    {
      TDirectShowThumbnailer t;
      EXPECT_EQ(Splice(world, t), 0);
    }
    EXPECT_EQ(decoder->Pin("Out")->calls, 0);
    world.ExpectAllReleased();
  }
}

TEST(AddSampleGrabber, EachFailedStepEndsWithZeroAndUndoesNothing) {
  struct Case {
    const char* trace;  // null: fails without a trace of its own
    bool converter;
    std::function<void(FakeWorld&, PlaybackGraph&)> inject;
  };
  const Case cases[] = {
      {"pGraph->EnumFilters failed\n", false, [](FakeWorld& w, PlaybackGraph&) { w.graph.enum_filters_hr = E_FAIL; }},
      {"FilterEnum->Next failed\n", false, [](FakeWorld& w, PlaybackGraph&) { w.graph.next_hr = E_FAIL; }},
      {"Filters[i]->QueryFilterInfo failed\n", false,
       [](FakeWorld&, PlaybackGraph& g) { g.decoder->query_filter_info_hr = E_FAIL; }},
      {nullptr, false, [](FakeWorld&, PlaybackGraph& g) { g.decoder->enum_pins_hr = E_FAIL; }},
      {"PinEnum->Next failed\n", false, [](FakeWorld&, PlaybackGraph& g) { g.decoder->next_hr = E_FAIL; }},
      {"CoCreateInstance(CLSID_TarvenixSampleRenderer failed\n", false,
       [](FakeWorld& w, PlaybackGraph&) { w.create_renderer_hr = REGDB_E_CLASSNOTREG; }},
      {"MyGrabber->QueryInterface failed \n", false,
       [](FakeWorld&, PlaybackGraph& g) { g.renderer->qi_filter_hr = E_NOINTERFACE; }},
      {"Pins[j]->ConnectedTo failed \n", false,
       [](FakeWorld&, PlaybackGraph& g) { g.decoder->Pin("Out")->connected_to_hr = E_FAIL; }},
      {"pGraph->Disconnect(Pins[j]) failed \n", false,
       [](FakeWorld&, PlaybackGraph& g) { g.decoder->Pin("Out")->disconnect_hr = E_FAIL; }},
      {"pGraph->Disconnect(DestinationPin) failed \n", false,
       [](FakeWorld&, PlaybackGraph& g) { g.videoRenderer->Pin("In")->disconnect_hr = E_FAIL; }},
      {"DestinationPin->QueryPinInfo failed \n", false,
       [](FakeWorld&, PlaybackGraph& g) { g.videoRenderer->Pin("In")->query_pin_info_hr = E_FAIL; }},
      {"pGraph->RemoveFilter failed \n", false,
       [](FakeWorld&, PlaybackGraph& g) { g.videoRenderer->remove_hr = E_FAIL; }},
      {"MyGrabber->put_MediaType failed\n", false,
       [](FakeWorld&, PlaybackGraph& g) { g.renderer->put_hrs = {E_FAIL}; }},
      {"pGraph->AddFilter failed\n", false, [](FakeWorld&, PlaybackGraph& g) { g.renderer->filter->add_hr = E_FAIL; }},
      {"pGraph->Connect(ThePin,GrabInputPin) failed\n", false,
       [](FakeWorld&, PlaybackGraph& g) { g.decoder->Pin("Out")->connect_hr = E_FAIL; }},
      {"MyGrabber->put_MediaType failed\n", false,
       [](FakeWorld&, PlaybackGraph& g) { g.renderer->put_hrs = {S_OK, E_FAIL}; }},
      {"CoCreateInstance(CLSID_Colour failed\n", true,
       [](FakeWorld& w, PlaybackGraph&) { w.create_converter_hr = REGDB_E_CLASSNOTREG; }},
      {"pGraph->AddFilter(ColorspaceConverter failed\n", true,
       [](FakeWorld& w, PlaybackGraph&) { w.converters[0]->add_hr = E_FAIL; }},
      {"InsertColorConverter failed\n", true, [](FakeWorld& w, PlaybackGraph&) { w.converters[0]->pins.pop_back(); }},
      {"InsertColorConverter failed\n", true,
       [](FakeWorld&, PlaybackGraph& g) { g.decoder->Pin("Out")->connect_hr = E_FAIL; }},
      {"pGraph->Connect(ThePin,GrabInputPin) failed\n", true,
       [](FakeWorld& w, PlaybackGraph&) { w.converters[0]->Pin("Out")->connect_hr = E_FAIL; }},
  };
  std::vector<std::string> clean[2];
  for (bool converter : {false, true}) {
    FakeWorld world;
    BuildPlayback(world, converter ? MEDIASUBTYPE_YUY2 : MEDIASUBTYPE_RGB24);
    world.AddConverter();
    TDirectShowThumbnailer t;
    ASSERT_EQ(Splice(world, t), 1);
    clean[converter] = world.graph.log;
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.trace ? c.trace : "EnumPins");
    FakeWorld world;
    PlaybackGraph g = BuildPlayback(world, c.converter ? MEDIASUBTYPE_YUY2 : MEDIASUBTYPE_RGB24);
    world.AddConverter();
    c.inject(world, g);
    {
      TraceLog log;
      TDirectShowThumbnailer t;
      EXPECT_EQ(Splice(world, t), 0);
      if (c.trace) {
        EXPECT_TRUE(log.Has(c.trace));
      }
      EXPECT_FALSE(log.Has("AddSampleGrabber : Done\n"));
      ExpectPrefix(world.graph.log, clean[c.converter]);
    }
    world.ExpectAllReleased();
  }
}

}  // namespace
