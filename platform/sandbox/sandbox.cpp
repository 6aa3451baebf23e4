#include "platform/sandbox/sandbox.h"

#include <fcntl.h>
#include <linux/sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <cerrno>
#include <initializer_list>
#include <memory>

namespace {

struct FilterRelease {
  void operator()(void* filter) const { seccomp_release(filter); }
};
using Filter = std::unique_ptr<void, FilterRelease>;

// Calls allowed whatever their arguments: reading (files, pipes, folders),
// writing to descriptors already open (the reply pipe, the event), memory,
// threads and their synchronisation, signals of the process itself, time and
// harmless questions about the process. open and openat are allowed below
// for reading only; clone for threads only.
constexpr int kAllowed[] = {
    // Descriptors already open.
    SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(preadv), SCMP_SYS(write),
    SCMP_SYS(writev), SCMP_SYS(lseek), SCMP_SYS(close), SCMP_SYS(fcntl), SCMP_SYS(poll),
    SCMP_SYS(ppoll), SCMP_SYS(select), SCMP_SYS(pselect6),
    // The parent hands files over as messages on a socket it gave us.
    SCMP_SYS(recvmsg),
    // An anonymous pipe reaches no file; AddressSanitizer probes memory with one.
    SCMP_SYS(pipe2),
    // Looking at files and folders.
    SCMP_SYS(fstat), SCMP_SYS(stat), SCMP_SYS(lstat), SCMP_SYS(newfstatat), SCMP_SYS(statx),
    SCMP_SYS(access), SCMP_SYS(faccessat), SCMP_SYS(faccessat2), SCMP_SYS(readlink),
    SCMP_SYS(readlinkat), SCMP_SYS(getdents64), SCMP_SYS(getcwd),
    // Memory.
    SCMP_SYS(brk), SCMP_SYS(mmap), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(mprotect),
    SCMP_SYS(madvise),
    // Threads: start, synchronisation, end.
    SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(get_robust_list), SCMP_SYS(rseq),
    SCMP_SYS(set_tid_address), SCMP_SYS(sched_yield), SCMP_SYS(sched_getaffinity),
    SCMP_SYS(exit), SCMP_SYS(exit_group),
    // Signals: handlers, masks, the alternate stack of the crash filter.
    SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn),
    SCMP_SYS(sigaltstack), SCMP_SYS(restart_syscall),
    // Time.
    SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres), SCMP_SYS(gettimeofday), SCMP_SYS(time),
    SCMP_SYS(nanosleep), SCMP_SYS(clock_nanosleep),
    // Questions: who am I, how many processors and pages (glibc's qsort asks
    // sysinfo), random bytes.
    SCMP_SYS(getpid), SCMP_SYS(gettid), SCMP_SYS(getppid), SCMP_SYS(getuid), SCMP_SYS(geteuid),
    SCMP_SYS(getgid), SCMP_SYS(getegid), SCMP_SYS(uname), SCMP_SYS(sysinfo), SCMP_SYS(getrlimit),
    SCMP_SYS(getrandom),
    // The lock a parent may ask for later (file_lock.cpp): a further seccomp
    // filter and a Landlock domain. Each only takes rights away.
    SCMP_SYS(seccomp), SCMP_SYS(landlock_create_ruleset), SCMP_SYS(landlock_restrict_self),
};

// The ioctl requests the pipes need (bytes waiting) and the harmless ones
// that libraries ask of any descriptor (is it a terminal, blocking mode).
constexpr unsigned long kAllowedIoctls[] = {FIONREAD, TCGETS, TIOCGWINSZ, FIONBIO, FIOCLEX};

// Thread naming by decoder libraries, the dumpable question the
// sanitizers ask at thread start, and no-new-privileges, which the lock
// sets again before it adds its filter; nothing else of prctl.
constexpr int kAllowedPrctls[] = {PR_SET_NAME, PR_GET_NAME, PR_GET_DUMPABLE, PR_SET_NO_NEW_PRIVS};

