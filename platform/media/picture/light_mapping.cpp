#include "platform/media/picture/light_mapping.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace media {
namespace {

// PQ's constants (SMPTE ST 2084).
constexpr double kM1 = 2610.0 / 16384;
constexpr double kM2 = 2523.0 / 4096 * 128;
constexpr double kC1 = 3424.0 / 4096;
constexpr double kC2 = 2413.0 / 4096 * 32;
constexpr double kC3 = 2392.0 / 4096 * 32;
constexpr double kPqPeak = 10000.0;

constexpr int kGainSamples = 1024;

// Where the roll-off starts, below the target peak in the PQ domain, as a
// share of the distance from the target peak to the content's. BT.2390 uses
// 0.5, made for a display whose own peak is well above reference white; here
// SDR white is the target itself, and 0.5 would dim it to 0.8 (and all of
// 97 to 203 cd/m² with it). A quarter keeps reference white at about 0.88
// and still leaves highlights a shoulder that tells them apart.
constexpr double kKneeSpan = 0.25;

// The BT.709 encoding is looked up: a pow per channel and pixel would cost
// more than the decode of a 4K frame's worth of rows. Indexed by the square
// root of the value, where the curve is nearly straight, so that a small
// table (in the first level cache) interpolates to well under a code value.
constexpr int kEncodeEntries = 256;

double Bt709Encode(double v) { return v < 0.018 ? 4.5 * v : 1.099 * std::pow(v, 0.45) - 0.099; }

const float* EncodeTable() {
  static const std::vector<float> table = [] {
    std::vector<float> t(kEncodeEntries + 1);
    for (int i = 0; i <= kEncodeEntries; ++i) {
      const double root = double(i) / kEncodeEntries;
      t[i] = static_cast<float>(Bt709Encode(root * root));
    }
    return t;
  }();
  return table.data();
}

// Gamut compression: a component's distance from the grey of the same
// brightness, (max - c) / max, is 1 at BT.709's edge and beyond it outside.
// Distances past kThreshold are squeezed so that kLimit (where BT.2020's
// primaries land, per component, in encoded BT.709) ends on the edge: the
// most saturated colours keep their order instead of being clipped flat.
constexpr float kThreshold = 0.9f;
constexpr float kLimit[3] = {1.75f, 1.3f, 1.3f};  // red (towards cyan), green, blue

struct Squeeze {
  float inverseScale;
  explicit Squeeze(float limit) {
    float x = limit - kThreshold, y = 1 - kThreshold;
    inverseScale = (x - y) / (x * y);
  }
  float operator()(float d) const {
    const float over = std::max(d - kThreshold, 0.0f);
    return std::min(d, kThreshold) + over / (1 + over * inverseScale);
  }
};

constexpr float kLargest = std::numeric_limits<float>::max();

inline uint8_t Byte(float v) { return static_cast<uint8_t>(static_cast<int>(std::min(std::max(v, 0.0f), 1.0f) * 255.0f + 0.5f)); }

}  // namespace

double PqToLuminance(double signal) {
  double p = std::pow(std::clamp(signal, 0.0, 1.0), 1 / kM2);
  return kPqPeak * std::pow(std::max(p - kC1, 0.0) / (kC2 - kC3 * p), 1 / kM1);
}

double LuminanceToPq(double luminance) {
  double y = std::pow(std::clamp(luminance / kPqPeak, 0.0, 1.0), kM1);
  return std::pow((kC1 + kC2 * y) / (1 + kC3 * y), kM2);
}

double UsablePeak(double peakLuminance) {
  // A peak at or below reference white is no HDR peak, one above PQ's
  // range no real one: both are metadata a tool got wrong.
  if (!(peakLuminance > kReferenceWhite) || peakLuminance > kPqPeak) return kDefaultPeak;
  return peakLuminance;
}

LightMapping::LightMapping(double peakRelative)
    : peak_(peakRelative), knee_(std::numeric_limits<float>::infinity()) {
  EncodeTable();
  if (!(peak_ > 1)) return;
  double maxI = LuminanceToPq(peak_ * kReferenceWhite);
  double maxLum = LuminanceToPq(kReferenceWhite) / maxI;
  double ks = maxLum - kKneeSpan * (1 - maxLum);
  knee_ = ks > 0 ? static_cast<float>(PqToLuminance(ks * maxI) / kReferenceWhite) : 0.0f;
  gains_.resize(kGainSamples + 1);
  for (int i = 0; i <= kGainSamples; ++i) {
    double m = peak_ * i / kGainSamples;
    gains_[i] = m > knee_ ? static_cast<float>(ToneMapped(m) / m) : 1.0f;
  }
}

