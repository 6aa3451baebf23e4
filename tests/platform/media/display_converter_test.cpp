// The colour rules on pictures made in memory: the tone curve and the gamut
// compression keep what a viewer needs, colour metadata that is missing,
// contradictory or absurd still gives the picture a sensible reader would
// show, and deep samples travel to the converter without loss.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

extern "C" {
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/pixdesc.h>
}

#include "platform/gdi/bitmap.h"
#include "platform/media/filter/sample.h"
#include "platform/media/picture/display_converter.h"
#include "platform/media/picture/light_mapping.h"

namespace media {
namespace {

// Caught: a curve that dims SDR-range content, clips highlights flat or
// overshoots SDR white.
TEST(ToneCurve, KeepsMidTonesAndRollsHighlightsOffToWhite) {
  LightMapping curve(kDefaultPeak / kReferenceWhite);
  EXPECT_NEAR(curve.ToneMapped(0.25), 0.25, 1e-9);
  const double white = curve.ToneMapped(1.0);
  EXPECT_GT(white, 0.85);
  EXPECT_LT(white, 0.97);
  EXPECT_NEAR(curve.ToneMapped(kDefaultPeak / kReferenceWhite), 1.0, 1e-3);
  double last = 0;
  for (double v = 0.05; v <= kDefaultPeak / kReferenceWhite; v += 0.05) {
    const double shown = curve.ToneMapped(v);
    EXPECT_GT(shown, last) << "at " << v;
    EXPECT_LE(shown, 1.0 + 1e-9) << "at " << v;
    last = shown;
  }
  // SDR content is not touched.
  EXPECT_DOUBLE_EQ(LightMapping(1.0).ToneMapped(0.9), 0.9);
}

// Caught: colours outside BT.709 clipped, so that detail in a saturated
// area (here green of five saturations beyond BT.709's edge) becomes one
// flat patch.
TEST(GamutCompression, KeepsColoursBeyondTheEdgeApart) {
  LightMapping mapping(1.0);
  const std::vector<float> red = {-0.02f, -0.05f, -0.09f, -0.14f, -0.2f};
  const std::vector<float> green(red.size(), 0.8f), blue(red.size(), 0.1f);
  std::vector<uint8_t> bgr(red.size() * 3);
  mapping.MapRow(red.data(), green.data(), blue.data(), red.size(), bgr.data());
  for (size_t i = 1; i < red.size(); ++i) EXPECT_LT(bgr[i * 3 + 2], bgr[(i - 1) * 3 + 2]) << "step " << i;
  // Colours inside BT.709 keep their place.
  const float grey[1] = {0.4f};
  uint8_t out[3];
  mapping.MapRow(grey, grey, grey, 1, out);
  EXPECT_EQ(out[0], out[2]);
}

// Caught: an infinite value (a broken stream) indexing the encoding table
// far outside it, which crashed the server, and a row longer than the
// blocks the mapping works in coming out other than its pixels one by one.
TEST(ToneMappedRow, IsItsPixelsOneByOneAndTakesBrokenValuesAsNoLight) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<float> red, green, blue;
  for (int i = 0; i < 700; ++i) {
    red.push_back(0.013f * static_cast<float>(i % 97) - 0.1f);
    green.push_back(0.021f * static_cast<float>(i % 61));
    blue.push_back(0.7f);
  }
  red[3] = inf, green[300] = -inf, blue[511] = nan, red[699] = nan;
  for (double peak : {1.0, kDefaultPeak / kReferenceWhite}) {
    LightMapping mapping(peak);
    std::vector<uint8_t> row(red.size() * 3);
    mapping.MapRow(red.data(), green.data(), blue.data(), red.size(), row.data());
    for (size_t i = 0; i < red.size(); ++i) {
      const float r = std::isfinite(red[i]) ? red[i] : 0, g = std::isfinite(green[i]) ? green[i] : 0,
                  b = std::isfinite(blue[i]) ? blue[i] : 0;
      uint8_t alone[3];
      mapping.MapRow(&r, &g, &b, 1, alone);
      ASSERT_EQ(std::vector<uint8_t>(row.begin() + 3 * i, row.begin() + 3 * i + 3), std::vector<uint8_t>(alone, alone + 3))
          << "pixel " << i << " at peak " << peak;
    }
  }
}

TEST(PeakLuminance, ImplausiblePeaksFallBackToTheDefault) {
  for (double peak : {0.0, -5.0, 100.0, 1e9, std::nan("")}) EXPECT_EQ(UsablePeak(peak), kDefaultPeak) << peak;
  EXPECT_EQ(UsablePeak(4000.0), 4000.0);
}

// A 10-bit picture with a ramp in luma and both chroma directions.
FramePtr Ramp(AVPixelFormat format) {
  FramePtr f(av_frame_alloc());
  f->format = format;
  f->width = 96;
  f->height = 48;
  EXPECT_GE(av_frame_get_buffer(f.get(), 0), 0);
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  const int depth = d->comp[0].depth;
  for (int p = 0; p < 3; ++p) {
    const int w = p ? AV_CEIL_RSHIFT(f->width, d->log2_chroma_w) : f->width;
    const int h = p ? AV_CEIL_RSHIFT(f->height, d->log2_chroma_h) : f->height;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int v8 = p == 0 ? 16 + x * 219 / w : 16 + (p == 1 ? y * 224 / h : x * 224 / w);
        if (depth > 8)
          reinterpret_cast<uint16_t*>(f->data[p] + y * f->linesize[p])[x] = static_cast<uint16_t>(v8 << (depth - 8));
        else
          f->data[p][y * f->linesize[p] + x] = static_cast<uint8_t>(v8);
      }
  }
  f->color_range = AVCOL_RANGE_MPEG;
  return f;
}

