// Why ThumbnailClient::ChooseFrame chose the frame it chose: every candidate
// it weighed, with its measures and its score.
#pragma once

#include <cstdint>
#include <vector>

#include "thumbnail_client.h"

namespace thumbnail {

// The part of a frame inside its black bars, in its pixels.
struct ContentBox {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct FrameMeasures {
  double mean_byte = 0;      // of blue, green and red alike, as the server's darkness test
  bool too_dark = false;     // that test: a mean byte below 7.8 of 255
  double luma_entropy = 0;   // bits of the luma histogram: 0 for one tone, 8 at most
  double sharpness = 0;      // variance of the Laplacian over the variance of luma
  double colourfulness = 0;  // Hasler and Suesstrunk's M: 0 for grey, about 100 for vivid
};

// How a frame changes in the half second after it.
struct FrameChange {
  double mean_difference = 0;    // mean absolute luma difference, 0 to 255
  double brightness_change = 0;  // absolute change of the mean luma, 0 to 255: a fade
};

struct CandidateScore {
  uint32_t milliseconds = 0;  // the candidate's time
  ContentBox content;         // in the small frame it was measured on
  FrameMeasures measures;
  // Judged for a transition: only the best are, since a transition can only
  // lower a score. Nothing when not judged, or when no later frame came.
  bool judged = false;
  FrameChange change;
  double score = 0;           // higher better; below -1 for a frame too dark
};

struct FrameChoice {
  // False when no candidate could be weighed (every one failed): the frame
  // is then the server's own walk's.
  bool scored = false;
  FrameOrigin origin;                   // of the frame given
  ContentBox content;                   // of the frame given, inside its black bars
  std::vector<CandidateScore> candidates;  // in time order
};

}  // namespace thumbnail
