// The sample renderer's contract, once for both platforms: the Linux and the
// Windows renderer keep no rule of their own and ask these.
#include "platform/dshow/sample_renderer_rules.h"

#include <gtest/gtest.h>

#include <cstring>

#include <vector>

namespace {

VIDEOINFOHEADER kHeader{};

AM_MEDIA_TYPE Type(const GUID& major, const GUID& sub, const GUID& format, ULONG block = sizeof kHeader) {
  AM_MEDIA_TYPE t{};
  t.majortype = major;
  t.subtype = sub;
  t.formattype = format;
  t.cbFormat = block;
  t.pbFormat = block ? reinterpret_cast<BYTE*>(&kHeader) : nullptr;
  return t;
}

const AM_MEDIA_TYPE kRgb24 = Type(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, FORMAT_VideoInfo);
const AM_MEDIA_TYPE kYuy2 = Type(MEDIATYPE_Video, MEDIASUBTYPE_YUY2, FORMAT_VideoInfo);
const AM_MEDIA_TYPE kAudio = Type(MEDIATYPE_Audio, GUID_NULL, FORMAT_WaveFormatEx, 0);

// Fault caught: a renderer that refuses everything until told (the grabber's
// first connect would fail on a renderer that lost its type), matches a
// partial type exactly, or takes a video type whose header it cannot read.
TEST(SampleRendererRules, AcceptsWhatThePartialTypeLeavesOpen) {
  const AM_MEDIA_TYPE anyVideo = Type(MEDIATYPE_Video, GUID_NULL, GUID_NULL, 0);
  const AM_MEDIA_TYPE rgb24Only = Type(GUID_NULL, MEDIASUBTYPE_RGB24, GUID_NULL, 0);
  const AM_MEDIA_TYPE shortHeader = Type(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 20);
  const AM_MEDIA_TYPE noHeader = Type(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 0);
  struct Case {
    const char* name;
    const AM_MEDIA_TYPE* given;  // null: put_MediaType never called
    const AM_MEDIA_TYPE* offered;
    HRESULT expected;
  } cases[] = {
      {"nothing set takes video", nullptr, &kYuy2, S_OK},
      {"nothing set takes audio", nullptr, &kAudio, S_OK},
      {"exact type", &kRgb24, &kRgb24, S_OK},
      {"other subtype", &kRgb24, &kYuy2, VFW_E_TYPE_NOT_ACCEPTED},
      {"other major type", &kRgb24, &kAudio, VFW_E_TYPE_NOT_ACCEPTED},
      {"major type only", &anyVideo, &kYuy2, S_OK},
      {"major type only, audio", &anyVideo, &kAudio, VFW_E_TYPE_NOT_ACCEPTED},
      {"subtype only", &rgb24Only, &kRgb24, S_OK},
      {"subtype only, other", &rgb24Only, &kYuy2, VFW_E_TYPE_NOT_ACCEPTED},
      {"short header", &kRgb24, &shortHeader, VFW_E_INVALIDMEDIATYPE},
      {"no header", nullptr, &noHeader, VFW_E_INVALIDMEDIATYPE},
  };
  for (const Case& c : cases) {
    SampleRendererRules rules;
    if (c.given) {
      ASSERT_EQ(rules.SetAcceptedType(c.given), S_OK) << c.name;
    }
    EXPECT_EQ(rules.CheckType(*c.offered), c.expected) << c.name;
  }
  SampleRendererRules rules;
  EXPECT_EQ(rules.SetAcceptedType(nullptr), E_POINTER);
  // Told again with the same type once connected, as the grabber does.
  ASSERT_EQ(rules.SetAcceptedType(&kRgb24), S_OK);
  ASSERT_EQ(rules.SetAcceptedType(&kRgb24), S_OK);
  EXPECT_EQ(rules.CheckType(kRgb24), S_OK);
}

// Fault caught: a one-shot renderer that takes a second sample before the
// next run or seek (the frame of the wrong position), or never ends its
// stream; a continuous one that ends it.
TEST(SampleRendererRules, OneShotTakesOneSamplePerRunOrSeek) {
  SampleRendererRules rules;
  rules.SetOneShot(TRUE);
  ASSERT_TRUE(rules.Wants());
  EXPECT_TRUE(rules.Take(false));  // ends the stream
  EXPECT_TRUE(rules.Taken());
  EXPECT_FALSE(rules.Wants());
  rules.Rearm();
  EXPECT_FALSE(rules.Taken());
  EXPECT_TRUE(rules.Wants());

  rules.SetOneShot(FALSE);
  EXPECT_FALSE(rules.Take(false));
  EXPECT_TRUE(rules.Wants());
}

// Fault caught: a buffer reported before any sample was kept, a copy that
// writes past the caller's bound, a size query that copies, a failed copy
// reported as a success, a kept sample that outlives buffering being turned
// off.
TEST(SampleRendererRules, BufferIsReadBackWithinTheCallersBound) {
  const std::vector<BYTE> sample = {1, 2, 3, 4, 5, 6, 7, 8};
  int asked = 0;
  int copies = 0;
  auto count = [&](size_t* n) {
    ++asked;
    *n = sample.size();
    return S_OK;
  };
  auto copy = [&](BYTE* buffer, size_t n) {
    ++copies;
    std::memcpy(buffer, sample.data(), n);
    return S_OK;
  };
  SampleRendererRules rules;
  LONG size = 123;
  EXPECT_EQ(rules.GetCurrentBuffer(&size, nullptr, count, copy), VFW_E_WRONG_STATE);
  EXPECT_EQ(rules.GetCurrentBuffer(nullptr, nullptr, count, copy), E_POINTER);
  rules.Take(rules.Keeps());  // not buffering: nothing kept
  EXPECT_EQ(rules.GetCurrentBuffer(&size, nullptr, count, copy), VFW_E_WRONG_STATE);
  EXPECT_EQ(asked, 0);

  rules.SetBufferSamples(TRUE);
  ASSERT_TRUE(rules.Keeps());
  rules.Take(true);
  ASSERT_EQ(rules.GetCurrentBuffer(&size, nullptr, count, copy), S_OK);
  EXPECT_EQ(size, 8);
  EXPECT_EQ(copies, 0);
  std::vector<BYTE> out(12, 0xA5);
  LONG bound = 3;
  ASSERT_EQ(rules.GetCurrentBuffer(&bound, out.data(), count, copy), S_OK);
  EXPECT_EQ(bound, 3);
  EXPECT_EQ(out[2], 3);
  EXPECT_EQ(out[3], 0xA5);
  LONG all = static_cast<LONG>(out.size());
  ASSERT_EQ(rules.GetCurrentBuffer(&all, out.data(), count, copy), S_OK);
  EXPECT_EQ(all, 8);
  EXPECT_EQ(out[7], 8);
  EXPECT_EQ(out[8], 0xA5);
  LONG negative = -1;
  EXPECT_EQ(rules.GetCurrentBuffer(&negative, out.data(), count, copy), E_INVALIDARG);

  // A failure to produce the bytes is the answer.
  auto failing = [](size_t*) { return E_OUTOFMEMORY; };
  EXPECT_EQ(rules.GetCurrentBuffer(&size, nullptr, failing, copy), E_OUTOFMEMORY);
  auto failingCopy = [](BYTE*, size_t) { return E_FAIL; };
  LONG whole = 8;
  EXPECT_EQ(rules.GetCurrentBuffer(&whole, out.data(), count, failingCopy), E_FAIL);

  rules.SetBufferSamples(FALSE);
  EXPECT_EQ(rules.GetCurrentBuffer(&size, nullptr, count, copy), VFW_E_WRONG_STATE);
}

}  // namespace
