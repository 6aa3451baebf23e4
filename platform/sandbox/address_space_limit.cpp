#include "platform/sandbox/address_space_limit.h"

#include <sys/resource.h>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

}  // namespace

bool LimitAddressSpace(size_t bytes) {
  if (kAddressSanitizer) return true;
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) != 0) return false;
  const rlim_t wanted = static_cast<rlim_t>(bytes);
  // The hard limit goes down too, so the process cannot raise it back later.
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted) return true;
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > wanted) limit.rlim_cur = wanted;
  limit.rlim_max = wanted;
  return ::setrlimit(RLIMIT_AS, &limit) == 0;
}
