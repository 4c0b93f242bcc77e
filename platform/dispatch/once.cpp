#include "platform/dispatch/once.h"

namespace platform {

void OnceFlag::call(const Block& block) {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [&] { return !running_; });
  if (done_) return;
  running_ = true;
  lock.unlock();
  try {
    if (block) block();
  } catch (...) {
    lock.lock();
    running_ = false;
    cv_.notify_all();
    throw;
  }
  lock.lock();
  running_ = false;
  done_ = true;
  cv_.notify_all();
}

void OnceFlag::reset() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [&] { return !running_; });
  done_ = false;
}

bool OnceFlag::done() const {
  std::lock_guard lock(mutex_);
  return done_;
}

}  // namespace platform
