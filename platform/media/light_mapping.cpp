#include "platform/media/light_mapping.h"

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
// more than the decode of a 4K frame's worth of rows.
constexpr int kEncodeEntries = 16384;

double Bt709Encode(double v) { return v < 0.018 ? 4.5 * v : 1.099 * std::pow(v, 0.45) - 0.099; }

const float* EncodeTable() {
  static const std::vector<float> table = [] {
    std::vector<float> t(kEncodeEntries + 1);
    for (int i = 0; i <= kEncodeEntries; ++i) t[i] = static_cast<float>(Bt709Encode(double(i) / kEncodeEntries));
    return t;
  }();
  return table.data();
}

// Sign-kept encoding of a value in [-1, 1]: colours outside BT.709 have
// negative components until the gamut compression brings them in.
inline float Encode(const float* table, float v) {
  float a = std::min(std::fabs(v), 1.0f);
  float e = table[static_cast<int>(a * kEncodeEntries + 0.5f)];
  return v < 0 ? -e : e;
}

// Gamut compression: a component's distance from the grey of the same
// brightness, (max - c) / max, is 1 at BT.709's edge and beyond it outside.
// Distances past kThreshold are squeezed so that kLimit (where BT.2020's
// primaries land, per component, in encoded BT.709) ends on the edge: the
// most saturated colours keep their order instead of being clipped flat.
constexpr float kThreshold = 0.9f;
constexpr float kLimit[3] = {1.75f, 1.3f, 1.3f};  // red (towards cyan), green, blue

struct Squeeze {
  float scale;
  explicit Squeeze(float limit) {
    float x = limit - kThreshold, y = 1 - kThreshold;
    scale = x * y / (x - y);
  }
  float operator()(float d) const {
    if (d <= kThreshold) return d;
    float over = d - kThreshold;
    return kThreshold + over / (1 + over / scale);
  }
};

inline uint8_t Byte(float v) { return static_cast<uint8_t>(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f); }

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
  gainStep_ = static_cast<float>((peak_ - knee_) / kGainSamples);
  for (int i = 0; i <= kGainSamples; ++i) {
    double m = knee_ + i * static_cast<double>(gainStep_);
    gains_[i] = m > 0 ? static_cast<float>(ToneMapped(m) / m) : 1.0f;
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

float LightMapping::Gain(float maximum) const {
  if (maximum <= knee_) return 1.0f;
  if (maximum >= peak_) return 1.0f / maximum;
  float at = (maximum - knee_) / gainStep_;
  int i = std::min(static_cast<int>(at), kGainSamples - 1);
  float f = at - i;
  return gains_[i] + (gains_[i + 1] - gains_[i]) * f;
}

void LightMapping::MapRow(const float* red, const float* green, const float* blue, size_t count,
                          uint8_t* bgr) const {
  const float* table = EncodeTable();
  static const Squeeze squeeze[3] = {Squeeze(kLimit[0]), Squeeze(kLimit[1]), Squeeze(kLimit[2])};
  for (size_t i = 0; i < count; ++i, bgr += 3) {
    float c[3] = {red[i], green[i], blue[i]};
    float m = std::max({c[0], c[1], c[2]});
    if (!(m > 0)) {  // black, or no light at all (NaN from a broken stream)
      bgr[0] = bgr[1] = bgr[2] = 0;
      continue;
    }
    float k = Gain(m);
    // Brighter than white after the curve (SDR content beyond its nominal
    // range): scaled down whole, so the hue stays.
    if (m * k > 1) k = 1 / m;
    float e[3];
    for (int j = 0; j < 3; ++j) e[j] = Encode(table, c[j] * k);
    float top = std::max({e[0], e[1], e[2]});
    for (int j = 0; j < 3; ++j) e[j] = top - squeeze[j]((top - e[j]) / top) * top;
    bgr[0] = Byte(e[2]);
    bgr[1] = Byte(e[1]);
    bgr[2] = Byte(e[0]);
  }
}

}  // namespace media
