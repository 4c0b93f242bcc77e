// A bounded watch for the next block of a chain of hops, kept by a thread that has just run
// one (a pool worker, or the thread pumping the main loop) before it sleeps.
//
// Waking a sleeping thread costs a futex call on each side and, on a busy machine, tens of
// microseconds before it runs; the next block of a chain usually arrives well within
// kHandOffWatch, and a watching thread takes it at once. The watch spins for its first
// microseconds, then offers its core to whatever else is runnable between looks, and ends
// after kHandOffWatch: a thread only watches after it has run something, so an idle one
// burns nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>

namespace platform::internal {

inline constexpr std::chrono::microseconds kHandOffWatch{50};

// Returns once `queued` is non-zero (true) or kHandOffWatch has passed (false). Safe to
// call without any lock; the caller looks at its queue under its lock afterwards.
bool watchForHandOff(const std::atomic<std::size_t>& queued);

}  // namespace platform::internal
