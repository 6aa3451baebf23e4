// ThumbnailClient::ChooseFrame: the candidates, their scores and the winner.
// It asks the server only through Frames and ThumbnailWithin, like any
// program could; the weighing is frame_measures'.
#include "client/frame_choice.h"

#include <algorithm>
#include <functional>
#include <numeric>

#include "client/frame_measures.h"
#include "client/image_scale.h"

namespace thumbnail {
namespace {

constexpr int kCandidateEdge = 160;  // small enough that measuring costs nothing
// A candidate's transition is judged against the frame this long after it:
// a handful of frames, so that few are decoded past a key frame, and enough
// for a fade or a dissolve to show.
constexpr uint32_t kLaterMs = 120;
// How many of the best candidates are judged for a transition in one pass;
// the next ones only while one could still win.
constexpr size_t kJudgedTogether = 3;
// What a frame not judged yet is expected to lose at most: what motion
// costs. A frame that lost more was caught in a transition, and says
// nothing of the others.
constexpr double kMotionLoss = 0.3;
// Up to this edge the frames judged come at the size asked, and the winner
// is one of them; a larger one is taken again at its size.
constexpr int kLargestJudgedEdge = 512;
// Shares of a video, in millionths: a dozen between 5 % and 50 %, past the
// opening and before the end's credits. No further: where key frames are
// rarer than the shares (a short clip often has one), every frame up to the
// last share is decoded, and the second half would double that.
constexpr uint32_t kShares[] = {50000,  90000,  130000, 170000, 210000, 250000,
                                290000, 330000, 370000, 410000, 450000, 500000};
// The walk's own positions, for a video of unknown duration.
constexpr uint32_t kWalkMs[] = {300, 520, 1500, 2000, 3000, 7000, 12000, 20000, 30000, 45000};

struct Taken {
  FrameOrigin origin;
  Frame frame;
};

struct Candidate {
  Taken taken;
  Taken later;  // kLaterMs after it, when taken with it
};

// The frames of `request`. False from `facts` stops the request before
// anything is decoded.
Status TakeFrames(ThumbnailClient& client, const std::string& path, const FramesRequest& request,
                  const std::function<bool(const VideoFacts&)>& facts, std::vector<Candidate>* out) {
  return client.Frames(path, request, facts, [&](const TimedFrame& f) {
    if (f.missing || f.origin.source != FrameOrigin::Source::kVideo) return true;
    out->push_back({{f.origin, f.frame}, {}});
    return true;
  });
}

// The candidates of `path`: key frames at shares of its duration (a key
// frame given already is not given twice: the frame at the position comes,
// decoded on from the one before), or the walk's positions, exact, when the
// duration is unknown. `opened` says whether the server opened the file at
// all. A failure in the middle keeps what came before it.
Status TakeCandidates(ThumbnailClient& client, const std::string& path, bool* opened, std::vector<Candidate>* out) {
  FramesRequest request;
  request.mode = FramesRequest::Mode::kKeyFrame;
  request.longer_edge = kCandidateEdge;
  request.kind = Position::Kind::kMillionths;
  request.positions.assign(std::begin(kShares), std::end(kShares));
  bool known = false;
  const auto length_known = [&](const VideoFacts& facts) {
    *opened = true;
    known = facts.duration_ms > 0;
    return known;
  };
  Status status = TakeFrames(client, path, request, length_known, out);
  if (!*opened || known) return status;
  request.mode = FramesRequest::Mode::kExact;
  request.kind = Position::Kind::kMilliseconds;
  request.positions.assign(std::begin(kWalkMs), std::end(kWalkMs));
  return TakeFrames(client, path, request, nullptr, out);
}

// The frames of `request`, each with the frame `later` after it (in the
// request's unit), from one pass. One pair for each position, empty where
// nothing came.
std::vector<Candidate> TakePairs(ThumbnailClient& client, const std::string& path, FramesRequest request,
                                 uint32_t later, Status* status) {
  const size_t n = request.positions.size();
  for (size_t i = 0; i < n; ++i) request.positions.push_back(request.positions[i] + later);
  std::vector<Candidate> pairs(n);
  *status = client.Frames(path, request, nullptr, [&](const TimedFrame& f) {
    if (f.missing || f.origin.source != FrameOrigin::Source::kVideo) return true;
    (f.index < n ? pairs[f.index].taken : pairs[f.index % n].later) = {f.origin, f.frame};
    return true;
  });
  return pairs;
}

// The frame as it is measured: at the candidates' small size, so that the
// measures mean the same whatever size it was taken at.
Frame Small(const Frame& frame) {
  const PictureSize size = FitLongerEdge(frame.width, frame.height, kCandidateEdge, false);
  Frame small;
  if (size.width == frame.width || !ScaleFrame(frame, size.width, size.height, &small)) return frame;
  return small;
}

// `s` judged for a transition against `later`.
void Judge(const Candidate& c, CandidateScore* s) {
  s->judged = true;
  const Taken& later = c.later;
  if (later.frame.bgr.empty() || later.origin.milliseconds <= c.taken.origin.milliseconds) return;
  const Frame small = Small(c.taken.frame);
  s->change = MeasureChange(small, Small(later.frame), FindContent(small),
                            later.origin.milliseconds - c.taken.origin.milliseconds);
  s->score = FrameScore(s->measures, s->change);
}

CandidateScore Weigh(const Candidate& c) {
  CandidateScore s;
  s.milliseconds = c.taken.origin.milliseconds;
  const Frame small = Small(c.taken.frame);
  s.content = FindContent(small);
  s.measures = MeasureFrame(small, s.content);
  s.score = FrameScore(s.measures, {});
  return s;
}

// The candidates judged, best first, a few at a time in one
// pass each, at `edge`, until the best judged one leads every other: a
// transition only lowers a score, and motion lowers every frame of a video
// alike, so a candidate not judged yet is expected to lose the least any
// judged one lost, up to what motion costs. Each one judged is kept at
// `edge`. The index of the winner.
size_t JudgeBest(ThumbnailClient& client, const std::string& path, int edge, std::vector<Candidate>* candidates,
                 std::vector<CandidateScore>* scores) {
  std::vector<size_t> order(scores->size());
  std::iota(order.begin(), order.end(), 0);
  const auto score = [&](size_t i) { return (*scores)[i].score; };
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return score(a) > score(b); });
  double least_loss = kMotionLoss;
  for (;;) {
    const auto expected = [&](size_t i) { return (*scores)[i].judged ? score(i) : score(i) - least_loss; };
    size_t best = order.empty() ? 0 : order.front();
    for (size_t i : order)
      if (expected(i) > expected(best)) best = i;
    // A frame too dark has no fade to lose: its score stands as it is.
    if (order.empty() || (*scores)[best].judged || score(best) <= -1) return best;
    std::vector<size_t> group;
    for (size_t i : order)
      if (!(*scores)[i].judged && score(i) > -1 && group.size() < kJudgedTogether) group.push_back(i);
    FramesRequest request;
    request.longer_edge = edge;
    for (size_t i : group) request.positions.push_back((*scores)[i].milliseconds);
    Status status;
    std::vector<Candidate> pairs = TakePairs(client, path, request, kLaterMs, &status);
    for (size_t k = 0; k < group.size(); ++k) {
      const size_t i = group[k];
      const double before = score(i);
      // A candidate that would not come again is judged as it was taken: it
      // had no later frame, and keeps its score.
      if (!pairs[k].taken.frame.bgr.empty()) (*candidates)[i] = std::move(pairs[k]);
      Judge((*candidates)[i], &(*scores)[i]);
      least_loss = std::min(least_loss, before - score(i));
    }
  }
}

}  // namespace

