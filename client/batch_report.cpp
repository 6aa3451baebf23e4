#include "client/batch_report.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace thumbnail {
namespace {

int TerminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

BatchReport::BatchReport(int total, bool progress)
    : total_(total), progress_(progress), start_(std::chrono::steady_clock::now()) {}

BatchReport::~BatchReport() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!progress_) return;
  Clear();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::fprintf(stderr, "%d of %d written, %d failed, %.1f s\n", done_ - failed_, total_, failed_, seconds);
}

void BatchReport::Started(const std::string& video) {
  std::lock_guard<std::mutex> lock(mutex_);
  current_ = video;
  Draw();
}

void BatchReport::Finished(const std::string& video, bool ok, const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
  if (!ok) {
    ++failed_;
    Clear();
    std::fprintf(stderr, "thumbnail: %s: %s\n", video.c_str(), reason.c_str());
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
  std::string line = head + current_;
  // One terminal row, or the carriage return would no longer reach its start.
  size_t room = static_cast<size_t>(TerminalWidth() - 1);
  if (line.size() > room) line = line.substr(0, room);
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
}

}  // namespace thumbnail
