#include "platform/kernel/signal_stack.h"

#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>

#include <new>

namespace {

// Big enough for the crash filter and _exit after the thread's own stack
// overflowed. Each thread's lives in its thread-local storage, so it is made
// and freed with the thread and no allocation can fail on the way.
constexpr size_t kSignalStackBytes = 64 * 1024;
alignas(16) thread_local char signal_stack[kSignalStackBytes];
thread_local bool has_signal_stack = false;

struct ThreadStart {
  void* (*body)(void*);
  void* argument;
};

void* StartWithSignalStack(void* start) {
  const ThreadStart begin = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  GiveThisThreadASignalStack();
  return begin.body(begin.argument);
}

using PthreadCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

// The C library's pthread_create, which the one below stands in front of.
PthreadCreate NextPthreadCreate() {
  static const auto next = reinterpret_cast<PthreadCreate>(dlsym(RTLD_NEXT, "pthread_create"));
  return next;
}

}  // namespace

void GiveThisThreadASignalStack() {
  if (has_signal_stack) return;
  // A thread that has one already keeps it: whoever set it up (a sanitizer's
  // runtime, for one) frees it at the thread's end and would free ours
  // instead.
  stack_t current{};
  if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) {
    has_signal_stack = true;
    return;
  }
  stack_t stack{};
  stack.ss_sp = signal_stack;
  stack.ss_size = sizeof signal_stack;
  has_signal_stack = sigaltstack(&stack, nullptr) == 0;
}

// Every thread of the process is started here, the decoder threads inside
// FFmpeg included: the executable's definition comes before the C library's
// for every library the process loads.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*body)(void*),
                              void* argument) {
  const PthreadCreate next = NextPthreadCreate();
  if (!next) return EAGAIN;
  auto* start = new (std::nothrow) ThreadStart{body, argument};
  if (!start) return EAGAIN;
  const int error = next(thread, attributes, StartWithSignalStack, start);
  if (error != 0) delete start;
  return error;
}
