// The address-space ceiling: a huge allocation fails as a value instead of
// taking the machine's memory, and the ceiling cannot be lifted afterwards.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdlib>

#include "platform/gdi/bitmap.h"
#include "platform/sandbox/address_space_limit.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

constexpr size_t kLimit = size_t{512} << 20;

// Runs in a death-test child, so the test process keeps its own limits.
int AllocateUnderTheCeiling() {
  if (!LimitAddressSpace(kLimit)) return 1;
  if (std::malloc(size_t{1} << 30) != nullptr) return 2;
  // The largest picture the bitmap stand-in accepts: refused for lack of
  // memory, not a crash.
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 16384;
  info.bmiHeader.biHeight = 16384;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = reinterpret_cast<void*>(1);
  if (CreateDIBSection(nullptr, &info, 0, &bits, nullptr, 0) != nullptr || bits != nullptr) return 3;
  // Small allocations still work.
  void* small = std::malloc(1 << 20);
  if (!small) return 4;
  std::free(small);
  rlimit raised{RLIM_INFINITY, RLIM_INFINITY};
  if (setrlimit(RLIMIT_AS, &raised) == 0) return 5;
  return 0;
}

// A limit set lower beforehand is kept.
int KeepALowerLimit() {
  rlimit lower{kLimit / 2, kLimit / 2};
  if (setrlimit(RLIMIT_AS, &lower) != 0) return 1;
  if (!LimitAddressSpace(kLimit)) return 2;
  rlimit now{};
  getrlimit(RLIMIT_AS, &now);
  return now.rlim_cur == kLimit / 2 && now.rlim_max == kLimit / 2 ? 0 : 3;
}

TEST(AddressSpaceLimitDeathTest, HugeAllocationsFailAndTheCeilingStays) {
  if (kAddressSanitizer) GTEST_SKIP() << "the ceiling is off under AddressSanitizer";
  EXPECT_EXIT(std::exit(AllocateUnderTheCeiling()), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(std::exit(KeepALowerLimit()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
