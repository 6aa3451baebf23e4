// Stream timestamps as media time (100 ns units from the file's start) and
// back. A damaged or hostile file's timestamps can be anything, so every
// conversion stays within a range where the graph's sums and differences of
// times cannot overflow.
#pragma once

extern "C" {
#include <libavutil/rational.h>
}

#include <cstdint>

#include "platform/win/types.h"

namespace media {

// 100 ns media time per second.
constexpr LONGLONG kUnitsPerSecond = 10000000;
constexpr AVRational kMediaTimeBase = {1, static_cast<int>(kUnitsPerSecond)};

// Media time of a sample whose time is unknown.
constexpr LONGLONG kNoTime = INT64_MIN;

// About 3600 years: far beyond any real file, far below the limits of
// LONGLONG.
constexpr LONGLONG kMaxMediaTime = LONGLONG{1} << 60;

// The media time of a timestamp in `timeBase`; kNoTime when the timestamp is
// unknown or lies beyond kMaxMediaTime either way.
LONGLONG MediaTimeOf(int64_t ts, AVRational timeBase, LONGLONG fileStart);

// A duration in `timeBase` as media time, capped at kMaxMediaTime; 0 when
// unknown.
LONGLONG MediaDurationOf(int64_t duration, AVRational timeBase);

// The timestamp in `timeBase` of a media time, saturating where the sum with
// the file's start would overflow.
int64_t StreamTimeOf(LONGLONG time, LONGLONG fileStart, AVRational timeBase);

}  // namespace media
