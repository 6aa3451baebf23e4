#include <gtest/gtest.h>

#include <functional>

#include "fake_graph.h"
#include "grabber/thumbnailer.h"
#include "platform/gdi/bitmap.h"

namespace {

// A playable file: an RGB24 video path beside an audio path, whose sample
// renderer buffers, after each run, the next of the test's 4 x 2 frames
// (each one byte value repeated).
struct Playable {
  explicit Playable(const GUID& decoded = MEDIASUBTYPE_RGB24) {
    g = BuildPlayback(world, decoded, true);
    world.graph.on_completion = [this] {
      ASSERT_LT(runs, frames.size());
      g.renderer->Deliver(4, 2, std::vector<BYTE>(24, frames[runs++]));
    };
  }

  // The seeks, runs and waits the thumbnailer made, in order.
  std::vector<std::string> Running() const {
    std::vector<std::string> out;
    for (const std::string& call : world.graph.log)
      if (call == "Run" || call == "Wait" || call.rfind("Seek ", 0) == 0) out.push_back(call);
    return out;
  }
  std::vector<std::string> Seeks() const {
    std::vector<std::string> out;
    for (const std::string& call : Running())
      if (call.rfind("Seek ", 0) == 0) out.push_back(call);
    return out;
  }
  // The seeks of a thumbnail of a file whose every frame is dark.
  std::vector<std::string> SeeksOfAllDark() {
    {
      TDirectShowThumbnailer t;
      EXPECT_EQ(t.ThumbnailFile("clip.mp4"), 1);
      EXPECT_EQ(runs, 8u);
    }
    world.ExpectAllReleased();
    return Seeks();
  }

