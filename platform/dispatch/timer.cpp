#include "platform/dispatch/timer.h"

#include <algorithm>

#include "platform/dispatch/internal/scheduler.h"

namespace platform {

using internal::TimerScheduler;

namespace {
constexpr Duration kMaxDelay = std::chrono::hours(24 * 365 * 100);
}

std::shared_ptr<DispatchTimer> DispatchTimer::make(std::shared_ptr<DispatchQueue> queue) {
  if (!queue) throw std::invalid_argument("DispatchTimer needs a queue");
  return std::shared_ptr<DispatchTimer>(new DispatchTimer(std::move(queue)));
}

DispatchTimer::DispatchTimer(std::shared_ptr<DispatchQueue> queue) : queue_(std::move(queue)) {}

DispatchTimer::~DispatchTimer() {
  if (entry_ != 0) TimerScheduler::shared().cancel(entry_);
}

void DispatchTimer::setEventHandler(Block handler) {
  std::lock_guard lock(mutex_);
  handler_ = handler ? std::make_shared<Block>(std::move(handler)) : nullptr;
}

void DispatchTimer::setCancelHandler(Block handler) {
  std::lock_guard lock(mutex_);
  cancelHandler_ = std::move(handler);
}

void DispatchTimer::schedule(Duration start, Duration interval, Duration leeway) {
  std::lock_guard lock(mutex_);
  if (cancelled_) return;
  nextDeadline_ = TimerScheduler::shared().monotonicNow() + std::clamp(start, Duration::zero(), kMaxDelay);
  interval_ = std::clamp(interval, Duration::zero(), kMaxDelay);
  leeway_ = std::clamp(leeway, Duration::zero(), kMaxDelay);
  scheduled_ = true;
  if (resumed_) arm();
}

void DispatchTimer::resume() {
  std::lock_guard lock(mutex_);
  if (cancelled_ || resumed_) return;
  resumed_ = true;
  if (scheduled_) arm();
}

void DispatchTimer::suspend() {
  std::lock_guard lock(mutex_);
  if (!resumed_) return;
  resumed_ = false;
  ++epoch_;
  disarm();
}

void DispatchTimer::cancel() {
  Block cancelHandler;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
    ++epoch_;
    disarm();
    cancelHandler = std::move(cancelHandler_);
    handler_ = nullptr;
  }
  if (cancelHandler) queue_->async(std::move(cancelHandler));
}

bool DispatchTimer::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

std::uint64_t DispatchTimer::fireCount() const {
  std::lock_guard lock(mutex_);
  return fires_;
}

void DispatchTimer::arm() {
  disarm();
  const std::uint64_t generation = generation_;
  std::weak_ptr<DispatchTimer> weak = weak_from_this();
  entry_ = TimerScheduler::shared().schedule(nextDeadline_, leeway_, [weak, generation] {
    if (auto timer = weak.lock()) timer->fired(generation);
  });
}

void DispatchTimer::disarm() {
  ++generation_;
  if (entry_ != 0) {
    TimerScheduler::shared().cancel(entry_);
    entry_ = 0;
  }
}

void DispatchTimer::fired(std::uint64_t generation) {
  std::shared_ptr<Block> handler;
  std::uint64_t epoch;
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_ || cancelled_ || !resumed_) return;
    entry_ = 0;
    ++fires_;
    handler = handler_;
    epoch = epoch_;
    if (interval_ > Duration::zero()) {
      nextDeadline_ += interval_;
      // On real time a timer that fell behind skips the fires it missed.
      const auto now = TimerScheduler::shared().monotonicNow();
      if (nextDeadline_ <= now) nextDeadline_ = now + interval_;
      arm();
    } else {
      scheduled_ = false;
    }
  }
  if (!handler) return;
  std::weak_ptr<DispatchTimer> weak = weak_from_this();
  queue_->async([weak, epoch, handler] {
    auto timer = weak.lock();
    if (!timer) return;
    {
      std::lock_guard lock(timer->mutex_);
      if (timer->cancelled_ || timer->epoch_ != epoch) return;
    }
    (*handler)();
  });
}

}  // namespace platform
