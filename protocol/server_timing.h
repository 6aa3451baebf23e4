// The times a parent can count on besides the bytes: when an idle server
// ends itself, and where the server looks for a frame.
#pragma once

#include <cstdint>
#include <iterator>

namespace wire {

// Milliseconds without a command byte after which the server ends itself;
// its watchdog looks once a second, so it is gone within a second more.
constexpr uint32_t kIdleLimitMs = 10000;

// The walk of a request without a position (command 2): the positions tried
// in turn, in 100 ns units from the start of the video. The first whose frame
// is not too dark wins; the last is kept however dark it is.
constexpr int64_t kWalkPositions[] = {3000000, 5200000, 15000000, 20000000, 30000000, 70000000, 120000000, 200000000};

// The walk from a position of the parent's (command 7): these steps after it,
// in 100 ns units, growing as the fixed positions do: past a title card, then
// past a scene.
constexpr int64_t kWalkStepsFromStart[std::size(kWalkPositions)] = {0,        5000000,  10000000,  20000000,
                                                                    40000000, 80000000, 150000000, 300000000};

// The first position of the fixed walk, in milliseconds.
constexpr uint32_t kFirstWalkPositionMs = static_cast<uint32_t>(kWalkPositions[0] / 10000);

}  // namespace wire
