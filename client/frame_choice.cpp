// ThumbnailClient::ChooseFrame: the candidates, their scores and the winner.
// It asks the server only through Frames and ThumbnailWithin, like any
// program could; the weighing is frame_measures'.
#include "client/frame_choice.h"

#include <algorithm>

#include "client/frame_measures.h"

namespace thumbnail {
namespace {

constexpr int kCandidateEdge = 160;  // small enough that measuring costs nothing
constexpr uint32_t kLaterMs = 500;   // how far after a candidate its transition is judged
// Shorter than this, or of unknown length, the walk's stretch is the video;
// longer, it is an opening, and the candidates are spread past it.
constexpr int64_t kLongVideoMs = 60000;
// Shares of a long video, in millionths: a dozen between 5 % and 50 %,
// past the opening and before the end's credits.
constexpr uint32_t kLongShares[] = {50000,  90000,  130000, 170000, 210000, 250000,
                                    290000, 330000, 370000, 410000, 450000, 500000};
// The walk's own positions, and a few more for a clip longer than its 20 s.
constexpr uint32_t kShortMs[] = {300, 520, 1500, 2000, 3000, 7000, 12000, 20000, 30000, 45000};
constexpr uint32_t kShortShares[] = {100000, 250000, 500000, 750000};  // of a known duration

struct Candidate {
  uint32_t milliseconds = 0;
  Frame frame;
  Frame later;
};

std::vector<uint32_t> ShortClipPositions(int64_t duration_ms) {
  std::vector<uint32_t> positions;
  for (uint32_t ms : kShortMs)
    if (duration_ms < 0 || ms + kLaterMs < duration_ms) positions.push_back(ms);
  if (duration_ms > 0)
    for (uint32_t share : kShortShares) positions.push_back(static_cast<uint32_t>(duration_ms * share / 1000000));
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  return positions;
}

// The frames at each position and kLaterMs after it, exact, from one pass:
// the candidates that came, each with its later frame when that came too.
// A failure in the middle keeps what came before it.
Status TakeExact(ThumbnailClient& client, const std::string& path, const std::vector<uint32_t>& positions,
                 std::vector<Candidate>* taken) {
  FramesRequest request;
  request.longer_edge = kCandidateEdge;
  request.positions = positions;
  for (uint32_t ms : positions) request.positions.push_back(ms + kLaterMs);
  std::vector<Candidate> slots(positions.size());
  std::vector<bool> came(positions.size());
  Status status = client.Frames(path, request, nullptr, [&](const TimedFrame& f) {
    if (f.missing || f.origin.source != FrameOrigin::Source::kVideo) return true;
    const size_t i = f.index % positions.size();
    if (f.index < positions.size()) {
      slots[i].milliseconds = f.origin.milliseconds;
      slots[i].frame = f.frame;
      came[i] = true;
    } else {
      slots[i].later = f.frame;
    }
    return true;
  });
  for (size_t i = 0; i < slots.size(); ++i)
    if (came[i]) taken->push_back(std::move(slots[i]));
  return status;
}

// The candidates of `path`: key frames spread over a long video, each with
// the exact frame kLaterMs after it from a second pass (a key frame's
// neighbour is no key frame); else the walk's positions, exact.
Status TakeCandidates(ThumbnailClient& client, const std::string& path, std::vector<Candidate>* out) {
  FramesRequest keys;
  keys.mode = FramesRequest::Mode::kKeyFrame;
  keys.longer_edge = kCandidateEdge;
  keys.kind = Position::Kind::kMillionths;
  keys.positions.assign(std::begin(kLongShares), std::end(kLongShares));
  bool opened = false;
  int64_t duration_ms = -1;
  std::vector<Candidate> found;
  Status status = client.Frames(
      path, keys,
      [&](const VideoFacts& facts) {
        opened = true;
        duration_ms = facts.duration_ms;
        return duration_ms >= kLongVideoMs;
      },
      [&](const TimedFrame& f) {
        // Where key frames are rare, several shares land on one: it is
        // weighed once.
        if (f.missing || f.origin.source != FrameOrigin::Source::kVideo) return true;
        if (!found.empty() && found.back().milliseconds == f.origin.milliseconds) return true;
        found.push_back({f.origin.milliseconds, f.frame, {}});
        return true;
      });
  if (!opened) return status;
  if (duration_ms < kLongVideoMs) return TakeExact(client, path, ShortClipPositions(duration_ms), out);

  FramesRequest later;
  later.longer_edge = kCandidateEdge;
  for (const Candidate& c : found) later.positions.push_back(c.milliseconds + kLaterMs);
  if (!later.positions.empty())
    client.Frames(path, later, nullptr, [&](const TimedFrame& f) {
      if (!f.missing && f.index < found.size()) found[f.index].later = f.frame;
      return true;
    });
  *out = std::move(found);
  return Status::Ok();
}

CandidateScore Weigh(const Candidate& c) {
  CandidateScore s;
  s.milliseconds = c.milliseconds;
  s.content = FindContent(c.frame);
  s.measures = MeasureFrame(c.frame, s.content);
  s.change = MeasureChange(c.frame, c.later, s.content);
  s.score = FrameScore(s.measures, s.change);
  return s;
}

}  // namespace

Status ThumbnailClient::ChooseFrame(const std::string& path, int longer_edge, Frame* frame, FrameChoice* why) {
  *frame = Frame{};
  FrameChoice choice;
  std::vector<Candidate> candidates;
  Status status = TakeCandidates(*this, path, &candidates);
  if (!status.ok() && candidates.empty()) return status;
  for (const Candidate& c : candidates) choice.candidates.push_back(Weigh(c));
  std::sort(choice.candidates.begin(), choice.candidates.end(),
            [](const CandidateScore& a, const CandidateScore& b) { return a.milliseconds < b.milliseconds; });

  const auto best = std::max_element(choice.candidates.begin(), choice.candidates.end(),
                                     [](const CandidateScore& a, const CandidateScore& b) { return a.score < b.score; });
  if (best != choice.candidates.end()) {
    FramesRequest winner;
    winner.longer_edge = longer_edge;
    winner.positions = {best->milliseconds};
    status = Frames(path, winner, nullptr, [&](const TimedFrame& f) {
      if (f.missing) return true;
      *frame = f.frame;
      choice.origin = f.origin;
      return false;
    });
    choice.scored = !frame->bgr.empty();
  }
  // No candidate, or a winner that would not come again at its size: the
  // walk's frame, from the winner's time or the server's own start.
  if (!choice.scored) {
    Position where;
    if (best != choice.candidates.end()) where = {Position::Kind::kMilliseconds, best->milliseconds};
    status = ThumbnailWithin(path, longer_edge, frame, where);
    if (!status.ok()) return status;
    if (!GetFrameOrigin(&choice.origin).ok()) choice.origin = FrameOrigin{};
  }
  choice.content = FindContent(*frame);
  if (why) *why = std::move(choice);
  return Status::Ok();
}

}  // namespace thumbnail
