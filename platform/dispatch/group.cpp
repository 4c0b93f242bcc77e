#include "platform/dispatch/group.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace platform {

namespace {
// Longer waits are cut to this, so that "now + timeout" cannot overflow.
constexpr Duration kLongestWait = std::chrono::hours(24 * 365 * 100);
}  // namespace

struct DispatchGroup::State {
  std::mutex mutex;
  std::condition_variable cv;
  long count = 0;
  std::vector<std::pair<std::shared_ptr<DispatchQueue>, Block>> notifications;
};

DispatchGroup::DispatchGroup() : state_(std::make_shared<State>()) {}

void DispatchGroup::enter() {
  std::lock_guard lock(state_->mutex);
  ++state_->count;
}

void DispatchGroup::leave() {
  std::vector<std::pair<std::shared_ptr<DispatchQueue>, Block>> ready;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->count == 0) throw std::logic_error("DispatchGroup::leave() without a matching enter()");
    if (--state_->count > 0) return;
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
  std::unique_lock lock(state_->mutex);
  return state_->cv.wait_for(lock, std::clamp(timeout, Duration::zero(), kLongestWait),
                             [&] { return state_->count == 0; });
}

void DispatchGroup::wait() const {
  std::unique_lock lock(state_->mutex);
  state_->cv.wait(lock, [&] { return state_->count == 0; });
}

void DispatchGroup::notify(const std::shared_ptr<DispatchQueue>& queue, Block block) const {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->count > 0) {
      state_->notifications.emplace_back(queue, std::move(block));
      return;
    }
  }
  queue->async(std::move(block));
}

long DispatchGroup::count() const {
  std::lock_guard lock(state_->mutex);
  return state_->count;
}

}  // namespace platform