  FakeWorld world;
  PlaybackGraph g;
  std::vector<BYTE> frames = std::vector<BYTE>(8, 0);
  size_t runs = 0;
};

std::vector<std::string> SeekList(std::vector<DWORD> positions) {
  std::vector<std::string> out;
  for (DWORD p : positions) out.push_back("Seek " + std::to_string(p));
  return out;
}

TEST(ThumbnailFile, ABrightFirstFrameEndsAfterOneRun) {
  Playable file;
  file.frames[0] = 200;
  {
    TDirectShowThumbnailer t;
    ASSERT_EQ(t.ThumbnailFile("/videos/clip.mp4"), 1);
    EXPECT_EQ(file.Running(), (std::vector<std::string>{"Seek 3000000", "Run", "Wait"}));
    EXPECT_EQ(file.world.graph.rendered, L"/videos/clip.mp4");
    EXPECT_STREQ(t.FileName, "/videos/clip.mp4");
    EXPECT_TRUE(file.g.renderer->one_shot);
    EXPECT_TRUE(file.g.renderer->buffer_samples);
    ASSERT_NE(t.Bits, nullptr);
    EXPECT_EQ(t.Bits[0], 200);
    EXPECT_EQ(t.BitmapInfo.bmiHeader.biWidth, 4);
    // The audio branch went before the graph ran.
    EXPECT_FALSE(file.world.graph.Contains("Audio Renderer"));
  }
  file.world.ExpectAllReleased();
}

TEST(TDirectShowThumbnailer, DestructionDeletesTheFrameThenReleasesInItsFixedOrder) {
  Playable file(MEDIASUBTYPE_YUY2);
  file.world.AddConverter();
  file.frames[0] = 200;
  HBITMAP frame = nullptr;
  {
    TDirectShowThumbnailer t;
    ASSERT_EQ(t.ThumbnailFile("clip.mp4"), 1);
    frame = t.Bitmap;
    ASSERT_GT(BitmapPixelBytes(frame), 0u);
    file.world.record_releases = true;
  }
  EXPECT_EQ(BitmapPixelBytes(frame), 0u);
  // pGraph, pGrabFilter, pSeeking, pMediaControl, pEvent, MyGrabber,
  // ColorspaceConverter.
  EXPECT_EQ(file.world.releases, (std::vector<std::string>{"graph", "renderer1", "graph", "graph", "graph",
                                                           "sample renderer", "converter1"}));
  file.world.record_releases = false;
  file.world.ExpectAllReleased();
}

TEST(ThumbnailFile, AllDarkRunsEveryPositionWithoutStoppingAndKeepsTheLast) {
  Playable file;
  file.world.graph.duration = 300000000;
  file.frames = {0, 1, 2, 3, 4, 5, 6, 7};
  {
    TDirectShowThumbnailer t;
    ASSERT_EQ(t.ThumbnailFile("clip.mp4"), 1);
    std::vector<std::string> expected;
    for (const std::string& seek :
         SeekList({3000000, 5200000, 15000000, 20000000, 30000000, 70000000, 120000000, 200000000}))
      expected.insert(expected.end(), {seek, "Run", "Wait"});
    EXPECT_EQ(file.Running(), expected);  // the fake graph fails any Stop or Pause
    ASSERT_NE(t.Bits, nullptr);
    EXPECT_EQ(t.Bits[0], 7);
  }
  file.world.ExpectAllReleased();
}

TEST(ThumbnailFile, NoFrameAtTheEighthPositionIsAFailure) {
  // Dark frames up to the seventh run, then no frame type or no sample at
  // all: an unfilled bitmap must not pass for the last dark frame.
  const std::function<void(FakeSampleRenderer&)> lastRuns[] = {
      [](FakeSampleRenderer& r) { r.get_media_type_hr = E_FAIL; },
      [](FakeSampleRenderer& r) { r.size_hr = E_FAIL; },
  };
  for (const auto& lastRun : lastRuns) {
    Playable file;
    file.world.graph.on_completion = [&file, &lastRun] {
      file.g.renderer->Deliver(4, 2, std::vector<BYTE>(24, 0));
      if (++file.runs == 8) lastRun(*file.g.renderer);
    };
    {
      TDirectShowThumbnailer t;
      EXPECT_EQ(t.ThumbnailFile("clip.mp4"), 0);
      EXPECT_EQ(file.runs, 8u);
      EXPECT_EQ(t.Bits, nullptr);
      EXPECT_EQ(t.Bitmap, nullptr);
    }
    file.world.ExpectAllReleased();
  }
}

TEST(SeekTo, PositionsAtOrPastTheEndBecomeHalfTheDuration) {
  {
    Playable oneSecond;
    oneSecond.world.graph.duration = 10000000;
    EXPECT_EQ(oneSecond.SeeksOfAllDark(),
              SeekList({3000000, 5200000, 5000000, 5000000, 5000000, 5000000, 5000000, 5000000}));
  }
  {
    Playable endsAtAPosition;
    endsAtAPosition.world.graph.duration = 15000000;
    EXPECT_EQ(endsAtAPosition.SeeksOfAllDark(),
              SeekList({3000000, 5200000, 7500000, 7500000, 7500000, 7500000, 7500000, 7500000}));
  }
}

TEST(SeekTo, WithoutSeekingOrDurationEveryRunStartsWhereTheGraphStands) {
  {
    Playable noSeeking;
    noSeeking.world.graph.qi_seeking_hr = E_NOINTERFACE;
    EXPECT_TRUE(noSeeking.SeeksOfAllDark().empty());
  }
  {
    Playable noDuration;
    noDuration.world.graph.get_duration_hr = E_FAIL;
    EXPECT_TRUE(noDuration.SeeksOfAllDark().empty());
  }
  {
    Playable negativeDuration;
    negativeDuration.world.graph.duration = -10;
    EXPECT_TRUE(negativeDuration.SeeksOfAllDark().empty());
  }
}

TEST(ThumbnailFile, PathBytesAreWidenedOneToOneAndALongPathIsRefused) {
  {
    Playable file;
    file.frames[0] = 200;
    TDirectShowThumbnailer t;
    ASSERT_EQ(t.ThumbnailFile("/v/caf\xc3\xa9 \x7f\xff.mp4"), 1);
    EXPECT_EQ(file.world.graph.rendered, std::wstring(L"/v/caf\u00c3\u00a9 \u007f\u00ff.mp4"));
  }
  {
    Playable file;
    file.frames[0] = 200;
    TDirectShowThumbnailer t;
    std::string longest(259, 'a');
    ASSERT_EQ(t.ThumbnailFile(longest.c_str()), 1);
    EXPECT_EQ(file.world.graph.rendered, std::wstring(259, L'a'));
  }
  {
    Playable file;
    TraceLog log;
    {
      TDirectShowThumbnailer t;
      std::string tooLong(260, 'a');
      EXPECT_EQ(t.ThumbnailFile(tooLong.c_str()), 0);
      EXPECT_TRUE(file.world.graph.rendered.empty());
      EXPECT_EQ(file.world.renderers_created, 0u);
    }
    file.world.ExpectAllReleased();
  }
}

TEST(ThumbnailFile, EachFailedStepEndsWithZeroAndReleasesOnlyInTheDestructor) {
  struct Case {
    const char* trace;
    std::function<void(Playable&)> inject;
    ULONG graphRefsHeld;  // the thumbnailer's references on the graph manager at the failure
  };
  const Case cases[] = {
      {"TDirectShowThumbnailer::ThumbnailFile E1\n", [](Playable& f) { f.world.create_graph_hr = E_OUTOFMEMORY; }, 0},
      {"pGraph->RenderFile failed\n", [](Playable& f) { f.world.graph.render_file_hr = VFW_E_INVALID_FILE_FORMAT; },
       1},
      {"AddSampleGrabber failed\n",
       [](Playable& f) { f.g.decoder->Pin("Out")->media = VideoType(FourccGuid('H', '2', '6', '4')); }, 1},
      {"MyGrabber->SetBufferSamples failed\n", [](Playable& f) { f.g.renderer->set_buffer_samples_hr = E_FAIL; }, 1},
      {"MyGrabber->SetOneShot failed\n", [](Playable& f) { f.g.renderer->set_one_shot_hr = E_FAIL; }, 1},
      {"pGraph->QueryInterface failed\n", [](Playable& f) { f.world.graph.qi_event_hr = E_NOINTERFACE; }, 1},
      {"pEvent->SetNotifyWindow failed\n", [](Playable& f) { f.world.graph.set_notify_hr = E_FAIL; }, 2},
      {"pGraph->QueryInterface failed\n", [](Playable& f) { f.world.graph.qi_control_hr = E_NOINTERFACE; }, 2},
      {"pMediaControl->Run failed\n", [](Playable& f) { f.world.graph.run_hr = E_FAIL; }, 4},
      {"pEvent->WaitForCompletion failed\n", [](Playable& f) { f.world.graph.wait_hr = E_ABORT; }, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.trace);
    Playable file;
    c.inject(file);
    {
      TraceLog log;
      TDirectShowThumbnailer t;
      EXPECT_EQ(t.ThumbnailFile("clip.mp4"), 0);
      EXPECT_TRUE(log.Has(c.trace));
      EXPECT_EQ(file.world.graph.refs, 1 + c.graphRefsHeld);
      EXPECT_EQ(t.BitmapInfo.bmiHeader.biWidth, 0);
      EXPECT_EQ(t.BitmapInfo.bmiHeader.biHeight, 0);
    }
    file.world.ExpectAllReleased();
  }
}

}  // namespace

