#include "tool/batch/batch_report.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "tool/terminal_text.h"

namespace thumbnail {
namespace {

int TerminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

const char* StatusName(VideoOutcome::Status status) {
  switch (status) {
    case VideoOutcome::Status::kWritten:
      return "written";
    case VideoOutcome::Status::kKept:
      return "kept";
    case VideoOutcome::Status::kSkipped:
      return "skipped";
    case VideoOutcome::Status::kFailed:
    case VideoOutcome::Status::kNotTried:
      return "failed";
  }
  return "";
}

}  // namespace

std::string JsonLine(const std::string& video, const VideoOutcome& outcome) {
  using json = nlohmann::ordered_json;
  const bool pictured = outcome.status == VideoOutcome::Status::kWritten || outcome.status == VideoOutcome::Status::kKept;
  const bool written = pictured && outcome.size.width > 0;
  const FrameOrigin& origin = outcome.origin;
  json line = {{"path", video},
               {"picture", pictured ? json(outcome.picture) : json(nullptr)},
               {"status", StatusName(outcome.status)},
               {"size", written ? json{{"width", outcome.size.width}, {"height", outcome.size.height}} : json(nullptr)},
               {"position", origin.source == FrameOrigin::Source::kVideo ? json(origin.milliseconds / 1000.0)
                                                                          : json(nullptr)},
               {"cover", origin.source == FrameOrigin::Source::kCover},
               {"reason", outcome.reason.empty() ? json(nullptr) : json(outcome.reason)},
               {"chosen", outcome.chosen && origin.source == FrameOrigin::Source::kVideo
                              ? json(origin.milliseconds / 1000.0)
                              : json(nullptr)},
               {"candidates", json::array()},
               {"read", outcome.read ? json{{"bytes", outcome.read->bytes}, {"seeks", outcome.read->seeks}}
                                     : json(nullptr)}};
  // Rounded, so that a line stays readable; the order is the video's.
  const auto round = [](double value) { return std::round(value * 1000) / 1000; };
  for (const CandidateScore& c : outcome.candidates)
    line["candidates"].push_back({{"time", c.milliseconds / 1000.0},
                                  {"score", round(c.score)},
                                  {"too_dark", c.measures.too_dark},
                                  {"mean", round(c.measures.mean_byte)},
                                  {"entropy", round(c.measures.luma_entropy)},
                                  {"sharpness", round(c.measures.sharpness)},
                                  {"colourfulness", round(c.measures.colourfulness)},
                                  {"change", c.judged ? json(round(c.change.mean_difference)) : json(nullptr)},
                                  {"fade", c.judged ? json(round(c.change.brightness_change)) : json(nullptr)},
                                  {"content", {c.content.x, c.content.y, c.content.width, c.content.height}}});
  if (outcome.frames) {
    json times = json::array();
    for (int64_t time : outcome.frames->times_ms) times.push_back(time >= 0 ? json(time / 1000.0) : json(nullptr));
    line["files"] = outcome.frames->files;
    line["frames"] = outcome.frames->times_ms.size();
    line["times"] = std::move(times);
  }
  // A path is bytes, not always UTF-8; bytes that are not become U+FFFD
  // rather than failing the line.
  return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string ProgressLine(const std::string& head, const std::string& video, int columns) {
  // One terminal row, or the carriage return would no longer reach its start.
  int room = columns - 1 - static_cast<int>(head.size());
  return head + KeepEnd(Printable(video), static_cast<size_t>(std::max(room, 0)));
}

BatchReport::BatchReport(int total, bool progress, bool json)
    : total_(total), progress_(progress), json_(json), start_(std::chrono::steady_clock::now()) {}

BatchReport::~BatchReport() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (not_tried_ > 0) {
    Clear();
    std::fprintf(stderr, "thumbnail: %d %s not tried\n", not_tried_, not_tried_ == 1 ? "video was" : "videos were");
  }
  if (!progress_) return;
  Clear();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::fprintf(stderr, "%d of %d ok, %d failed, %.1f s\n", done_ - failed_, total_, failed_, seconds);
}

void BatchReport::Started(const std::string& video) {
  std::lock_guard<std::mutex> lock(mutex_);
  current_ = video;
  Draw();
}

void BatchReport::Finished(const std::string& video, const VideoOutcome& outcome) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
  if (outcome.status == VideoOutcome::Status::kFailed) {
    ++failed_;
    Clear();
    std::fprintf(stderr, "thumbnail: %s: %s\n", Printable(video).c_str(), Printable(outcome.reason).c_str());
  }
  // One line for them all, at the end, rather than one for each.
  if (outcome.status == VideoOutcome::Status::kNotTried) {
    ++failed_;
    ++not_tried_;
  }
  if (json_) {
    std::puts(JsonLine(video, outcome).c_str());
    std::fflush(stdout);
  }
  Draw();
}

void BatchReport::Clear() {
  if (progress_) std::fputs("\r\033[K", stderr);
}

void BatchReport::Draw() {
  if (!progress_) return;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char head[96];
  std::snprintf(head, sizeof head, "[%d/%d] %.1f videos/s  ", done_, total_, seconds > 0 ? done_ / seconds : 0.0);
  std::fprintf(stderr, "\r\033[K%s", ProgressLine(head, current_, TerminalWidth()).c_str());
  std::fflush(stderr);
}

}  // namespace thumbnail
