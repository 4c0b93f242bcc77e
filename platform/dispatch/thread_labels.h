// Which queue each thread is running a block of, by kernel thread id, for crash reports.
// A fixed table of 512 entries: a thread claims an entry with a compare-and-swap of its id
// the first time it runs a block and keeps it; the label pointer is swapped in and out as
// blocks start and end. Readers (a crash handler) only load atomics, and must treat the label
// as memory that may be gone (it belongs to the queue).
#pragma once

#include <sys/types.h>

namespace platform {

// The calling thread's current queue label (null: none).
void ThreadLabelSetCurrent(const char* label);
// The label of `tid`, or null. Lock-free, allocation-free, async-signal-safe.
const char* ThreadLabelFor(pid_t tid);

// Called first by every thread the platform starts (pool workers, the pool's monitor, the
// timer thread, signal watchers, transfer threads), and before every block: gives the thread
// its alternate signal stack where the process's pthread_create has not (thread_start.h).
void ThreadEntered();

}  // namespace platform
