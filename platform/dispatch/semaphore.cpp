#include "platform/dispatch/semaphore.h"

#include <algorithm>

namespace platform {

namespace {
// Longer waits are cut to this, so that "now + timeout" cannot overflow.
constexpr Duration kLongestWait = std::chrono::hours(24 * 365 * 100);
}  // namespace

DispatchSemaphore::DispatchSemaphore(long value) : value_(value) {}

bool DispatchSemaphore::signal() {
  std::lock_guard lock(mutex_);
  ++value_;
  const bool woke = waiters_ > 0;
  cv_.notify_one();
  return woke;
}

void DispatchSemaphore::wait() {
  std::unique_lock lock(mutex_);
  ++waiters_;
  cv_.wait(lock, [&] { return value_ > 0; });
  --waiters_;
  --value_;
}

bool DispatchSemaphore::wait(Duration timeout) {
  std::unique_lock lock(mutex_);
  ++waiters_;
  const bool got = cv_.wait_for(lock, std::clamp(timeout, Duration::zero(), kLongestWait), [&] { return value_ > 0; });
  --waiters_;
  if (got) --value_;
  return got;
}

}  // namespace platform
