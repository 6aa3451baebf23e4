#include "client/frame_measures.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace thumbnail {
namespace {

constexpr int kBarLimit = 24;            // cropdetect's default, of 255
constexpr double kTooDarkMean = 7.8;     // the server's darkness test, a mean byte
constexpr int kHistogramBins = 256;
// The mean luma difference in half a second that moving content shows.
constexpr double kOrdinaryMotion = 40;  // fine enough that a test card's few tones stay few

// BT.601 luma in integers, 0 to 255.
int Luma(const uint8_t* bgr) { return (29 * bgr[0] + 150 * bgr[1] + 77 * bgr[2]) >> 8; }

const uint8_t* Pixel(const Frame& frame, int x, int y) {
  return frame.bgr.data() + (static_cast<size_t>(y) * frame.width + x) * 3;
}

// The first and one past the last index whose line is brighter than the bar
// limit, or the whole range when the bars are not a pair leaving half.
void ContentSpan(const std::vector<double>& line_means, int* first, int* end) {
  const int n = static_cast<int>(line_means.size());
  int a = 0, b = n;
  while (a < n && line_means[a] <= kBarLimit) ++a;
  while (b > a && line_means[b - 1] <= kBarLimit) --b;
  const int slack = 2 + n / 50;  // encoders round bars to even lines, and blur their edges
  if (b - a < n / 2 || std::abs(a - (n - b)) > slack) {
    a = 0;
    b = n;
  }
  *first = a;
  *end = b;
}

}  // namespace

ContentBox FindContent(const Frame& frame) {
  if (frame.width <= 0 || frame.height <= 0) return {};
  std::vector<double> rows(frame.height), columns(frame.width);
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) {
      const int luma = Luma(Pixel(frame, x, y));
      rows[y] += luma;
      columns[x] += luma;
    }
  }
  for (double& row : rows) row /= frame.width;
  for (double& column : columns) column /= frame.height;
  ContentBox box;
  int end = 0;
  ContentSpan(rows, &box.y, &end);
  box.height = end - box.y;
  ContentSpan(columns, &box.x, &end);
  box.width = end - box.x;
  return box;
}

FrameMeasures MeasureFrame(const Frame& frame, const ContentBox& box) {
  FrameMeasures m;
  if (box.width <= 0 || box.height <= 0) {
    m.too_dark = true;
    return m;
  }
  const double count = static_cast<double>(box.width) * box.height;
  std::vector<int> luma(static_cast<size_t>(box.width) * box.height);
  int histogram[kHistogramBins] = {};
  double byte_sum = 0, luma_sum = 0, luma_squares = 0;
  double rg_sum = 0, rg_squares = 0, yb_sum = 0, yb_squares = 0;
  for (int y = 0; y < box.height; ++y) {
    for (int x = 0; x < box.width; ++x) {
      const uint8_t* p = Pixel(frame, box.x + x, box.y + y);
      const int l = Luma(p);
      luma[static_cast<size_t>(y) * box.width + x] = l;
      ++histogram[l * kHistogramBins / 256];
      byte_sum += p[0] + p[1] + p[2];
      luma_sum += l;
      luma_squares += double{1} * l * l;
      const double rg = p[2] - p[1], yb = 0.5 * (p[2] + p[1]) - p[0];
      rg_sum += rg;
      rg_squares += rg * rg;
      yb_sum += yb;
      yb_squares += yb * yb;
    }
  }
  m.mean_byte = byte_sum / (3 * count);
  m.too_dark = m.mean_byte < kTooDarkMean;
  for (int bin : histogram) {
    if (bin == 0) continue;
    const double share = bin / count;
    m.luma_entropy -= share * std::log2(share);
  }
  const double rg_mean = rg_sum / count, yb_mean = yb_sum / count;
  const double rg_variance = std::max(0.0, rg_squares / count - rg_mean * rg_mean);
  const double yb_variance = std::max(0.0, yb_squares / count - yb_mean * yb_mean);
  m.colourfulness = std::sqrt(rg_variance + yb_variance) + 0.3 * std::sqrt(rg_mean * rg_mean + yb_mean * yb_mean);

  // The Laplacian's variance grows with the contrast as much as with the
  // focus; over the variance of luma it tells a sharp frame from a soft one
  // of the same content at any brightness.
  const double luma_mean = luma_sum / count;
  const double luma_variance = luma_squares / count - luma_mean * luma_mean;
  if (box.width < 3 || box.height < 3 || luma_variance < 1) return m;
  double lap_sum = 0, lap_squares = 0;
  for (int y = 1; y + 1 < box.height; ++y) {
    const int* row = luma.data() + static_cast<size_t>(y) * box.width;
    for (int x = 1; x + 1 < box.width; ++x) {
      const double lap = row[x - 1] + row[x + 1] + row[x - box.width] + row[x + box.width] - 4 * row[x];
      lap_sum += lap;
      lap_squares += lap * lap;
    }
  }
  const double inner = static_cast<double>(box.width - 2) * (box.height - 2);
  const double lap_mean = lap_sum / inner;
  m.sharpness = (lap_squares / inner - lap_mean * lap_mean) / luma_variance;
  return m;
}

FrameChange MeasureChange(const Frame& frame, const Frame& later, const ContentBox& box, uint32_t elapsed_ms) {
  FrameChange change;
  if (frame.width != later.width || frame.height != later.height || box.width <= 0 || box.height <= 0 ||
      elapsed_ms == 0)
    return change;
  double difference = 0, before = 0, after = 0;
  for (int y = box.y; y < box.y + box.height; ++y) {
    for (int x = box.x; x < box.x + box.width; ++x) {
      const int a = Luma(Pixel(frame, x, y)), b = Luma(Pixel(later, x, y));
      difference += std::abs(a - b);
      before += a;
      after += b;
    }
  }
  // A fade or a dissolve changes the frame at a steady pace: two frames
  // closer than half a second show that much of it.
  const double count = static_cast<double>(box.width) * box.height * elapsed_ms / 500;
  change.mean_difference = std::min(difference / count, 255.0);
  change.brightness_change = std::min(std::abs(after - before) / count, 255.0);
  return change;
}

double FrameScore(const FrameMeasures& measures, const FrameChange& change) {
  // Dark frames only compete with each other, the brightest first.
  if (measures.too_dark) return -2 + measures.mean_byte / kTooDarkMean;
  // Spread weighs most: a logo, a title on black or a white flash is mostly
  // one tone. Sharpness and colour saturate, so that noise or a test card's
  // bars cannot outweigh a frame of the picture itself.
  const double spread = measures.luma_entropy / 8;
  const double sharp = measures.sharpness / (measures.sharpness + 0.3);
  const double colour = std::min(measures.colourfulness / 100, 1.0);
  const double base = 0.45 * spread + 0.25 * sharp + 0.3 * colour;
  // A fade moves the whole frame's brightness, and so does a dissolve
  // between two scenes. Ordinary motion is what a video is, and costs
  // nothing: a still card must not win for keeping still. Change beyond it
  // costs a little, never as much as a fade.
  const double beyond_motion = std::max(0.0, change.mean_difference - kOrdinaryMotion);
  const double penalty = change.brightness_change / 8 + std::min(beyond_motion / 100, 0.5);
  return std::max(base - penalty, -1.0);
}

}  // namespace thumbnail
