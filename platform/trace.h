// DebugTrace: the printf-style hook every step of the server and the grabber
// calls with a short text naming the step or the failed call. It discards the
// text, so nothing reaches any output; the THUMBNAIL_TRACE build option sends
// it to stderr for debugging, and tests may install a sink to read it.
#pragma once

#include <functional>
#include <string>

void DebugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Test seam: receives each formatted trace text while the scope lasts.
class ScopedTraceSink {
 public:
  explicit ScopedTraceSink(std::function<void(const std::string&)> sink);
  ~ScopedTraceSink();
  ScopedTraceSink(const ScopedTraceSink&) = delete;
  ScopedTraceSink& operator=(const ScopedTraceSink&) = delete;
};
