#include "platform/media/picture/resolve_colour.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "platform/media/picture/light_mapping.h"

namespace media {
namespace {

struct ResolveCase {
  const char* fault;  // what a wrong rule would show
  ColourSignals said;
  PictureColour expected;
};

void PrintTo(const ResolveCase& c, std::ostream* os) { *os << c.fault; }

}  // namespace

void PrintTo(const PictureColour& c, std::ostream* os) {
  *os << "{matrix " << c.matrix << ", range " << c.range << ", siting " << c.siting << ", transfer " << c.transfer
      << ", primaries " << c.primaries << ", peak " << c.peakLuminance << "}";
}

namespace {

// The description of an untagged SDR picture, as the ffmpeg tool shows it.
constexpr PictureColour kUntaggedSdr{AVCOL_SPC_BT470BG, AVCOL_RANGE_MPEG, AVCHROMA_LOC_LEFT, AVCOL_TRC_BT709,
                                     AVCOL_PRI_BT709, kReferenceWhite};

PictureColour Hdr(AVColorSpace matrix, AVColorTransferCharacteristic transfer, double peak) {
  return {matrix, AVCOL_RANGE_MPEG, AVCHROMA_LOC_LEFT, transfer, AVCOL_PRI_BT2020, peak};
}

PictureColour With(PictureColour c, AVColorSpace matrix, AVColorRange range) {
  c.matrix = matrix;
  c.range = range;
  return c;
}

constexpr AVPixelFormat k8 = AV_PIX_FMT_YUV420P;
constexpr AVPixelFormat k10 = AV_PIX_FMT_YUV420P10LE;

class ResolvedColour : public testing::TestWithParam<ResolveCase> {};

// Caught: the fault each row is named for.
TEST_P(ResolvedColour, IsCompleteAndWhatTheRulesSay) {
  const ResolveCase& c = GetParam();
  EXPECT_EQ(ResolveColour(c.said), c.expected);
}

// Caught: a rule whose result, written into a frame and read back (as every
// conversion between layouts does), resolves to something else.
TEST_P(ResolvedColour, ReadsBackAsItself) {
  const PictureColour& e = GetParam().expected;
  ColourSignals again{.format = GetParam().said.format,
                      .matrix = e.matrix,
                      .range = e.range,
                      .siting = e.siting,
                      .transfer = e.transfer,
                      .primaries = e.primaries,
                      .framePeak = e.peakLuminance};
  EXPECT_EQ(ResolveColour(again), e);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResolvedColour,
    testing::Values(
        // Missing.
        ResolveCase{"untagged_sdr_shown_with_another_matrix_than_the_ffmpeg_tools", {.format = k8}, kUntaggedSdr},
        ResolveCase{"matrix_guessed_from_bt709_primaries",
                    {.format = k8, .transfer = AVCOL_TRC_BT709, .primaries = AVCOL_PRI_BT709},
                    kUntaggedSdr},
        ResolveCase{"bt2020_picture_without_matrix_decoded_as_bt601",
                    {.format = k10, .primaries = AVCOL_PRI_BT2020},
                    {AVCOL_SPC_BT2020_NCL, AVCOL_RANGE_MPEG, AVCHROMA_LOC_LEFT, AVCOL_TRC_BT709, AVCOL_PRI_BT2020,
                     kReferenceWhite}},
        ResolveCase{"pq_without_matrix_or_primaries_read_as_bt709",
                    {.format = k10, .transfer = AVCOL_TRC_SMPTE2084},
                    Hdr(AVCOL_SPC_BT2020_NCL, AVCOL_TRC_SMPTE2084, kDefaultPeak)},
        // Reserved, beyond the enumeration, or not implemented by any path.
        ResolveCase{"reserved_matrix_used_as_a_table_index", {.format = k8, .matrix = AVCOL_SPC_RESERVED}, kUntaggedSdr},
        ResolveCase{"matrix_beyond_the_enumeration_passed_on", {.format = k8, .matrix = 200}, kUntaggedSdr},
        ResolveCase{"negative_matrix_passed_on", {.format = k8, .matrix = -1}, kUntaggedSdr},
        ResolveCase{"matrix_no_path_implements_passed_on", {.format = k8, .matrix = AVCOL_SPC_SMPTE2085}, kUntaggedSdr},
        ResolveCase{"reserved_range_read_as_full", {.format = k8, .range = 7}, kUntaggedSdr},
        ResolveCase{"reserved_siting_passed_to_the_chroma_upsampler", {.format = k8, .siting = 9}, kUntaggedSdr},
        ResolveCase{"transfer_no_path_implements_taken_for_hdr",
                    {.format = k8, .transfer = AVCOL_TRC_SMPTE428},
                    kUntaggedSdr},
        ResolveCase{"reserved_transfer_drops_the_bt2020_matrix",
                    {.format = k10,
                     .matrix = AVCOL_SPC_BT2020_NCL,
                     .transfer = AVCOL_TRC_RESERVED,
                     .primaries = AVCOL_PRI_BT2020},
                    {AVCOL_SPC_BT2020_NCL, AVCOL_RANGE_MPEG, AVCHROMA_LOC_LEFT, AVCOL_TRC_BT709, AVCOL_PRI_BT2020,
                     kReferenceWhite}},
        ResolveCase{"unnamed_primaries_taken_for_a_gamut", {.format = k8, .primaries = 13}, kUntaggedSdr},
        // Said, and kept.
        ResolveCase{"tagged_values_replaced_by_defaults",
                    {.format = k8,
                     .matrix = AVCOL_SPC_BT709,
                     .range = AVCOL_RANGE_JPEG,
                     .siting = AVCHROMA_LOC_TOPLEFT,
                     .transfer = AVCOL_TRC_IEC61966_2_1,
                     .primaries = AVCOL_PRI_SMPTE432},
                    {AVCOL_SPC_BT709, AVCOL_RANGE_JPEG, AVCHROMA_LOC_TOPLEFT, AVCOL_TRC_IEC61966_2_1, AVCOL_PRI_SMPTE432,
                     kReferenceWhite}},
        // Contradictory.
        ResolveCase{"rgb_identity_matrix_applied_to_yuv", {.format = k8, .matrix = AVCOL_SPC_RGB}, kUntaggedSdr},
        ResolveCase{"matrix_applied_to_an_rgb_picture",
                    {.format = AV_PIX_FMT_BGR24, .matrix = AVCOL_SPC_BT709, .range = AVCOL_RANGE_MPEG},
                    With(kUntaggedSdr, AVCOL_SPC_RGB, AVCOL_RANGE_JPEG)},
        ResolveCase{"full_range_layout_washed_out_by_a_limited_tag",
                    {.format = AV_PIX_FMT_YUVJ420P, .range = AVCOL_RANGE_MPEG},
                    With(kUntaggedSdr, AVCOL_SPC_BT470BG, AVCOL_RANGE_JPEG)},
        ResolveCase{"ictcp_over_an_sdr_transfer_left_unmapped",
                    {.format = k10, .matrix = AVCOL_SPC_ICTCP, .transfer = AVCOL_TRC_BT709},
                    Hdr(AVCOL_SPC_ICTCP, AVCOL_TRC_SMPTE2084, kDefaultPeak)},
        ResolveCase{"ipt_base_layer_shown_as_the_bt709_its_frames_claim",
                    {.format = k10,
                     .matrix = AVCOL_SPC_BT709,
                     .transfer = AVCOL_TRC_BT709,
                     .primaries = AVCOL_PRI_BT709,
                     .iptBaseLayer = true},
                    Hdr(AVCOL_SPC_ICTCP, AVCOL_TRC_SMPTE2084, kDefaultPeak)},
        // Light levels.
        ResolveCase{"container_peak_preferred_to_the_frames_own",
                    {.format = k10,
                     .matrix = AVCOL_SPC_BT2020_NCL,
                     .transfer = AVCOL_TRC_SMPTE2084,
                     .framePeak = 4000,
                     .streamPeak = 1500},
                    Hdr(AVCOL_SPC_BT2020_NCL, AVCOL_TRC_SMPTE2084, 4000)},
        ResolveCase{"container_peak_ignored_when_the_frame_says_none",
                    {.format = k10, .matrix = AVCOL_SPC_BT2020_NCL, .transfer = AVCOL_TRC_SMPTE2084, .streamPeak = 1500},
                    Hdr(AVCOL_SPC_BT2020_NCL, AVCOL_TRC_SMPTE2084, 1500)},
        ResolveCase{"implausible_peak_tone_maps_everything_to_black",
                    {.format = k10, .matrix = AVCOL_SPC_BT2020_NCL, .transfer = AVCOL_TRC_SMPTE2084, .framePeak = 1e9},
                    Hdr(AVCOL_SPC_BT2020_NCL, AVCOL_TRC_SMPTE2084, kDefaultPeak)},
        ResolveCase{"hlg_mapped_from_a_declared_peak_instead_of_its_nominal_display",
                    {.format = k10, .matrix = AVCOL_SPC_BT2020_NCL, .transfer = AVCOL_TRC_ARIB_STD_B67, .framePeak = 4000},
                    Hdr(AVCOL_SPC_BT2020_NCL, AVCOL_TRC_ARIB_STD_B67, kDefaultPeak)},
        ResolveCase{"hdr_light_level_on_an_sdr_picture_dims_it",
                    {.format = k8, .framePeak = 4000, .streamPeak = 4000},
                    kUntaggedSdr}),
    [](const testing::TestParamInfo<ResolveCase>& info) { return std::string(info.param.fault); });

}  // namespace
}  // namespace media
