// How the tool's servers share the processors: each of N servers decodes on
// its own part of the processors the tool may run on, so that the decoders'
// threads (one per processor a server may use) never outnumber the cores.
#pragma once

#include <cstddef>
#include <vector>

namespace thumbnail {

// Part `index` of `count` of `processors`: consecutive runs as even as can
// be when there are at least as many processors as parts, else one
// processor, taken in turn. All of them when there is one part or none.
std::vector<int> ProcessorShare(const std::vector<int>& processors, size_t index, size_t count);

// While it lives, keeps the thread that made it, and so every server the
// thread starts (a child takes the affinity of the thread that started it),
// to its share; then gives the thread back the processors it had. Nothing
// changes when the system cannot tell or set the processors.
class ProcessorShareScope {
 public:
  ProcessorShareScope(size_t index, size_t count);
  ~ProcessorShareScope();
  ProcessorShareScope(const ProcessorShareScope&) = delete;
  ProcessorShareScope& operator=(const ProcessorShareScope&) = delete;

 private:
  std::vector<int> before_;  // empty when nothing was changed
};

}  // namespace thumbnail
