// Loaded into a program with LD_PRELOAD, it appends the program's own peak
// resident memory to the file BENCH_PEAK_LOG names, as the program ends: one
// line "pid KiB". The kernel's accounting (wait4, GNU time) folds the peaks
// of the children a program reaped into its own, so a tool that runs a
// server is measured apart from it this way. A program ended by a signal or
// by _exit reports nothing.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

// VmHWM from /proc/self/status, in KiB; -1 when it cannot be read.
long PeakKib() {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return -1;
  char line[256];
  long peak = -1;
  while (std::fgets(line, sizeof line, status))
    if (std::sscanf(line, "VmHWM: %ld kB", &peak) == 1) break;
  std::fclose(status);
  return peak;
}

__attribute__((destructor)) void ReportPeak() {
  const char* log = std::getenv("BENCH_PEAK_LOG");
  const long peak = log ? PeakKib() : -1;
  if (peak < 0) return;
  char line[64];
  const int length = std::snprintf(line, sizeof line, "%d\t%ld\n", static_cast<int>(getpid()), peak);
  // One write in append mode: the lines of processes ending together stay
  // whole.
  const int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (write(fd, line, static_cast<size_t>(length)) < 0) {
    // Nothing to tell it to: the bench reads a missing line as no figure.
  }
  close(fd);
}

}  // namespace