// Open flags that write to or create a file. O_TMPFILE needs a write access
// mode, so the access mode bits cover it.
constexpr scmp_datum_t kWritingOpenFlags = O_ACCMODE | O_CREAT | O_TRUNC;

bool Add(const Filter& filter, uint32_t action, int call, std::initializer_list<scmp_arg_cmp> conditions = {}) {
  return seccomp_rule_add_array(filter.get(), action, call, static_cast<unsigned>(conditions.size()),
                                conditions.size() ? conditions.begin() : nullptr) == 0;
}

bool AddRules(const Filter& filter) {
  for (int call : kAllowed)
    if (!Add(filter, SCMP_ACT_ALLOW, call)) return false;

  const scmp_datum_t self = static_cast<scmp_datum_t>(::getpid());
  bool ok = Add(filter, SCMP_ACT_ALLOW, SCMP_SYS(openat), {SCMP_A2(SCMP_CMP_MASKED_EQ, kWritingOpenFlags, 0)}) &&
            Add(filter, SCMP_ACT_ALLOW, SCMP_SYS(open), {SCMP_A1(SCMP_CMP_MASKED_EQ, kWritingOpenFlags, 0)}) &&
            // Threads share the process (and this filter); a clone without
            // CLONE_THREAD would be a new process.
            Add(filter, SCMP_ACT_ALLOW, SCMP_SYS(clone), {SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)}) &&
            // clone3 and openat2 pass their flags in memory, out of the
            // filter's sight: "not implemented" makes glibc fall back to clone
            // and openat, which the filter can judge.
            Add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3)) &&
            Add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(openat2)) &&
            // raise() and abort() signal the process itself; no other one.
            Add(filter, SCMP_ACT_ALLOW, SCMP_SYS(tgkill), {SCMP_A0(SCMP_CMP_EQ, self)}) &&
            Add(filter, SCMP_ACT_ALLOW, SCMP_SYS(kill), {SCMP_A0(SCMP_CMP_EQ, self)}) &&
            // Reading limits (pthread_create reads the stack limit); never
            // setting them, so the address-space ceiling stays.
            Add(filter, SCMP_ACT_ALLOW, SCMP_SYS(prlimit64),
                {SCMP_A0(SCMP_CMP_EQ, 0), SCMP_A2(SCMP_CMP_EQ, 0)});
  if (!ok) return false;
  for (unsigned long request : kAllowedIoctls)
    if (!Add(filter, SCMP_ACT_ALLOW, SCMP_SYS(ioctl), {SCMP_A1(SCMP_CMP_EQ, request)})) return false;
  for (int option : kAllowedPrctls)
    if (!Add(filter, SCMP_ACT_ALLOW, SCMP_SYS(prctl), {SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(option))}))
      return false;
  return true;
}

// LeakSanitizer's end-of-process check stops the world with a new process
// and ptrace, both refused once the filter is in, and would kill the process
// with SIGSYS on its way out. Check now instead, while it still can; the
// check at the end is then skipped.
void CheckLeaksWhileTheWorldCanStop() {
#if defined(__SANITIZE_ADDRESS__)
  __lsan_do_leak_check();
#endif
}

}  // namespace

bool InstallSandbox() {
  // Everything not allowed traps: SIGSYS reaches the crash filter.
  Filter filter(seccomp_init(SCMP_ACT_TRAP));
  if (!filter) return false;
  // The watchdog and any thread started before now are confined as well. A
  // call made in another architecture's numbering (int 0x80) is refused like
  // any other.
  if (seccomp_attr_set(filter.get(), SCMP_FLTATR_CTL_TSYNC, 1) != 0 ||
      seccomp_attr_set(filter.get(), SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_TRAP) != 0)
    return false;
  if (!AddRules(filter)) return false;
  CheckLeaksWhileTheWorldCanStop();
  return seccomp_load(filter.get()) == 0;
}
