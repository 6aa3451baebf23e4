// What a batch tells its user: one line on stderr per failed video, on a
// terminal a progress line (videos done of all, rate, the video at hand),
// and with --json one JSON object a line per video on stdout.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include <vector>

#include "client/frame_choice.h"
#include "client/image_scale.h"
#include "client/thumbnail_client.h"
#include "tool/picture_pipeline.h"

namespace thumbnail {

struct VideoOutcome {
  enum class Status {
    kWritten,
    kKept,     // a current picture was there already
    kSkipped,  // not tried, and rightly: a file given twice, a failure remembered
    kFailed,
    kNotTried,  // a failure, though not of this video: the batch stopped before it
  };
  Status status = Status::kFailed;
  std::string picture;  // where the picture is, or would have been
  PictureSize size;     // of a picture written or kept
  FrameOrigin origin;   // of a picture written
  std::string reason;   // of a failure or a skip
  std::optional<FramesWritten> frames = std::nullopt;  // of a sheet or sprites: its files and frames
  // Of a picture written from the scored choice: that it was, and every
  // candidate weighed.
  bool chosen = false;
  std::vector<CandidateScore> candidates = {};
  std::optional<ReadTally> read = std::nullopt;         // what the server read of the video, when it read it
};

class BatchReport {
 public:
  // `progress`: draw the progress line (stderr is a terminal, not -q).
  // `json`: a JSON line on stdout per video.
  BatchReport(int total, bool progress, bool json);
  ~BatchReport();

  // Safe to call from several threads.
  void Started(const std::string& video);
  void Finished(const std::string& video, const VideoOutcome& outcome);

  int failed() const { return failed_; }

 private:
  void Draw();
  void Clear();

  std::mutex mutex_;
  const int total_;
  const bool progress_;
  const bool json_;
  int done_ = 0;
  int failed_ = 0;
  int not_tried_ = 0;
  std::string current_;
  std::chrono::steady_clock::time_point start_;
};

// The JSON line of one video: path, picture, status (written, kept,
// skipped, failed), size, where its frame came from (position in seconds,
// cover) and reason; for a sheet or sprites also the files written, the
// number of frames and their times in seconds (null for a tile without).
std::string JsonLine(const std::string& video, const VideoOutcome& outcome);

// The one-terminal-row progress line: `head`, then as much of the end of
// `video` (made printable) as `columns` leaves room for.
std::string ProgressLine(const std::string& head, const std::string& video, int columns);

}  // namespace thumbnail