void Describe(AVFrame* f, AVColorSpace matrix, AVColorTransferCharacteristic transfer, AVColorPrimaries primaries) {
  f->colorspace = matrix;
  f->color_trc = transfer;
  f->color_primaries = primaries;
}

// Chroma at the middle of a 10-bit 4:2:0 picture's range: no colour.
void NeutralChroma(AVFrame* f) {
  for (int p = 1; p < 3; ++p)
    for (int y = 0; y < f->height / 2; ++y)
      for (int x = 0; x < f->width / 2; ++x) reinterpret_cast<uint16_t*>(f->data[p] + y * f->linesize[p])[x] = 512;
}

void DeclarePeak(AVFrame* f, double cll, double mastering) {
  if (cll >= 0) av_content_light_metadata_create_side_data(f)->MaxCLL = static_cast<unsigned>(cll);
  if (mastering >= 0) {
    AVMasteringDisplayMetadata* m = av_mastering_display_metadata_create_side_data(f);
    m->has_luminance = 1;
    m->max_luminance = av_d2q(mastering, INT_MAX);
    m->min_luminance = av_make_q(0, 1);
  }
}

std::vector<uint8_t> Dib(const AVFrame& f) {
  DisplayConverter converter;
  std::vector<uint8_t> out(DibStride(f.width, 24) * f.height);
  EXPECT_TRUE(converter.ToDib(ViewOfFrame(f), f.width, f.height, out.data()));
  return out;
}

struct MetadataCase {
  const char* name;
  AVPixelFormat format;
  std::function<void(AVFrame*)> given;     // what the stream says
  std::function<void(AVFrame*)> sensible;  // what a sensible reader assumes instead
};

void PrintTo(const MetadataCase& c, std::ostream* os) { *os << c.name; }

class BadColourMetadata : public testing::TestWithParam<MetadataCase> {};

