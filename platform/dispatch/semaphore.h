// A counting semaphore with timed waits. Thread-safe.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/dispatch/clock.h"

namespace platform {

class DispatchSemaphore {
 public:
  explicit DispatchSemaphore(long value = 0);
  DispatchSemaphore(const DispatchSemaphore&) = delete;
  DispatchSemaphore& operator=(const DispatchSemaphore&) = delete;

  // Adds one to the count, waking one waiter. Returns whether a waiter was woken.
  bool signal();
  // Takes one from the count, waiting while it is zero.
  void wait();
  // As wait(), giving up after `timeout` of real time; returns whether it took one.
  bool wait(Duration timeout);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  long value_;
  long waiters_ = 0;
};

}  // namespace platform
