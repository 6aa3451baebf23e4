// Alternate signal stacks for every thread of the process. A stack overflow
// raises SIGSEGV on a thread whose own stack has no room left; only a thread
// with an alternate stack can run the crash filter then, and the kernel
// gives a new thread none. Every thread the process starts, by the platform
// or inside a library (FFmpeg's decoder threads), gets its own as it starts;
// the thread that was there first, main, is given one with this call.
#pragma once

// Gives the calling thread its alternate signal stack, once; later calls on
// the same thread change nothing, and neither does a call on a thread that
// has an alternate stack already.
void GiveThisThreadASignalStack();
