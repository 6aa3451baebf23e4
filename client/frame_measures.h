// What a small frame looks like, in numbers: where its black bars are, how
// dark, flat, sharp and colourful its content is, and how much it changes
// in the moment after it. Pure functions over BGR rows, so that the frame
// choice can be weighed without a server.
#pragma once

#include "client/frame_choice.h"

namespace thumbnail {

// The rows and columns at each edge whose mean luma is at most the limit
// black bars stay under (cropdetect's 24 of 255) are bars, the rest is
// content. Bars come in pairs of about the same size and leave at least half
// of the frame: a black frame, or a line of text on black, has no bars and
// is measured whole, as the dark or empty frame it is.
ContentBox FindContent(const Frame& frame);

// The measures of the content inside `box`.
FrameMeasures MeasureFrame(const Frame& frame, const ContentBox& box);

// How the content inside `box` changes in half a second, judged from
// `frame` and `later`, a frame of the same size `elapsed_ms` after it;
// nothing when their sizes differ.
FrameChange MeasureChange(const Frame& frame, const Frame& later, const ContentBox& box, uint32_t elapsed_ms);

// One number for how well a frame shows its video, higher better: a frame
// too dark scores below every other, by its brightness; the rest by spread,
// sharpness and colour, less a penalty for a frame caught in a fade or a
// dissolve.
double FrameScore(const FrameMeasures& measures, const FrameChange& change);

}  // namespace thumbnail
