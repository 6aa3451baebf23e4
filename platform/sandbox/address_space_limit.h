// A ceiling on the server's own memory, so that a hostile file ends in a
// failed allocation (and a failed thumbnail) or the crash filter, never in
// the machine swapping.
#pragma once

#include <cstddef>

// Room for a 4K or 8K decode with its reference frames, decoder threads and
// the mapped libraries, and for the largest frame the bitmap stand-in accepts.
constexpr size_t kDefaultAddressSpaceLimit = size_t{4} << 30;

// Lowers RLIMIT_AS (soft and hard) to `bytes`, or leaves a lower existing
// limit alone. Under AddressSanitizer, whose shadow memory alone reserves far
// more address space than any limit would allow, it does nothing and
// succeeds. Returns false when the kernel refuses. Writes nothing anywhere.
bool LimitAddressSpace(size_t bytes = kDefaultAddressSpaceLimit);