// Caught: a reserved or absurd value read as a real one (black, blown out or
// a failed conversion).
TEST_P(BadColourMetadata, GivesThePictureASensibleReaderShows) {
  const MetadataCase& c = GetParam();
  FramePtr given = Ramp(c.format), sensible = Ramp(c.format);
  c.given(given.get());
  c.sensible(sensible.get());
  std::vector<uint8_t> ours = Dib(*given);
  EXPECT_EQ(ours, Dib(*sensible));
  uint64_t sum = 0;
  for (uint8_t v : ours) sum += v;
  EXPECT_GT(sum / ours.size(), 40u) << "a black frame";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadColourMetadata,
    testing::Values(
        MetadataCase{"reserved_transfer", AV_PIX_FMT_YUV420P10LE,
                     [](AVFrame* f) { Describe(f, AVCOL_SPC_BT2020_NCL, AVCOL_TRC_RESERVED, AVCOL_PRI_BT2020); },
                     [](AVFrame* f) { Describe(f, AVCOL_SPC_BT2020_NCL, AVCOL_TRC_BT709, AVCOL_PRI_BT2020); }},
        MetadataCase{"transfer_beyond_the_enumeration", AV_PIX_FMT_YUV420P10LE,
                     [](AVFrame* f) {
                       Describe(f, AVCOL_SPC_BT709, AVCOL_TRC_BT709, AVCOL_PRI_BT709);
                       int bogus = 200;
                       std::memcpy(&f->color_trc, &bogus, sizeof bogus);
                     },
                     [](AVFrame* f) { Describe(f, AVCOL_SPC_BT709, AVCOL_TRC_UNSPECIFIED, AVCOL_PRI_BT709); }},
        MetadataCase{"peak_of_zero", AV_PIX_FMT_YUV420P10LE,
                     [](AVFrame* f) {
                       Describe(f, AVCOL_SPC_BT2020_NCL, AVCOL_TRC_SMPTE2084, AVCOL_PRI_BT2020);
                       DeclarePeak(f, 0, 0);
                     },
                     [](AVFrame* f) { Describe(f, AVCOL_SPC_BT2020_NCL, AVCOL_TRC_SMPTE2084, AVCOL_PRI_BT2020); }},
        MetadataCase{"peak_of_a_billion", AV_PIX_FMT_YUV420P10LE,
                     [](AVFrame* f) {
                       Describe(f, AVCOL_SPC_BT2020_NCL, AVCOL_TRC_SMPTE2084, AVCOL_PRI_BT2020);
                       DeclarePeak(f, -1, 1e9);
                     },
                     [](AVFrame* f) { Describe(f, AVCOL_SPC_BT2020_NCL, AVCOL_TRC_SMPTE2084, AVCOL_PRI_BT2020); }},
        MetadataCase{"hdr_metadata_on_8_bit_bt709", AV_PIX_FMT_YUV420P,
                     [](AVFrame* f) {
                       Describe(f, AVCOL_SPC_BT709, AVCOL_TRC_BT709, AVCOL_PRI_BT709);
                       DeclarePeak(f, 4000, 4000);
                     },
                     [](AVFrame* f) { Describe(f, AVCOL_SPC_BT709, AVCOL_TRC_BT709, AVCOL_PRI_BT709); }},
        // Dolby Vision profile 5 is shown as ICtCp: a mid-level neutral
        // is grey.
        MetadataCase{"ictcp_neutral", AV_PIX_FMT_YUV420P10LE,
                     [](AVFrame* f) {
                       Describe(f, AVCOL_SPC_ICTCP, AVCOL_TRC_SMPTE2084, AVCOL_PRI_BT2020);
                       NeutralChroma(f);
                     },
                     [](AVFrame* f) {
                       Describe(f, AVCOL_SPC_BT2020_NCL, AVCOL_TRC_SMPTE2084, AVCOL_PRI_BT2020);
                       NeutralChroma(f);
                     }},
        MetadataCase{"pq_with_no_matrix_or_primaries", AV_PIX_FMT_YUV420P10LE,
                     [](AVFrame* f) {
                       Describe(f, AVCOL_SPC_UNSPECIFIED, AVCOL_TRC_SMPTE2084, AVCOL_PRI_UNSPECIFIED);
                     },
                     [](AVFrame* f) { Describe(f, AVCOL_SPC_BT2020_NCL, AVCOL_TRC_SMPTE2084, AVCOL_PRI_BT2020); }}),
    [](const testing::TestParamInfo<MetadataCase>& info) { return std::string(info.param.name); });

