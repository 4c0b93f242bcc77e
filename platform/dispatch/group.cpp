#include "platform/dispatch/group.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace platform {

namespace {
// Longer waits are cut to this, so that "now + timeout" cannot overflow.
constexpr Duration kLongestWait = std::chrono::hours(24 * 365 * 100);
}  // namespace

// The count is an atomic, so entering and leaving a busy group takes no lock; the lock only
// guards the notifications and the waiters, and is taken when the count reaches zero.
struct DispatchGroup::State {
  std::atomic<long> count{0};
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::pair<std::shared_ptr<DispatchQueue>, Block>> notifications;
};

DispatchGroup::DispatchGroup() : state_(std::make_shared<State>()) {}

void DispatchGroup::enter() { state_->count.fetch_add(1, std::memory_order_relaxed); }

void DispatchGroup::leave() {
  long before = state_->count.fetch_sub(1, std::memory_order_acq_rel);
  if (before <= 0) {
    state_->count.fetch_add(1, std::memory_order_relaxed);
    throw std::logic_error("DispatchGroup::leave() without a matching enter()");
  }
  if (before > 1) return;
  std::vector<std::pair<std::shared_ptr<DispatchQueue>, Block>> ready;
  {
    // Taken after the count reached zero: a waiter that saw it above zero is already
    // waiting, and a notification added before is taken here.
    std::lock_guard lock(state_->mutex);
    ready.swap(state_->notifications);
    state_->cv.notify_all();
  }
  for (auto& [queue, block] : ready) queue->async(std::move(block));
}

void DispatchGroup::async(const std::shared_ptr<DispatchQueue>& queue, Block block) {
  enter();
  DispatchGroup self = *this;
  queue->async([self, block = std::move(block)]() mutable {
    struct Leave {
      DispatchGroup& group;
      ~Leave() { group.leave(); }
    } leave{self};
    block();
  });
}

bool DispatchGroup::wait(Duration timeout) const {
  if (state_->count.load(std::memory_order_acquire) == 0) return true;
  std::unique_lock lock(state_->mutex);
  return state_->cv.wait_for(lock, std::clamp(timeout, Duration::zero(), kLongestWait),
                             [&] { return state_->count.load(std::memory_order_acquire) == 0; });
}

void DispatchGroup::wait() const {
  if (state_->count.load(std::memory_order_acquire) == 0) return;
  std::unique_lock lock(state_->mutex);
  state_->cv.wait(lock, [&] { return state_->count.load(std::memory_order_acquire) == 0; });
}

void DispatchGroup::notify(const std::shared_ptr<DispatchQueue>& queue, Block block) const {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->count.load(std::memory_order_acquire) > 0) {
      state_->notifications.emplace_back(queue, std::move(block));
      return;
    }
  }
  queue->async(std::move(block));
}

long DispatchGroup::count() const { return state_->count.load(std::memory_order_acquire); }

}  // namespace platform
