#include <gtest/gtest.h>

#include "fake_graph.h"
#include "grabber/thumbnailer.h"

namespace {

// A thumbnailer whose sample renderer has been spliced into the world's
// graph, ready for the walk.
void Spliced(FakeWorld& world, TDirectShowThumbnailer& t) {
  world.graph.AddRef();
  t.pGraph = &world.graph;
  ASSERT_EQ(t.AddSampleGrabber(), 1);
  world.graph.log.clear();
}

bool Connected(FakePin* out, FakePin* in) { return out->peer == in && in->peer == out; }

TEST(RemoveNonVideoBranches, VideoAndAudioGraphKeepsOnlyItsVideoPath) {
  FakeWorld world;
  PlaybackGraph g = BuildPlayback(world, MEDIASUBTYPE_YUY2, true);
  FakeFilter* converter = world.AddConverter();
  {
    TraceLog log;
    TDirectShowThumbnailer t;
    Spliced(world, t);
    t.RemoveNonVideoBranches();
    EXPECT_EQ(world.graph.log, (std::vector<std::string>{
                                   "Disconnect source.Audio",
                                   "Disconnect audio decoder.In",
                                   "Disconnect audio decoder.Out",
                                   "Disconnect Audio Renderer.In",
                                   "RemoveFilter Audio Renderer",
                                   "RemoveFilter audio decoder",
                                   "Connect source.Audio to nothing",
                               }));
    EXPECT_EQ(g.source->Pin("Audio")->peer, nullptr);
    EXPECT_TRUE(Connected(g.source->Pin("Video"), g.decoder->Pin("In")));
    EXPECT_TRUE(Connected(g.decoder->Pin("Out"), converter->Pin("In")));
    EXPECT_TRUE(Connected(converter->Pin("Out"), g.renderer->filter->Pin("In")));
    EXPECT_EQ(log.texts.back(), "TDirectShowThumbnailer::RemoveNonVideoBranches 6\n");
  }
  world.ExpectAllReleased();
}

TEST(RemoveNonVideoBranches, AFilterWithTwoOutputsGoesAfterBothItsRenderers) {
  FakeWorld world;
  PlaybackGraph g = BuildPlayback(world, MEDIASUBTYPE_RGB24);
  FakePin* extra = world.AddPin(g.source, "Extra", PINDIR_OUTPUT);
  FakeFilter* tee = world.Filter("tee", {{"In", PINDIR_INPUT}, {"Out1", PINDIR_OUTPUT}, {"Out2", PINDIR_OUTPUT}});
  FakeFilter* r1 = world.Filter("r1", {{"In", PINDIR_INPUT}});
  FakeFilter* r2 = world.Filter("r2", {{"In", PINDIR_INPUT}});
  FakeWorld::Link(extra, tee->Pin("In"));
  FakeWorld::Link(tee->Pin("Out1"), r1->Pin("In"));
  FakeWorld::Link(tee->Pin("Out2"), r2->Pin("In"));
  {
    TDirectShowThumbnailer t;
    Spliced(world, t);
    t.RemoveNonVideoBranches();
    std::vector<std::string> removed;
    for (const std::string& call : world.graph.log)
      if (call.rfind("RemoveFilter ", 0) == 0) removed.push_back(call);
    EXPECT_EQ(removed, (std::vector<std::string>{"RemoveFilter r1", "RemoveFilter r2", "RemoveFilter tee"}));
    EXPECT_TRUE(Connected(g.decoder->Pin("Out"), g.renderer->filter->Pin("In")));
  }
  world.ExpectAllReleased();
}

TEST(RemoveNonVideoBranches, TheFirstSampleRendererOfTwoIsCutAway) {
  FakeWorld world;
  FakeFilter* source = world.Filter("source", {{"Out1", PINDIR_OUTPUT}, {"Out2", PINDIR_OUTPUT}});
  FakeFilter* sink1 = world.Filter("sink1", {{"In", PINDIR_INPUT}});
  FakeFilter* sink2 = world.Filter("sink2", {{"In", PINDIR_INPUT}});
  source->Pin("Out1")->media = VideoType(MEDIASUBTYPE_RGB24);
  source->Pin("Out2")->media = VideoType(MEDIASUBTYPE_RGB24);
  FakeWorld::Link(source->Pin("Out1"), sink1->Pin("In"));
  FakeWorld::Link(source->Pin("Out2"), sink2->Pin("In"));
  world.AddRenderer();
  FakeSampleRenderer* kept = world.AddRenderer();
  {
    TDirectShowThumbnailer t;
    Spliced(world, t);
    t.RemoveNonVideoBranches();
    EXPECT_FALSE(world.graph.Contains("renderer1"));
    EXPECT_TRUE(world.graph.Contains("renderer2"));
    EXPECT_TRUE(Connected(source->Pin("Out2"), kept->filter->Pin("In")));
  }
  world.ExpectAllReleased();
}

TEST(RemoveNonVideoBranches, PinsBeyondTheFirstTenOfAFilterAreNeverExamined) {
  FakeWorld world;
  PlaybackGraph g = BuildPlayback(world, MEDIASUBTYPE_RGB24);
  for (int i = 2; i <= 10; ++i) world.AddPin(g.source, "Unconnected" + std::to_string(i), PINDIR_OUTPUT);
  FakePin* eleventh = world.AddPin(g.source, "Audio", PINDIR_OUTPUT);
  FakeFilter* sink = world.Filter("Audio Renderer", {{"In", PINDIR_INPUT}});
  FakeWorld::Link(eleventh, sink->Pin("In"));
  {
    TDirectShowThumbnailer t;
    Spliced(world, t);
    t.RemoveNonVideoBranches();
    EXPECT_TRUE(Connected(eleventh, sink->Pin("In")));
    EXPECT_TRUE(world.graph.Contains("Audio Renderer"));
    // The unconnected outputs had nothing to cut; the eleventh was not asked.
    EXPECT_EQ(world.graph.log.size(), 9u);
    for (const std::string& call : world.graph.log) EXPECT_EQ(call.find("Audio"), std::string::npos) << call;
  }
  world.ExpectAllReleased();
}

TEST(RemoveNonVideoBranches, EachFailureEndsTheWalkWhereItStands) {
  struct Case {
    const char* trace;  // null: ends without a trace of its own
    std::function<void(FakeWorld&, PlaybackGraph&)> inject;
  };
  const Case cases[] = {
      {"TDirectShowThumbnailer::RemoveNonVideoBranches Error 1\n",
       [](FakeWorld&, PlaybackGraph& g) { g.renderer->qi_filter_hr = E_NOINTERFACE; }},
      {"TDirectShowThumbnailer::RemoveNonVideoBranches 8\n",
       [](FakeWorld&, PlaybackGraph& g) { g.renderer->filter->Pin("In")->connected_to_hr = E_FAIL; }},
      {"TDirectShowThumbnailer::RemoveNonVideoBranches Error2\n",
       [](FakeWorld&, PlaybackGraph& g) { g.source->Pin("Video")->query_pin_info_hr = E_FAIL; }},
      {"Filter->QueryFilterInfo(&ConnectedFilterInfo) failed\n",
       [](FakeWorld&, PlaybackGraph& g) { g.source->query_filter_info_hr = E_FAIL; }},
      {nullptr, [](FakeWorld&, PlaybackGraph& g) { g.source->enum_pins_hr = E_FAIL; }},
      {"PinEnum->Next failed\n", [](FakeWorld&, PlaybackGraph& g) { g.source->next_hr = E_FAIL; }},
      {"Info.pFilter->QueryFilterInfo failed\n",
       [](FakeWorld&, PlaybackGraph& g) {
         // The source answers as the upstream filter, then fails as the owner
         // of the pin about to be cut.
         g.source->query_filter_info_calls = 0;
         g.source->query_filter_info_fail_at = 2;
       }},
      {"Pins[i]->QueryPinInfo failed\n",
       [](FakeWorld&, PlaybackGraph& g) { g.source->Pin("Audio")->query_pin_info_hr = E_FAIL; }},
  };
  std::vector<std::string> clean;
  {
    FakeWorld world;
    BuildPlayback(world, MEDIASUBTYPE_RGB24, true);
    TDirectShowThumbnailer t;
    Spliced(world, t);
    t.RemoveNonVideoBranches();
    clean = world.graph.log;
  }
  for (const Case& c : cases) {
    FakeWorld world;
    PlaybackGraph g = BuildPlayback(world, MEDIASUBTYPE_RGB24, true);
    {
      TraceLog log;
      TDirectShowThumbnailer t;
      Spliced(world, t);
      c.inject(world, g);
      t.RemoveNonVideoBranches();
      SCOPED_TRACE(c.trace ? c.trace : "silent");
      if (c.trace) {
        EXPECT_TRUE(log.Has(c.trace));
      }
      EXPECT_FALSE(log.Has("TDirectShowThumbnailer::RemoveNonVideoBranches 6\n"));
      EXPECT_LT(world.graph.log.size(), clean.size());
      ExpectPrefix(world.graph.log, clean);
      EXPECT_TRUE(Connected(g.decoder->Pin("Out"), g.renderer->filter->Pin("In")));
    }
    world.ExpectAllReleased();
  }
}

TEST(RemoveNonVideoBranches, ABranchThatCannotBeCutStaysAndTheWalkGoesOn) {
  const std::function<void(PlaybackGraph&)> cases[] = {
      [](PlaybackGraph& g) { g.audioDecoder->Pin("In")->query_pin_info_hr = E_FAIL; },
      [](PlaybackGraph& g) { g.source->Pin("Audio")->disconnect_hr = E_FAIL; },
      [](PlaybackGraph& g) { g.audioDecoder->Pin("In")->disconnect_hr = E_FAIL; },
      [](PlaybackGraph& g) { g.audioDecoder->enum_pins_hr = E_FAIL; },
      [](PlaybackGraph& g) { g.audioDecoder->next_hr = E_FAIL; },
      [](PlaybackGraph& g) { g.audioDecoder->Pin("Out")->query_pin_info_hr = E_FAIL; },
  };
  int n = 0;
  for (const auto& inject : cases) {
    SCOPED_TRACE(++n);
    FakeWorld world;
    PlaybackGraph g = BuildPlayback(world, MEDIASUBTYPE_RGB24, true);
    {
      TraceLog log;
      TDirectShowThumbnailer t;
      Spliced(world, t);
      inject(g);
      t.RemoveNonVideoBranches();
      EXPECT_TRUE(world.graph.Contains("audio decoder"));
      EXPECT_TRUE(world.graph.Contains("Audio Renderer"));
      EXPECT_TRUE(log.Has("TDirectShowThumbnailer::RemoveNonVideoBranches 6\n"));
    }
    world.ExpectAllReleased();
  }
}

TEST(RemoveNonVideoBranches, AFilterTheGraphKeepsStaysDisconnectedAndTheWalkGoesOn) {
  FakeWorld world;
  PlaybackGraph g = BuildPlayback(world, MEDIASUBTYPE_RGB24, true);
  g.audioRenderer->remove_hr = E_FAIL;
  {
    TraceLog log;
    TDirectShowThumbnailer t;
    Spliced(world, t);
    t.RemoveNonVideoBranches();
    EXPECT_TRUE(world.graph.Contains("Audio Renderer"));
    EXPECT_EQ(g.audioDecoder->Pin("Out")->peer, nullptr);
    EXPECT_FALSE(world.graph.Contains("audio decoder"));
    EXPECT_TRUE(log.Has("TDirectShowThumbnailer::RemoveNonVideoBranches 6\n"));
  }
  world.ExpectAllReleased();
}

}  // namespace
