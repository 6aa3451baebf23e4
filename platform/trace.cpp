#include "platform/trace.h"

#include <cstdarg>
#include <cstdio>

namespace {
std::function<void(const std::string&)>* sink = nullptr;
}

void DebugTrace(const char* format, ...) {
#ifdef THUMBNAIL_TRACE
  constexpr bool to_stderr = true;
#else
  constexpr bool to_stderr = false;
#endif
  if (!sink && !to_stderr) return;
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (sink) (*sink)(text);
  if (to_stderr) std::fputs(text, stderr);
}

ScopedTraceSink::ScopedTraceSink(std::function<void(const std::string&)> s) {
  sink = new std::function<void(const std::string&)>(std::move(s));
}

ScopedTraceSink::~ScopedTraceSink() {
  delete sink;
  sink = nullptr;
}