double LightMapping::ToneMapped(double linear) const {
  if (!(peak_ > 1) || linear <= 0) return linear;
  double maxI = LuminanceToPq(peak_ * kReferenceWhite);
  double maxLum = LuminanceToPq(kReferenceWhite) / maxI;
  double ks = maxLum - kKneeSpan * (1 - maxLum);
  double e = std::min(LuminanceToPq(linear * kReferenceWhite) / maxI, 1.0);
  if (e > ks) {
    // An exponential shoulder from the knee (slope 1 there, as the identity
    // below it) that reaches the target peak at the content's peak and
    // never turns back: BT.2390's Hermite spline overshoots when its knee
    // sits this close to the target.
    const double rise = maxLum - ks, span = (1 - ks) / rise;
    e = ks + rise * (1 - std::exp(-(e - ks) / rise)) / (1 - std::exp(-span));
  }
  return PqToLuminance(e * maxI) / kReferenceWhite;
}

void LightMapping::MapRow(const float* red, const float* green, const float* blue, size_t count,
                          uint8_t* bgr) const {
  // Written without branches on the pixel values, in blocks of passes that
  // each do one step for every pixel: a picture's values jump about, so
  // mispredicted branches would cost more than the arithmetic, and passes of
  // plain arithmetic run four pixels at a time. Only the table lookups go
  // pixel by pixel, in passes of their own, so that the square roots and
  // divisions around them stay in the passes that run four at a time.
  constexpr size_t kBlock = 256;
  const float* table = EncodeTable();
  static const Squeeze squeeze[3] = {Squeeze(kLimit[0]), Squeeze(kLimit[1]), Squeeze(kLimit[2])};
  const float* gains = gains_.data();
  const float toIndex = static_cast<float>(kGainSamples) / peak_;
  // Per pixel of a block: its components, where its brightest lies on the
  // curve, and the factor the curve gives it; then one component's place in
  // the encoding table and its encoded value; then the brightest encoded
  // component, its inverse, and the pixel's bytes.
  float c[3][kBlock], at[kBlock], k[kBlock], place[kBlock], encoded[kBlock], top[kBlock], inverse[kBlock];
  uint8_t bytes[3][kBlock];
  for (size_t start = 0; start < count; start += kBlock, bgr += 3 * kBlock) {
    const size_t n = std::min(kBlock, count - start);
    const float* in[3] = {red + start, green + start, blue + start};
    // A value that is no number or infinite (a broken stream) is no light:
    // passed on, it would index the tables far outside them.
    for (int j = 0; j < 3; ++j)
      for (size_t i = 0; i < n; ++i) c[j][i] = std::fabs(in[j][i]) <= kLargest ? in[j][i] : 0.0f;
    for (size_t i = 0; i < n; ++i) {
      // The brightest component, kept above 0 so that black divides safely.
      const float m = std::max(std::max(c[0][i], c[1][i]), std::max(c[2][i], 1e-6f));
      at[i] = std::min(m * toIndex, static_cast<float>(kGainSamples));
      // Brighter than white after the curve (beyond the content's peak, or
      // SDR content beyond its nominal range): scaled down whole, so the hue
      // stays.
      k[i] = 1 / m;
    }
    if (!gains_.empty()) {
      for (size_t i = 0; i < n; ++i) {
        const int j = std::min(static_cast<int>(at[i]), kGainSamples - 1);
        k[i] = std::min(gains[j] + (gains[j + 1] - gains[j]) * (at[i] - j), k[i]);
      }
    } else {
      for (size_t i = 0; i < n; ++i) k[i] = std::min(1.0f, k[i]);
    }
    // The encoding, sign kept: colours outside BT.709 have negative
    // components until the gamut compression brings them in.
    for (int j = 0; j < 3; ++j) {
      for (size_t i = 0; i < n; ++i) {
        c[j][i] *= k[i];
        place[i] = std::sqrt(std::min(std::fabs(c[j][i]), 1.0f)) * kEncodeEntries;
      }
      for (size_t i = 0; i < n; ++i) {
        const int e = std::min(static_cast<int>(place[i]), kEncodeEntries - 1);
        encoded[i] = table[e] + (table[e + 1] - table[e]) * (place[i] - e);
      }
      for (size_t i = 0; i < n; ++i) c[j][i] = std::copysign(encoded[i], c[j][i]);
    }
    for (size_t i = 0; i < n; ++i) {
      top[i] = std::max(std::max(c[0][i], c[1][i]), std::max(c[2][i], 1e-6f));
      inverse[i] = 1 / top[i];
    }
    // Blue, green, red: the order of the bytes.
    for (int j = 0; j < 3; ++j) {
      const float* component = c[2 - j];
      for (size_t i = 0; i < n; ++i)
        encoded[i] = top[i] - squeeze[2 - j]((top[i] - component[i]) * inverse[i]) * top[i];
      for (size_t i = 0; i < n; ++i) bytes[j][i] = Byte(encoded[i]);
    }
    for (size_t i = 0; i < n; ++i) {
      bgr[3 * i] = bytes[0][i];
      bgr[3 * i + 1] = bytes[1][i];
      bgr[3 * i + 2] = bytes[2][i];
    }
  }
}

}  // namespace media