struct UntaggedCase {
  const char* name;
  AVPixelFormat format;
  AVColorPrimaries primaries;  // the only thing the picture says
  AVColorSpace shownAs;        // the matrix every path must read
};

void PrintTo(const UntaggedCase& c, std::ostream* os) { *os << c.name; }

class UntaggedPicture : public testing::TestWithParam<UntaggedCase> {};

// Caught: a path with its own default for an untagged matrix. The colour
// space converter's DIB and the decoder's RGB24 frame must both be the
// picture tagged with the resolved matrix, and differ from another matrix.
TEST_P(UntaggedPicture, ShowsTheSameOnEveryPath) {
  const UntaggedCase& c = GetParam();
  FramePtr untagged = Ramp(c.format), tagged = Ramp(c.format), other = Ramp(c.format);
  Describe(untagged.get(), AVCOL_SPC_UNSPECIFIED, AVCOL_TRC_UNSPECIFIED, c.primaries);
  Describe(tagged.get(), c.shownAs, AVCOL_TRC_UNSPECIFIED, c.primaries);
  Describe(other.get(), AVCOL_SPC_SMPTE240M, AVCOL_TRC_UNSPECIFIED, c.primaries);
  const std::vector<uint8_t> dib = Dib(*untagged);
  FramePtr frame = DisplayConverter().ToBgrFrame(ViewOfFrame(*untagged), untagged->width, untagged->height);
  ASSERT_TRUE(frame);
  std::vector<uint8_t> packed(ImageBytes(Rgb24Format(), frame->width, frame->height));
  PackPicture(ViewOfFrame(*frame), Rgb24Format(), packed.data());
  EXPECT_EQ(packed, dib);
  EXPECT_EQ(dib, Dib(*tagged));
  EXPECT_NE(dib, Dib(*other));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UntaggedPicture,
    testing::Values(UntaggedCase{"Sdr", AV_PIX_FMT_YUV420P, AVCOL_PRI_UNSPECIFIED, AVCOL_SPC_BT470BG},
                    UntaggedCase{"Bt2020", AV_PIX_FMT_YUV420P10LE, AVCOL_PRI_BT2020, AVCOL_SPC_BT2020_NCL}),
    [](const testing::TestParamInfo<UntaggedCase>& info) { return std::string(info.param.name); });

// Caught: a large picture mapped in bands with a band misplaced, left
// unwritten or joined with a seam: a top-to-bottom ramp must come out
// brightening row by row.
TEST(LargeHdrPicture, ComesOutWholeAcrossItsBands) {
  FramePtr f(av_frame_alloc());
  f->format = AV_PIX_FMT_YUV420P10LE;
  f->width = 1920;
  f->height = 1080;
  ASSERT_GE(av_frame_get_buffer(f.get(), 0), 0);
  for (int p = 0; p < 3; ++p)
    for (int y = 0; y < (p ? 540 : 1080); ++y)
      for (int x = 0; x < (p ? 960 : 1920); ++x)
        reinterpret_cast<uint16_t*>(f->data[p] + y * f->linesize[p])[x] =
            static_cast<uint16_t>(p ? 512 : 64 + y * 700 / 1080);
  Describe(f.get(), AVCOL_SPC_BT2020_NCL, AVCOL_TRC_SMPTE2084, AVCOL_PRI_BT2020);
  f->color_range = AVCOL_RANGE_MPEG;
  std::vector<uint8_t> dib = Dib(*f);
  const size_t stride = DibStride(1920, 24);
  int last = -1;
  for (int y = 0; y < 1080; ++y) {
    const uint8_t* row = dib.data() + (1079 - y) * stride;  // bottom-up
    for (int x = 1; x < 1920; ++x) ASSERT_EQ(row[x * 3], row[0]) << "row " << y;
    EXPECT_GE(row[0], last) << "row " << y;
    EXPECT_LE(row[0] - last, 3) << "row " << y;
    last = row[0];
  }
  EXPECT_GT(last, 200);
}

