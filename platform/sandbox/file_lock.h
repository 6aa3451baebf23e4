// The lock a parent asks for once it hands every file over: from then on the
// server cannot open a file, whatever a demuxer, a library or a crafted file
// tries. Two layers, so that either alone suffices: a seccomp rule on the
// calls that open, and a Landlock domain that grants no file-system right.
#pragma once

#include "platform/kernel/handed_file.h"

// Adds, for every thread of the process, a seccomp rule under which open,
// openat, openat2 and creat fail with EACCES: a library that tries gets an
// error it handles, rather than a crash in the middle of a request. execve
// and socket fail with EACCES as well where the server's sandbox does not
// already trap them. Then, with `landlock`, enters a Landlock domain (ABI 1
// or later) that handles every file-system right and grants none; it binds
// the calling thread and the threads it starts from then on, which are the
// ones that decode. Returns what took: locked false when the seccomp rule
// could not be added (the process is then as it was), landlockAbi 0 when
// the kernel has no Landlock or `landlock` is false.
LockResult LockFiles(bool landlock);