// A walk placed by the caller must start where it was asked, go forward
// from there and resolve a share against the duration. At or past the end
// it takes the last frame and stops: the middle of the video, which the
// fixed walk takes there, is not what a caller asking for the end wants.
TEST(ThumbnailFile, APlacedWalkGoesForwardFromItsStart) {
  struct Case {
    const char* what;
    WalkStart start;
    LONGLONG duration;
    std::vector<DWORD> seeks;
  };
  const Case cases[] = {
      {"1.5 s", {false, 15000000}, 600000000,
       {15000000, 20000000, 25000000, 35000000, 55000000, 95000000, 165000000, 315000000}},
      {"half of 60 s", {true, 500000}, 600000000,
       {300000000, 305000000, 310000000, 320000000, 340000000, 380000000, 450000000, 600000000}},
      {"the end of 10 s", {true, 1000000}, 100000000, {100000000}},
      {"9.8 s of 10 s", {false, 98000000}, 100000000, {98000000, 100000000}},
      {"a minute into 10 s", {false, 600000000}, 100000000, {100000000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Playable file;
    file.world.graph.duration = c.duration;
    {
      TDirectShowThumbnailer t;
      t.Start = c.start;
      EXPECT_EQ(t.ThumbnailFile("clip.mp4"), 1);
    }
    EXPECT_EQ(file.Seeks(), SeekList(c.seeks));
  }
}

// The reason of a failure is the failed step's own status, so that the
// server can tell a missing file from a damaged one; a walk without any
// frame is a file with nothing decodable.
TEST(ThumbnailFile, AFailureKeepsItsReason) {
  {
    Playable unreadable;
    unreadable.world.graph.render_file_hr = kFileNotFound;
    TDirectShowThumbnailer t;
    EXPECT_EQ(t.ThumbnailFile("clip.mp4"), 0);
    EXPECT_EQ(t.Failure, kFileNotFound);
  }
  {
    Playable audioOnly;
    audioOnly.g.decoder->Pin("Out")->media = VideoType(FourccGuid('H', '2', '6', '4'));
    TDirectShowThumbnailer t;
    EXPECT_EQ(t.ThumbnailFile("clip.mp4"), 0);
    EXPECT_EQ(t.Failure, E_MEDIA_NO_VIDEO);
  }
  {
    Playable nothing;
    nothing.world.graph.on_completion = [&nothing] {
      ++nothing.runs;
      nothing.g.renderer->size_hr = E_FAIL;
    };
    TDirectShowThumbnailer t;
    EXPECT_EQ(t.ThumbnailFile("clip.mp4"), 0);
    EXPECT_EQ(t.Failure, E_MEDIA_NO_PICTURE);
  }
  {
    Playable good;
    good.frames = std::vector<BYTE>(8, 200);
    TDirectShowThumbnailer t;
    EXPECT_EQ(t.ThumbnailFile("clip.mp4"), 1);
    EXPECT_EQ(t.Failure, S_OK);
  }
}
