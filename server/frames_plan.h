// The frames a frames request asked for, in the order the server takes them:
// each position resolved to a time in the video once the file is open, in
// time order (a stable sort, so that repeats keep the order they came in),
// each with the index the parent gave it. One pass over the file follows the
// steps; how many frames one request may give is bounded by the protocol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/win/types.h"
#include "protocol/messages.h"

struct FramesPlan {
  struct Step {
    LONGLONG time = 0;  // 100 ns units from the start
    uint32_t index = 0;
  };

  // Whether the request's arguments can be served at all: a known mode and
  // kind, an edge within the limit, positions within the limit (one
  // interval above 0 for kIntervalMs; none or one for a walk, at least one
  // otherwise). Checked before the file is opened.
  static bool Acceptable(const wire::FramesRequest& request);

  // The steps of an acceptable request for a video of `duration` (100 ns
  // units, negative when unknown): millionths of an unknown duration start
  // at 0, an interval over an unknown duration gives the frame at 0 alone.
  // False when the interval asks for more frames than the limit.
  bool Resolve(const wire::FramesRequest& request, LONGLONG duration);

  std::vector<Step> steps;
  size_t next = 0;
  bool keyFrames = false;
  // The step just taken left a frame, which a repeat of its time serves
  // again without capturing it anew.
  bool haveFrame = false;
};
