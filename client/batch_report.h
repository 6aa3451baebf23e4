// What a batch tells its user: one line on stderr per failed video, and on
// a terminal a progress line (videos done of all, rate, the video at hand).
#pragma once

#include <chrono>
#include <mutex>
#include <string>

namespace thumbnail {

class BatchReport {
 public:
  // `progress`: draw the progress line (stderr is a terminal, not -q).
  BatchReport(int total, bool progress);
  ~BatchReport();

  // Safe to call from several threads.
  void Started(const std::string& video);
  void Finished(const std::string& video, bool ok, const std::string& reason);

  int failed() const { return failed_; }

 private:
  void Draw();
  void Clear();

  std::mutex mutex_;
  const int total_;
  const bool progress_;
  int done_ = 0;
  int failed_ = 0;
  std::string current_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace thumbnail
