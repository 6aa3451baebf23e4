// ThumbnailClient::ChooseFrame: the candidates, their scores and the winner.
// It asks the server only through Frames and ThumbnailWithin, like any
// program could; the weighing is frame_measures'.
#include "client/frame_choice.h"

#include <algorithm>
#include <functional>
#include <numeric>

#include "client/frame_measures.h"

namespace thumbnail {
namespace {

constexpr int kCandidateEdge = 160;  // small enough that measuring costs nothing
// A candidate's transition is judged against the frame this long after it:
// a handful of frames, so that few are decoded past a key frame, and enough
// for a fade or a dissolve to show.
constexpr uint32_t kLaterMs = 120;
// How many of the best candidates are judged for a transition in one pass;
// the next ones only when every one judged lost its lead to one.
constexpr size_t kJudgedTogether = 3;
// What a frame not judged yet is expected to lose at most: what motion
// costs. A frame that lost more was caught in a transition, and says
// nothing of the others.
constexpr double kMotionLoss = 0.3;
// Up to this edge the judged candidates come at the size asked, and the
// winner is one of them; a larger one is taken again at its size.
constexpr int kLargestJudgedEdge = 512;
// Shorter than this, the opening and the credits are much of the video, and
// the candidates spread over most of it.
constexpr int64_t kLongVideoMs = 60000;
// Shares of a video, in millionths: a dozen between 5 % and 50 % of a long
// one, past the opening and before the end's credits; ten from 5 % to 90 %
// of a short one.
constexpr uint32_t kLongShares[] = {50000,  90000,  130000, 170000, 210000, 250000,
                                    290000, 330000, 370000, 410000, 450000, 500000};
constexpr uint32_t kShortShares[] = {50000, 120000, 200000, 300000, 400000, 500000, 600000, 700000, 800000, 900000};
// The walk's own positions, for a video of unknown duration.
constexpr uint32_t kWalkMs[] = {300, 520, 1500, 2000, 3000, 7000, 12000, 20000, 30000, 45000};

struct Candidate {
  FrameOrigin origin;
  Frame frame;
};

// The frames of `request`, each once: where key frames are rare, several
// positions land on one. False, with `facts` refused, stops the request
// before any frame is decoded.
Status TakeFrames(ThumbnailClient& client, const std::string& path, const FramesRequest& request,
                  const std::function<bool(const VideoFacts&)>& facts, std::vector<Candidate>* taken) {
  return client.Frames(path, request, facts, [&](const TimedFrame& f) {
    if (f.missing || f.origin.source != FrameOrigin::Source::kVideo) return true;
    if (!taken->empty() && taken->back().origin.milliseconds == f.origin.milliseconds) return true;
    taken->push_back({f.origin, f.frame});
    return true;
  });
}

// The candidates of `path`, small: key frames at shares of its duration (a
// key frame given already is not given twice: the frame at the position
// comes, decoded on), or the walk's positions, exact, when the duration is
// unknown. A failure in the middle keeps what came before it.
Status TakeCandidates(ThumbnailClient& client, const std::string& path, std::vector<Candidate>* out) {
  FramesRequest request;
  request.mode = FramesRequest::Mode::kKeyFrame;
  request.longer_edge = kCandidateEdge;
  request.kind = Position::Kind::kMillionths;
  request.positions.assign(std::begin(kLongShares), std::end(kLongShares));
  bool opened = false;
  int64_t duration_ms = -1;
  Status status = TakeFrames(
      client, path, request,
      [&](const VideoFacts& facts) {
        opened = true;
        duration_ms = facts.duration_ms;
        return duration_ms >= kLongVideoMs;
      },
      out);
  if (!opened || duration_ms >= kLongVideoMs) return opened ? Status::Ok() : status;
  if (duration_ms > 0) {
    request.positions.assign(std::begin(kShortShares), std::end(kShortShares));
  } else {
    request.mode = FramesRequest::Mode::kExact;
    request.kind = Position::Kind::kMilliseconds;
    request.positions.assign(std::begin(kWalkMs), std::end(kWalkMs));
  }
  status = TakeFrames(client, path, request, nullptr, out);
  return out->empty() ? status : Status::Ok();
}

// The candidates `judged` taken again, exact, with the frame kLaterMs after
// each, at `edge`, in one pass: their change is measured and their score
// lowered by it. The frames at `edge` are kept for the winner.
void JudgeTransitions(ThumbnailClient& client, const std::string& path, int edge, const std::vector<size_t>& judged,
                      std::vector<CandidateScore>* scores, std::vector<Candidate>* at_edge) {
  FramesRequest request;
  request.longer_edge = edge;
  for (size_t i : judged) request.positions.push_back((*scores)[i].milliseconds);
  for (size_t i : judged) request.positions.push_back((*scores)[i].milliseconds + kLaterMs);
  const size_t n = judged.size();
  std::vector<Candidate> frames(n), later(n);
  client.Frames(path, request, nullptr, [&](const TimedFrame& f) {
    if (f.missing || f.origin.source != FrameOrigin::Source::kVideo) return true;
    (f.index < n ? frames : later)[f.index % n] = {f.origin, f.frame};
    return true;
  });
  for (size_t k = 0; k < n; ++k) {
    CandidateScore& s = (*scores)[judged[k]];
    const Candidate& c = frames[k];
    s.judged = true;
    if (!c.frame.bgr.empty() && !later[k].frame.bgr.empty() &&
        later[k].origin.milliseconds > c.origin.milliseconds) {
      s.change = MeasureChange(c.frame, later[k].frame, FindContent(c.frame),
                               later[k].origin.milliseconds - c.origin.milliseconds);
      s.score = FrameScore(s.measures, s.change);
    }
    (*at_edge)[judged[k]] = c;
  }
}

CandidateScore Weigh(const Candidate& c) {
  CandidateScore s;
  s.milliseconds = c.origin.milliseconds;
  s.content = FindContent(c.frame);
  s.measures = MeasureFrame(c.frame, s.content);
  s.score = FrameScore(s.measures, {});
  return s;
}

}  // namespace

Status ThumbnailClient::ChooseFrame(const std::string& path, int longer_edge, Frame* frame, FrameChoice* why) {
  *frame = Frame{};
  FrameChoice choice;
  std::vector<Candidate> candidates;
  Status status = TakeCandidates(*this, path, &candidates);
  if (!status.ok()) return status;
  std::sort(candidates.begin(), candidates.end(),
            [](const Candidate& a, const Candidate& b) { return a.origin.milliseconds < b.origin.milliseconds; });
  for (const Candidate& c : candidates) choice.candidates.push_back(Weigh(c));

  // A transition only lowers a score, and motion lowers every frame of a
  // video alike: a candidate not judged yet is expected to lose the least
  // any judged one lost, up to what motion costs. The best are judged, a few at a time, until
  // the best judged one leads every other by that reckoning.
  std::vector<CandidateScore>& scores = choice.candidates;
  std::vector<size_t> order(scores.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return scores[a].score > scores[b].score; });
  const bool judged_at_size = longer_edge > 0 && longer_edge <= kLargestJudgedEdge;
  std::vector<Candidate> at_edge(scores.size());
  std::vector<bool> judged(scores.size());
  double least_loss = kMotionLoss;
  size_t best = scores.size();
  for (;;) {
    const auto expected = [&](size_t i) { return judged[i] ? scores[i].score : scores[i].score - least_loss; };
    best = scores.size();
    for (size_t i : order)
      if (best == scores.size() || expected(i) > expected(best)) best = i;
    // A frame too dark has no fade to lose: its score stands as it is.
    if (best == scores.size() || judged[best] || scores[best].score <= -1) break;
    std::vector<size_t> group;
    for (size_t i : order)
      if (!judged[i] && scores[i].score > -1 && group.size() < kJudgedTogether) group.push_back(i);
    std::vector<double> before;
    for (size_t i : group) before.push_back(scores[i].score);
    JudgeTransitions(*this, path, judged_at_size ? longer_edge : kCandidateEdge, group, &scores, &at_edge);
    for (size_t k = 0; k < group.size(); ++k) {
      judged[group[k]] = true;
      const double loss = before[k] - scores[group[k]].score;
      least_loss = std::min(least_loss, loss);
    }
  }

  if (best < scores.size()) {
    if (judged_at_size && !at_edge[best].frame.bgr.empty()) {
      *frame = at_edge[best].frame;
      choice.origin = at_edge[best].origin;
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