// A busy picture of the given format and size: the YUV 4:2:0 pattern below
// converted, so that every format carries detail in every row and column.
FramePtr Busy(AVPixelFormat format, int width, int height) {
  FramePtr source(av_frame_alloc());
  source->format = AV_PIX_FMT_YUV420P;
  source->width = width;
  source->height = height;
  EXPECT_GE(av_frame_get_buffer(source.get(), 0), 0);
  for (int p = 0; p < 3; ++p)
    for (int y = 0; y < (p ? (height + 1) / 2 : height); ++y)
      for (int x = 0; x < (p ? (width + 1) / 2 : width); ++x)
        source->data[p][y * source->linesize[p] + x] = static_cast<uint8_t>(16 + (x * 7 + y * 13 + p * 71) % 220);
  if (format == AV_PIX_FMT_YUV420P) return source;
  if (format == AV_PIX_FMT_PAL8) {
    // Indices from the luma pattern into a palette of distinct colours.
    FramePtr f(av_frame_alloc());
    f->format = format;
    f->width = width;
    f->height = height;
    EXPECT_GE(av_frame_get_buffer(f.get(), 0), 0);
    for (int y = 0; y < height; ++y) std::memcpy(f->data[0] + y * f->linesize[0], source->data[0] + y * source->linesize[0], width);
    for (uint32_t i = 0; i < 256; ++i) reinterpret_cast<uint32_t*>(f->data[1])[i] = 0xFF000000u | (i * 0x010307u);
    return f;
  }
  PictureConverter converter;
  return converter.ConvertToFrame(ViewOfFrame(*source), format, width, height);
}

// The DIB as libswscale makes it in one call over the whole picture, into
// memory with room to spare: what a DIB conversion must give byte for byte.
std::vector<uint8_t> DibInOneCall(const PictureView& v, int width, int height) {
  const size_t stride = DibStride(width, 24);
  const size_t wide = std::max(stride, ((static_cast<size_t>(width) + 7) & ~size_t{7}) * 3);
  std::vector<uint8_t> all(wide * height + kSwscaleSlack, 0);
  uint8_t* dst[4] = {all.data(), nullptr, nullptr, nullptr};
  int lines[4] = {static_cast<int>(wide), 0, 0, 0};
  PictureConverter converter;
  EXPECT_TRUE(converter.Convert(Flipped(v), AV_PIX_FMT_BGR24, width, height, dst, lines));
  std::vector<uint8_t> dib(stride * height, 0);
  for (int y = 0; y < height; ++y)
    std::memcpy(dib.data() + y * stride, all.data() + y * wide, wide == stride ? stride : width * 3);
  return dib;
}

struct DibCase {
  const char* name;
  AVPixelFormat format;
  int width;
  int height;
  bool hdr;  // through linear light, which has no one-call reference
};

void PrintTo(const DibCase& c, std::ostream* os) { *os << c.name; }

class ExactDib : public testing::TestWithParam<DibCase> {};

