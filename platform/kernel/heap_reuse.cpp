#include "platform/kernel/heap_reuse.h"

#include <malloc.h>

void KeepPictureMemoryForReuse() {
  constexpr int kMiB = 1 << 20;
  mallopt(M_MMAP_THRESHOLD, 64 * kMiB);
  mallopt(M_TRIM_THRESHOLD, 256 * kMiB);
  mallopt(M_ARENA_MAX, 1);
}
