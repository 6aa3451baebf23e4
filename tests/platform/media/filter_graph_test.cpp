#include <gtest/gtest.h>

#include "platform/media/filter/earlier_seek.h"
#include "platform/media/graph/media_classes.h"
#include "platform/media/source/stream_description.h"
#include "tests/platform/media/graph_harness.h"

namespace media_test {
namespace {

std::string H264WithAudio() {
  return Fixture("graph-h264-aac.mp4",
                 "-f lavfi -i testsrc2=size=320x240:rate=50:duration=3 -f lavfi -i sine=frequency=440:duration=3 "
                 "-c:v libx264 -preset veryfast -pix_fmt yuv420p -g 50 -bf 2 -c:a aac -shortest");
}

TEST(FilterGraph, RenderFileBuildsSourceDecodersAndRenderers) {
  std::string path = H264WithAudio();
  GraphHarness h;
  ASSERT_EQ(h.Render(path), S_OK);
  std::vector<FilterView> filters = Describe(h.graph());
  ASSERT_EQ(filters.size(), 5u);
  EXPECT_EQ(filters[0].name, Wide(path));
  ASSERT_EQ(filters[0].pins.size(), 2u);
  EXPECT_EQ(filters[0].pins[0].dir, PINDIR_OUTPUT);
  EXPECT_TRUE(filters[0].pins[0].connected);
  EXPECT_EQ(filters[0].pins[0].major, MEDIATYPE_Video);
  EXPECT_EQ(filters[0].pins[0].sub, FourccGuid('a', 'v', 'c', '1'));
  EXPECT_EQ(filters[0].pins[1].major, MEDIATYPE_Audio);

  std::vector<std::wstring> names;
  for (auto& f : filters) names.push_back(f.name);
  EXPECT_EQ(names[1], L"Video Decoder");
  EXPECT_EQ(names[2], L"Video Renderer");
  EXPECT_EQ(names[3], L"Audio Decoder");
  EXPECT_EQ(names[4], L"Audio Renderer");
  ASSERT_EQ(filters[1].pins.size(), 2u);
  EXPECT_EQ(filters[1].pins[0].dir, PINDIR_INPUT);
  EXPECT_EQ(filters[1].pins[1].dir, PINDIR_OUTPUT);
  EXPECT_EQ(filters[1].pins[1].major, MEDIATYPE_Video);
  EXPECT_EQ(filters[1].pins[1].sub, MEDIASUBTYPE_IYUV);
  EXPECT_EQ(filters[2].pins.size(), 1u);
  EXPECT_TRUE(filters[2].pins[0].connected);
}

// Faults caught: a decoder that can no longer read its stream once the type
// it negotiated outlives the source's pin (the description must travel with
// the type), a source pin with no way back for an earlier seek, and raw video
// offered under a picture subtype (the grabber would splice undecoded bytes).
TEST(FilterGraph, SourcePinsCarryTheirStreamAndAWayBack) {
  std::string raw = Fixture("graph-rawvideo-yuy2.avi",
                            "-f lavfi -i testsrc2=size=64x48:rate=10:duration=1 -c:v rawvideo -pix_fmt yuyv422");
  struct Case {
    std::string path;
    GUID subtype;  // GUID_NULL: any but a picture subtype
  } cases[] = {{H264WithAudio(), FourccGuid('a', 'v', 'c', '1')}, {raw, GUID_NULL}};
  for (const Case& c : cases) {
    MediaType negotiated;
    ComPtr<media::IEarlierSeek> back;
    {
      GraphHarness h;
      ASSERT_EQ(h.Render(c.path), S_OK) << c.path;
      ComPtr<IBaseFilter> source = FindFilter(h.graph(), Wide(c.path).c_str());
      ComPtr<IPin> out = FirstPin(source.get(), PINDIR_OUTPUT);
      ASSERT_TRUE(out) << c.path;
      ASSERT_EQ(out->ConnectionMediaType(&negotiated), S_OK);
      EXPECT_EQ(out->QueryInterface(media::IID_IEarlierSeek, back.put_void()), S_OK) << c.path;
    }
    if (c.subtype != GUID_NULL) EXPECT_EQ(negotiated.subtype, c.subtype);
    EXPECT_NE(negotiated.subtype, MEDIASUBTYPE_YUY2) << c.path;
    const media::StreamInfo* info = media::StreamInfoOf(negotiated);
    ASSERT_NE(info, nullptr) << c.path;
    ASSERT_NE(info->codecpar, nullptr);
    EXPECT_GT(info->codecpar->width, 0) << c.path;
  }
  // A decoded type describes no stream.
  EXPECT_EQ(media::StreamInfoOf(MediaType()), nullptr);
}

TEST(FilterGraph, SplicedYuvDecoderGivesTheFrameAtEachSeek) {
  std::string path = H264WithAudio();
  GraphHarness h;
  ASSERT_EQ(h.Render(path), S_OK);
  ASSERT_TRUE(h.Splice());
  EXPECT_TRUE(h.usedConverter());
  // Eight seeks in one running graph, out of order, each the right frame.
  for (double t : {0.3, 0.52, 1.5, 2.0, 0.0, 2.98, 1.0, 0.04}) {
    Picture ours = h.FrameAt(t);
    Picture reference = ReferenceFrame(path, t);
    EXPECT_GE(Psnr(ours, reference), 35.0) << "at " << t;
  }
}

TEST(FilterGraph, WaitForCompletionHonoursItsTimeOut) {
  GraphHarness h;
  ASSERT_EQ(h.Render(H264WithAudio()), S_OK);
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
  ASSERT_EQ(h.graph()->QueryInterface(IID_IMediaControl, control.put_void()), S_OK);
  ASSERT_EQ(h.graph()->QueryInterface(IID_IMediaEventEx, events.put_void()), S_OK);
  EXPECT_EQ(events->SetNotifyWindow(0, WM_APP + 1, 0), S_OK);
  LONG code = 123;
  EXPECT_EQ(events->WaitForCompletion(0, &code), VFW_E_WRONG_STATE);
  ASSERT_EQ(control->Run(), S_OK);
  // The whole file through both null renderers takes longer than nothing.
  EXPECT_EQ(events->WaitForCompletion(0, &code), E_ABORT);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(events->WaitForCompletion(static_cast<LONG>(INFINITE), &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_EQ(events->WaitForCompletion(0, &code), S_OK);
}

TEST(FilterGraph, RewiringFollowsTheRules) {
  GraphHarness h;
  ASSERT_EQ(h.Render(H264WithAudio()), S_OK);
  ComPtr<IBaseFilter> decoder = FindFilter(h.graph(), L"Video Decoder");
  ComPtr<IBaseFilter> renderer = FindFilter(h.graph(), L"Video Renderer");
  ComPtr<IPin> out = FirstPin(decoder.get(), PINDIR_OUTPUT);
  ComPtr<IPin> in = FirstPin(renderer.get(), PINDIR_INPUT);
  EXPECT_EQ(h.graph()->Connect(out.get(), in.get()), VFW_E_ALREADY_CONNECTED);
  // A null input pin is refused like a null output pin: nothing is rendered
  // behind the caller's back.
  EXPECT_EQ(h.graph()->Connect(out.get(), nullptr), E_POINTER);
  ASSERT_EQ(h.graph()->Disconnect(out.get()), S_OK);
  EXPECT_EQ(h.graph()->Disconnect(in.get()), S_FALSE);
  // Removing a filter takes it out of the enumeration; a removed filter's
  // pins cannot be connected through this graph.
  ASSERT_EQ(h.graph()->RemoveFilter(renderer.get()), S_OK);
  EXPECT_EQ(h.graph()->RemoveFilter(renderer.get()), VFW_E_NOT_FOUND);
  EXPECT_FALSE(FindFilter(h.graph(), L"Video Renderer"));
  EXPECT_EQ(h.graph()->Connect(out.get(), in.get()), VFW_E_NOT_IN_GRAPH);
  // A second filter under a taken name gets a name of its own.
  ASSERT_EQ(h.graph()->AddFilter(renderer.get(), L"Video Decoder"), S_OK);
  EXPECT_TRUE(FindFilter(h.graph(), L"Video Decoder 0001"));
  EXPECT_EQ(h.graph()->AddFilter(renderer.get(), L"again"), E_INVALIDARG);
  EXPECT_EQ(h.graph()->Connect(out.get(), in.get()), S_OK);
  AM_MEDIA_TYPE mt{};
  ASSERT_EQ(in->ConnectionMediaType(&mt), S_OK);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_IYUV);
  ASSERT_GE(mt.cbFormat, sizeof(VIDEOINFOHEADER));
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
  EXPECT_EQ(vih->bmiHeader.biWidth, 320);
  EXPECT_EQ(vih->bmiHeader.biHeight, 240);
  EXPECT_EQ(vih->bmiHeader.biBitCount, 12);
  EXPECT_EQ(vih->bmiHeader.biCompression, MEDIASUBTYPE_IYUV.Data1);
  EXPECT_EQ(vih->bmiHeader.biSizeImage, 320u * 240 * 3 / 2);
  CoTaskMemFree(mt.pbFormat);
}

}  // namespace
}  // namespace media_test
