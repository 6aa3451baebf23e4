#include "platform/sandbox/file_lock.h"

#include <linux/landlock.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace {

struct FilterRelease {
  void operator()(void* filter) const { seccomp_release(filter); }
};
using Filter = std::unique_ptr<void, FilterRelease>;

constexpr int kDenied[] = {SCMP_SYS(open), SCMP_SYS(openat), SCMP_SYS(openat2), SCMP_SYS(creat),
                           SCMP_SYS(execve), SCMP_SYS(execveat), SCMP_SYS(socket)};

bool AddSeccompRule() {
  Filter filter(seccomp_init(SCMP_ACT_ALLOW));
  if (!filter || seccomp_attr_set(filter.get(), SCMP_FLTATR_CTL_TSYNC, 1) != 0) return false;
  for (int call : kDenied)
    if (seccomp_rule_add(filter.get(), SCMP_ACT_ERRNO(EACCES), call, 0) != 0) return false;
  return seccomp_load(filter.get()) == 0;
}

// Every file-system right of Landlock's first ABI, and the one the second
// added; later rights concern files already open or devices, and nothing
// can be opened under this domain.
constexpr __u64 kAbi1Rights =
    LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE |
    LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
    LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
    LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK |
    LANDLOCK_ACCESS_FS_MAKE_SYM;

// The ABI of the domain entered, 0 when the kernel has none or refused.
int EnterLandlockDomain() {
  const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  if (abi < 1) return 0;
  landlock_ruleset_attr attr{};
  attr.handled_access_fs = kAbi1Rights | (abi >= 2 ? LANDLOCK_ACCESS_FS_REFER : 0);
  const int ruleset = static_cast<int>(::syscall(SYS_landlock_create_ruleset, &attr, sizeof attr, 0));
  if (ruleset < 0) return 0;
  // The seccomp filter already set no-new-privileges; asked again in case.
  const bool entered = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                       ::syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
  ::close(ruleset);
  return entered ? static_cast<int>(abi) : 0;
}

}  // namespace

LockResult LockFiles(bool landlock) {
  LockResult result;
  result.locked = AddSeccompRule();
  if (result.locked && landlock) result.landlockAbi = EnterLandlockDomain();
  return result;
}
