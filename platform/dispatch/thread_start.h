// Every thread of the process has an alternate signal stack of its own from its start, so that
// a fatal signal on it, a stack overflow too, has a stack to be handled on.
//
// Every program of the project links a `pthread_create` of the platform's (thread_create.cpp,
// added to each executable by the top-level CMakeLists.txt) that wraps the start routine of
// every thread, whoever starts it (std::thread, the platform's pools and timers, libraries such
// as the HTTP client's resolver): the thread takes its stack before any of its code runs,
// whether or not crash reporting is set up yet, and gives it back when it ends (a few are kept
// for the next threads, the rest unmapped). Where that wrapper is not linked (a plug-in loaded
// by a foreign host), the platform's own threads take theirs at their entry (`ThreadEntered`).
#pragma once

#include <cstddef>

namespace platform {

// The usable size of a thread's alternate signal stack; an inaccessible guard page lies below.
inline constexpr size_t kThreadSignalStackSize = 65536;

// Gives the calling thread an alternate signal stack of its own unless it has one already (its
// own, or one the program or a sanitizer installed): one an ended thread gave back, or a new
// mapping with a guard page below it. Disabled when the thread ends and given back (a
// thread_local destructor; taken at the thread's start, it runs after those of the thread's
// own code). False when none could be made. Cheap once the thread has one: no system call.
bool EnsureThreadSignalStack();

}  // namespace platform
