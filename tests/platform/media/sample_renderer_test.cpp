// The sample renderer component's contract, as the thumbnailer relies on it,
// and the reference counts of the objects it and the graph hand out.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/media/graph/media_classes.h"
#include "tests/platform/media/graph_harness.h"

namespace media_test {
namespace {

std::string Clip() {
  return Fixture("renderer-h264.mp4",
                 "-f lavfi -i testsrc2=size=320x240:rate=50:duration=2 -c:v libx264 -preset veryfast -g 25 "
                 "-pix_fmt yuv420p");
}

ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

ComPtr<ISampleRendererControl> NewRenderer() {
  RegisterMediaClasses();
  ComPtr<ISampleRendererControl> r;
  EXPECT_EQ(CoCreateInstance(CLSID_TarvenixSampleRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleRendererControl,
                             r.put_void()),
            S_OK);
  return r;
}

TEST(SampleRenderer, IsOneObjectBehindItsInterfaces) {
  ComPtr<ISampleRendererControl> r = NewRenderer();
  ASSERT_TRUE(r);
  EXPECT_EQ(RefCount(r.get()), 1u);
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(r->QueryInterface(IID_IBaseFilter, filter.put_void()), S_OK);
  EXPECT_EQ(RefCount(r.get()), 2u);
  ComPtr<IUnknown> a, b;
  r->QueryInterface(IID_IUnknown, a.put_void());
  filter->QueryInterface(IID_IUnknown, b.put_void());
  EXPECT_EQ(a.get(), b.get());
  // Its one input pin counts on the filter.
  ComPtr<IPin> in = FirstPin(filter.get(), PINDIR_INPUT);
  ASSERT_TRUE(in);
  EXPECT_FALSE(FirstPin(filter.get(), PINDIR_OUTPUT));
  EXPECT_EQ(RefCount(r.get()), 5u);
  in.reset();
  a.reset();
  b.reset();
  filter.reset();
  EXPECT_EQ(RefCount(r.get()), 1u);
}

TEST(SampleRenderer, ReportsNothingBeforeASample) {
  ComPtr<ISampleRendererControl> r = NewRenderer();
  LONG size = 123;
  EXPECT_TRUE(FAILED(r->GetCurrentBuffer(&size, nullptr)));
  EXPECT_EQ(r->GetCurrentBuffer(nullptr, nullptr), E_POINTER);
  AM_MEDIA_TYPE* mt = reinterpret_cast<AM_MEDIA_TYPE*>(1);
  EXPECT_TRUE(FAILED(r->get_MediaType(&mt)));
  EXPECT_EQ(mt, nullptr);
  EXPECT_EQ(r->put_MediaType(nullptr), E_POINTER);
}

TEST(SampleRenderer, AcceptsOnlyTheTypeItWasGiven) {
  GraphHarness h;
  ASSERT_EQ(h.Render(Clip()), S_OK);
  ComPtr<IBaseFilter> decoder = FindFilter(h.graph(), L"Video Decoder");
  ComPtr<IBaseFilter> videoRenderer = FindFilter(h.graph(), L"Video Renderer");
  ComPtr<IPin> out = FirstPin(decoder.get(), PINDIR_OUTPUT);
  ASSERT_EQ(h.graph()->Disconnect(out.get()), S_OK);
  EXPECT_EQ(h.graph()->Disconnect(FirstPin(videoRenderer.get(), PINDIR_INPUT).get()), S_FALSE);
  ASSERT_EQ(h.graph()->RemoveFilter(videoRenderer.get()), S_OK);

  ComPtr<ISampleRendererControl> r = NewRenderer();
  ComPtr<IBaseFilter> filter;
  r->QueryInterface(IID_IBaseFilter, filter.put_void());
  ASSERT_EQ(h.graph()->AddFilter(filter.get(), L"MyGrabber"), S_OK);
  ComPtr<IPin> in = FirstPin(filter.get(), PINDIR_INPUT);
  AM_MEDIA_TYPE want{};
  want.majortype = MEDIATYPE_Video;
  want.subtype = MEDIASUBTYPE_RGB24;
  want.formattype = FORMAT_VideoInfo;
  ASSERT_EQ(r->put_MediaType(&want), S_OK);
  // The decoder offers IYUV: refused without a converter.
  EXPECT_TRUE(FAILED(h.graph()->Connect(out.get(), in.get())));
  want.subtype = MEDIASUBTYPE_IYUV;
  ASSERT_EQ(r->put_MediaType(&want), S_OK);
  ASSERT_EQ(h.graph()->Connect(out.get(), in.get()), S_OK);
  // Accepted again once connected.
  EXPECT_EQ(r->put_MediaType(&want), S_OK);
  AM_MEDIA_TYPE* mt = nullptr;
  ASSERT_EQ(r->get_MediaType(&mt), S_OK);
  EXPECT_EQ(mt->subtype, MEDIASUBTYPE_IYUV);
  // The component owns what it returns: the same block each time.
  AM_MEDIA_TYPE* again = nullptr;
  r->get_MediaType(&again);
  EXPECT_EQ(again, mt);
  EXPECT_EQ(h.graph()->RemoveFilter(filter.get()), S_OK);
  h.graph()->Disconnect(in.get());
}

TEST(SampleRenderer, SizeQueryAndBoundedCopy) {
  GraphHarness h;
  ASSERT_EQ(h.Render(Clip()), S_OK);
  ASSERT_TRUE(h.Splice());
  ASSERT_TRUE(h.RunAt(0.5));
  ISampleRendererControl* r = h.grabber();
  LONG size = 0;
  ASSERT_EQ(r->GetCurrentBuffer(&size, nullptr), S_OK);
  EXPECT_EQ(size, 320 * 3 * 240);
  std::vector<BYTE> bytes(size + 16, 0xA5);
  LONG bound = 100;
  ASSERT_EQ(r->GetCurrentBuffer(&bound, bytes.data()), S_OK);
  for (size_t i = 100; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0xA5) << "byte " << i << " written";
  const std::vector<BYTE> start(bytes.begin(), bytes.begin() + 100);
  // The whole picture is converted straight into the caller's memory, the
  // part of it through the renderer's own copy: the same bytes either way.
  LONG all = size + 16;
  ASSERT_EQ(r->GetCurrentBuffer(&all, bytes.data()), S_OK);
  EXPECT_EQ(all, size);
  EXPECT_EQ(bytes[size], 0xA5);
  EXPECT_TRUE(std::equal(start.begin(), start.end(), bytes.begin()));
  std::vector<BYTE> again(size);
  LONG exact = size;
  ASSERT_EQ(r->GetCurrentBuffer(&exact, again.data()), S_OK);
  EXPECT_TRUE(std::equal(again.begin(), again.end(), bytes.begin()));
}

TEST(SampleRenderer, OneShotTakesOneSamplePerRunAndPerSeek) {
  std::string path = Clip();
  GraphHarness h;
  ASSERT_EQ(h.Render(path), S_OK);
  ASSERT_TRUE(h.Splice());
  ComPtr<IMediaEventEx> events;
  ComPtr<IMediaControl> control;
  h.graph()->QueryInterface(IID_IMediaEventEx, events.put_void());
  h.graph()->QueryInterface(IID_IMediaControl, control.put_void());
  LONG code = 0;
  // Without a seek the first run takes the first frame, the next run a later
  // one from where the stream stands.
  ASSERT_EQ(control->Run(), S_OK);
  ASSERT_EQ(events->WaitForCompletion(static_cast<LONG>(INFINITE), &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  Picture first = h.Frame();
  EXPECT_GE(Psnr(first, ReferenceFrame(path, 0.0)), 35.0);
  ASSERT_EQ(control->Run(), S_OK);
  ASSERT_EQ(events->WaitForCompletion(static_cast<LONG>(INFINITE), &code), S_OK);
  Picture next = h.Frame();
  EXPECT_EQ(next.width, 320);
  EXPECT_LT(Psnr(next, first), 35.0);
  // Each seek re-arms it while running.
  ASSERT_TRUE(h.RunAt(1.0));
  Picture atOne = h.Frame();
  EXPECT_GE(Psnr(atOne, ReferenceFrame(path, 1.0)), 35.0);
  // Waiting again gives nothing new; the stream ended at the stop position.
  ASSERT_EQ(events->WaitForCompletion(static_cast<LONG>(INFINITE), &code), S_OK);
  EXPECT_EQ(Psnr(h.Frame(), atOne), 99.0);
  ASSERT_TRUE(h.RunAt(0.2));
  EXPECT_GE(Psnr(h.Frame(), ReferenceFrame(path, 0.2)), 35.0);
}

TEST(FilterGraph, DestructionFreesEverything) {
  size_t blocks = TaskMemOutstanding();
  ComPtr<ISampleRendererControl> kept;
  {
    GraphHarness h;
    ASSERT_EQ(h.Render(Clip()), S_OK);
    ASSERT_TRUE(h.Splice());
    ASSERT_TRUE(h.RunAt(0.3));
    kept = ComPtr<ISampleRendererControl>::Share(h.grabber());
    EXPECT_EQ(RefCount(kept.get()), 3u);  // ours, the harness's, the graph's
  }
  // The graph let go of the renderer and of every connection to it.
  EXPECT_EQ(RefCount(kept.get()), 1u);
  AM_MEDIA_TYPE* mt = nullptr;
  EXPECT_TRUE(FAILED(kept->get_MediaType(&mt)));
  kept.reset();
  EXPECT_EQ(TaskMemOutstanding(), blocks);
}

TEST(FilterGraph, HandsOutCountedReferences) {
  GraphHarness h;
  ASSERT_EQ(h.Render(Clip()), S_OK);
  ComPtr<IBaseFilter> decoder = FindFilter(h.graph(), L"Video Decoder");
  ULONG base = RefCount(decoder.get());
  {
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(decoder->EnumPins(pins.put()), S_OK);
    IPin* got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(pins->Next(3, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(RefCount(decoder.get()), base + 3);  // two pins and the enumerator
    PIN_INFO info{};
    ASSERT_EQ(got[0]->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.pFilter, decoder.get());
    EXPECT_EQ(info.dir, PINDIR_INPUT);
    EXPECT_EQ(RefCount(decoder.get()), base + 4);
    info.pFilter->Release();
    IPin* peer = nullptr;
    ASSERT_EQ(got[0]->ConnectedTo(&peer), S_OK);
    peer->Release();
    FILTER_INFO finfo{};
    ASSERT_EQ(decoder->QueryFilterInfo(&finfo), S_OK);
    EXPECT_EQ(std::wstring(finfo.achName), L"Video Decoder");
    ASSERT_NE(finfo.pGraph, nullptr);
    finfo.pGraph->Release();
    got[0]->Release();
    got[1]->Release();
  }
  EXPECT_EQ(RefCount(decoder.get()), base);
  ComPtr<IEnumFilters> filters;
  ASSERT_EQ(h.graph()->EnumFilters(filters.put()), S_OK);
  IBaseFilter* f = nullptr;
  EXPECT_EQ(filters->Next(2, &f, nullptr), E_POINTER);
  EXPECT_EQ(h.graph()->Connect(nullptr, nullptr), E_POINTER);
  EXPECT_EQ(h.graph()->Disconnect(nullptr), E_POINTER);
}

}  // namespace
}  // namespace media_test
