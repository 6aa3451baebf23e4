#include "tool/batch/processor_share.h"

#include <utility>

#include "client/system.h"

namespace thumbnail {

std::vector<int> ProcessorShare(const std::vector<int>& processors, size_t index, size_t count) {
  const size_t n = processors.size();
  if (count <= 1 || n == 0) return processors;
  if (n < count) return {processors[index % n]};
  return {processors.begin() + static_cast<std::ptrdiff_t>(index * n / count),
          processors.begin() + static_cast<std::ptrdiff_t>((index + 1) * n / count)};
}

ProcessorShareScope::ProcessorShareScope(size_t index, size_t count) {
  if (count <= 1) return;
  std::vector<int> all = AllowedProcessors();
  const std::vector<int> share = ProcessorShare(all, index, count);
  if (!share.empty() && KeepThreadTo(share) == 0) before_ = std::move(all);
}

ProcessorShareScope::~ProcessorShareScope() {
  if (!before_.empty()) KeepThreadTo(before_);
}

}  // namespace thumbnail
