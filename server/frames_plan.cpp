#include "server/frames_plan.h"

#include <algorithm>

namespace {

constexpr LONGLONG kUnitsPerMs = 10000;
constexpr LONGLONG kMillionths = 1000000;

uint32_t Kind(const wire::FramesRequest& request) { return request.kind & wire::kKindMask; }

// A share of the duration without overflow: the duration is below 2^60.
LONGLONG ShareOf(LONGLONG duration, uint32_t millionths) {
  if (duration < 0) return 0;
  const LONGLONG share = std::min<LONGLONG>(millionths, kMillionths);
  return duration / kMillionths * share + duration % kMillionths * share / kMillionths;
}

}  // namespace

bool FramesPlan::Acceptable(const wire::FramesRequest& request) {
  constexpr uint32_t kKnownModes = wire::kKeyFrames | wire::kFirstBrightFrame;
  if ((request.mode & ~kKnownModes) != 0 || request.longerEdge > wire::kMaxLongerEdge || request.tooMany) return false;
  if ((request.kind & ~(wire::kKindMask | wire::kPreferCover)) != 0) return false;
  const size_t count = request.positions.size();
  if (request.mode & wire::kFirstBrightFrame) return count <= 1 && Kind(request) != wire::kIntervalMs;
  switch (Kind(request)) {
    case wire::kMilliseconds:
    case wire::kMillionthsOfDuration:
      return count > 0;
    case wire::kIntervalMs:
      return count == 1 && request.positions[0] > 0;
    default:
      return false;
  }
}

bool FramesPlan::Resolve(const wire::FramesRequest& request, LONGLONG duration) {
  steps.clear();
  next = 0;
  haveFrame = false;
  keyFrames = (request.mode & wire::kKeyFrames) != 0;
  if (Kind(request) == wire::kIntervalMs) {
    const LONGLONG interval = LONGLONG{request.positions[0]} * kUnitsPerMs;
    // Every multiple of the interval before the end; the start alone when
    // the end is unknown.
    const LONGLONG count = duration > 0 ? (duration - 1) / interval + 1 : 1;
    if (count > static_cast<LONGLONG>(wire::kMaxFramePositions)) return false;
    for (LONGLONG i = 0; i < count; ++i) steps.push_back({i * interval, static_cast<uint32_t>(i)});
    return true;
  }
  for (uint32_t i = 0; i < request.positions.size(); ++i) {
    const uint32_t value = request.positions[i];
    const LONGLONG time =
        Kind(request) == wire::kMillionthsOfDuration ? ShareOf(duration, value) : LONGLONG{value} * kUnitsPerMs;
    steps.push_back({time, i});
  }
  std::stable_sort(steps.begin(), steps.end(), [](const Step& a, const Step& b) { return a.time < b.time; });
  return true;
}
