// Time sources for the whole program, and the virtual clock that tests drive.
//
// Everything that schedules work for later (asyncAfter, DispatchTimer, the promise
// library's delay/timeout/retry) reads Clock::monotonicNow(). While a VirtualClock is
// alive, both now() functions answer virtual time and no timer fires on its own: time
// moves only when the test calls VirtualClock::advance(), which fires every timer due by
// then, in deadline order. Blocking waits with a timeout (DispatchGroup::wait,
// DispatchSemaphore::wait, MainLoop::runUntil) always measure real time, so a test can
// never hang on a virtual clock that nobody advances.
//
// Thread-safe: the now() functions may be called from any thread.
#pragma once

#include <chrono>
#include <optional>

namespace platform {

// The duration type every dispatch call takes. Any std::chrono duration of whole units
// (seconds, milliseconds, ...) converts to it implicitly.
using Duration = std::chrono::nanoseconds;

// A fractional number of seconds as a Duration, truncated to whole nanoseconds.
// Negative and NaN inputs give zero.
Duration secondsToDuration(double seconds);

class Clock {
 public:
  // Monotonic time for deadlines; virtual while a VirtualClock exists.
  static std::chrono::steady_clock::time_point monotonicNow();
  // Calendar time; virtual while a VirtualClock exists.
  static std::chrono::system_clock::time_point wallNow();
  // Whether a VirtualClock is active.
  static bool isVirtual();
};

// RAII virtual time for tests. At most one may exist at a time (a second one throws
// std::logic_error). It starts at the real monotonic time of its creation and at the
// given wall time (or the real wall time). When it is destroyed, timers still pending
// keep their remaining virtual delay and continue on real time.
//
// Blocks that due timers post to the main queue are only enqueued by advance(): pump
// them with MainLoop::drain() or MainLoop::runUntil(). Blocks for other queues run on
// the pool threads as usual; wait for their effect with a group or semaphore.
class VirtualClock {
 public:
  explicit VirtualClock(std::optional<std::chrono::system_clock::time_point> wallStart = std::nullopt);
  ~VirtualClock();
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;

  // Moves both clocks forward by `by` (negative values are ignored), firing every timer
  // due by the new time in deadline order; while each fires, now() reads its deadline.
  void advance(Duration by);

  std::chrono::steady_clock::time_point monotonicNow() const;
  std::chrono::system_clock::time_point wallNow() const;
};

}  // namespace platform