// Caught: a DIB conversion straight into the reader's memory that writes
// past its end (libswscale's blocks beyond the last row), loses or shifts
// the rows converted apart from the others, leaves row padding unset, or
// differs in any byte from the conversion in one call.
TEST_P(ExactDib, FillsItsMemoryExactlyAsOneConversionWould) {
  const DibCase& c = GetParam();
  FramePtr f = Busy(c.format, c.width, c.height);
  ASSERT_TRUE(f);
  if (c.hdr) Describe(f.get(), AVCOL_SPC_BT2020_NCL, AVCOL_TRC_SMPTE2084, AVCOL_PRI_BT2020);
  const size_t stride = DibStride(c.width, 24), size = stride * c.height;
  constexpr size_t kGuard = 512;
  std::vector<uint8_t> memory(size + kGuard, 0xA5);
  DisplayConverter converter;
  ASSERT_TRUE(converter.ToDib(ViewOfFrame(*f), c.width, c.height, memory.data()));
  for (size_t i = size; i < memory.size(); ++i) ASSERT_EQ(memory[i], 0xA5) << "byte " << i - size << " past the end";
  const size_t row = static_cast<size_t>(c.width) * 3;
  for (int y = 0; y < c.height; ++y) {
    const uint8_t* r = memory.data() + y * stride;
    ASSERT_TRUE(std::any_of(r, r + row, [](uint8_t b) { return b != 0xA5; })) << "row " << y << " unwritten";
    if (c.hdr) {
      for (size_t i = row; i < stride; ++i) ASSERT_EQ(r[i], 0) << "row " << y << " padding";
    }
  }
  if (c.hdr) return;
  memory.resize(size);
  const std::vector<uint8_t> expected = DibInOneCall(ViewOfFrame(*f), c.width, c.height);
  for (size_t i = 0; i < size; ++i)
    ASSERT_EQ(memory[i], expected[i]) << "row " << i / stride << " byte " << i % stride;
}

INSTANTIATE_TEST_SUITE_P(
    FormatsAndSizes, ExactDib,
    testing::Values(DibCase{"Yuv420Wide", AV_PIX_FMT_YUV420P, 320, 240, false},
                    DibCase{"Yuv420OddHeight", AV_PIX_FMT_YUV420P, 360, 241, false},
                    DibCase{"Yuv420OddWidth", AV_PIX_FMT_YUV420P, 362, 37, false},
                    DibCase{"Yuv420Tiny", AV_PIX_FMT_YUV420P, 7, 5, false},
                    DibCase{"Yuv420Deep", AV_PIX_FMT_YUV420P10LE, 328, 64, false},
                    DibCase{"Yuv422", AV_PIX_FMT_YUV422P, 200, 50, false},
                    DibCase{"Yuv410", AV_PIX_FMT_YUV410P, 64, 42, false},
                    DibCase{"SemiPlanar", AV_PIX_FMT_NV12, 96, 40, false},
                    DibCase{"Packed", AV_PIX_FMT_YUYV422, 130, 30, false},
                    DibCase{"Palette", AV_PIX_FMT_PAL8, 64, 33, false},
                    DibCase{"Rgb", AV_PIX_FMT_RGB24, 101, 26, false},
                    DibCase{"HdrPadded", AV_PIX_FMT_YUV420P10LE, 98, 34, true}),
    [](const testing::TestParamInfo<DibCase>& info) { return std::string(info.param.name); });

// Caught: a deep frame carried under an 8-bit layout whose bytes are the
// 16-bit words themselves instead of the picture in the layout.
TEST(DeepSamples, TravelInTheDecoderPlanesAndPackIntoTheLayout) {
  FramePtr frame = Ramp(AV_PIX_FMT_YUV420P10LE);
  const int w = frame->width, h = frame->height;
  const uint16_t luma = reinterpret_cast<const uint16_t*>(frame->data[0])[5];
  const PictureColour colour = ResolveColour(SignalsOf(*frame));
  SamplePtr sample = Sample::FromFrame(std::move(frame), FindVideoFormat(MEDIASUBTYPE_IYUV), colour, 0);
  ASSERT_EQ(sample->size(), static_cast<size_t>(w) * h * 3 / 2);
  EXPECT_EQ(sample->data()[5], luma >> 2);
  EXPECT_EQ(sample->frame()->format, AV_PIX_FMT_YUV420P10LE);
}

}  // namespace
}  // namespace media
