// What the frame choice's measures cost on one candidate at the size they
// are taken (160x90): bars, measures, change and score, timed over many
// rounds on a frame of detail and colour. Prints microseconds per candidate.
#include <chrono>
#include <cmath>
#include <cstdio>

#include "client/frame_measures.h"

int main() {
  constexpr int kW = 160, kH = 90, kRounds = 20000;
  thumbnail::Frame frame{kW, kH, std::vector<uint8_t>(size_t{3} * kW * kH)};
  thumbnail::Frame later = frame;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 3; ++c) {
        const size_t i = (size_t{1} * y * kW + x) * 3 + c;
        frame.bgr[i] = static_cast<uint8_t>(128 + 100 * std::sin(x * 0.07 * (c + 1) + y * 0.05));
        later.bgr[i] = static_cast<uint8_t>(frame.bgr[i] * 0.9);
      }
  double sink = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < kRounds; ++round) {
    const thumbnail::ContentBox box = thumbnail::FindContent(frame);
    sink += thumbnail::FrameScore(thumbnail::MeasureFrame(frame, box), thumbnail::MeasureChange(frame, later, box, 240));
  }
  const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  std::printf("measures of one %dx%d candidate: %.1f us (score %.3f)\n", kW, kH, us / kRounds, sink / kRounds);
  return 0;
}
