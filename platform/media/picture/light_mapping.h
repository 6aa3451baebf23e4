// From scene light to the 8-bit BT.709 picture a person looks at: the tone
// curve that brings HDR highlights down to SDR white, the gamut compression
// that brings wide-gamut colours into BT.709 without clipping them to flat
// patches, and the BT.709 encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace media {

// BT.2408's reference white: the HDR level that SDR white stands for.
constexpr double kReferenceWhite = 203.0;
// The peak assumed for HDR content that does not say its own, and HLG's
// nominal display peak.
constexpr double kDefaultPeak = 1000.0;

// The content peak to tone map from, in cd/m²: the stream's own value when
// it is plausible, kDefaultPeak otherwise.
double UsablePeak(double peakLuminance);

// The BT.2100 PQ curve: signal (0..1) to cd/m² and back.
double PqToLuminance(double signal);
double LuminanceToPq(double luminance);

class LightMapping {
 public:
  // Linear values are relative to SDR white (1.0 = kReferenceWhite for HDR).
  // peakRelative is the content's brightest value in those units; above 1
  // highlights are rolled off (BT.2390's curve in the PQ domain) so that it
  // lands on SDR white. Anything up to 1 is shown as it is.
  explicit LightMapping(double peakRelative);

  // One row of linear BT.709-primaries light (values may be negative or
  // above 1 where the source gamut or range is wider) to `count` BGR pixels.
  void MapRow(const float* red, const float* green, const float* blue, size_t count, uint8_t* bgr) const;

  // The tone curve alone: a linear value to the linear value shown.
  double ToneMapped(double linear) const;

 private:
  double peak_;        // content peak, relative to SDR white
  float knee_;         // below it the curve is the identity
  std::vector<float> gains_;  // ToneMapped(m) / m from 0 to peak_; none for SDR
};

}  // namespace media