Status ThumbnailClient::ChooseFrame(const std::string& path, int longer_edge, Frame* frame, FrameChoice* why) {
  *frame = Frame{};
  FrameChoice choice;
  const bool judged_at_size = longer_edge > 0 && longer_edge <= kLargestJudgedEdge;
  const int edge = judged_at_size ? longer_edge : kCandidateEdge;

  std::vector<Candidate> candidates;
  bool opened = false;
  Status status = TakeCandidates(*this, path, &opened, &candidates);
  if (!opened) return status;
  std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.taken.origin.milliseconds < b.taken.origin.milliseconds;
  });
  // Where positions share a frame (key frames rarer than the positions, a
  // video of one frame, or the end) it is weighed once.
  candidates.erase(std::unique(candidates.begin(), candidates.end(),
                               [](const Candidate& a, const Candidate& b) {
                                 return a.taken.origin.milliseconds == b.taken.origin.milliseconds;
                               }),
                   candidates.end());
  for (const Candidate& c : candidates) choice.candidates.push_back(Weigh(c));
  std::vector<CandidateScore>& scores = choice.candidates;
  const size_t best = JudgeBest(*this, path, edge, &candidates, &scores);

  if (best < scores.size()) {
    const Taken& won = candidates[best].taken;
    if (judged_at_size && scores[best].judged && std::max(won.frame.width, won.frame.height) == longer_edge) {
      *frame = won.frame;
      choice.origin = won.origin;
    } else {
      FramesRequest winner;
      winner.longer_edge = longer_edge;
      winner.positions = {scores[best].milliseconds};
      status = Frames(path, winner, nullptr, [&](const TimedFrame& f) {
        if (f.missing) return true;
        *frame = f.frame;
        choice.origin = f.origin;
        return false;
      });
    }
    choice.scored = !frame->bgr.empty();
  }
  // No candidate, or a winner that would not come again at its size: the
  // walk's frame, from the winner's time or the server's own start.
  if (!choice.scored) {
    Position where;
    if (best < scores.size()) where = {Position::Kind::kMilliseconds, scores[best].milliseconds};
    status = ThumbnailWithin(path, longer_edge, frame, where);
    if (!status.ok()) return status;
    if (!GetFrameOrigin(&choice.origin).ok()) choice.origin = FrameOrigin{};
  }
  choice.content = FindContent(*frame);
  if (why) *why = std::move(choice);
  return Status::Ok();
}

}  // namespace thumbnail
