#include "platform/reachability/reachability.h"

namespace platform {

std::shared_ptr<PollingReachability> PollingReachability::make(Reader reader, Duration interval) {
  return std::make_shared<PollingReachability>(std::move(reader), interval);
}

PollingReachability::PollingReachability(Reader reader, Duration interval)
    : reader_(std::move(reader)), interval_(interval) {}

PollingReachability::~PollingReachability() {
  std::lock_guard lock(mutex_);
  if (timer_) timer_->cancel();
}

std::optional<uint32_t> PollingReachability::getFlags() { return reader_ ? reader_() : std::nullopt; }

bool PollingReachability::setCallback(Callback callback, std::shared_ptr<DispatchQueue> queue) {
  if (!queue) return false;
  const std::optional<uint32_t> start = getFlags();
  std::lock_guard lock(mutex_);
  last_ = start;
  callback_ = std::move(callback);
  queue_ = queue;
  if (timer_) timer_->cancel();
  timer_ = DispatchTimer::make(queue);
  std::weak_ptr<PollingReachability> weak = weak_from_this();
  timer_->setEventHandler([weak] {
    if (auto self = weak.lock()) self->poll();
  });
  timer_->schedule(interval_, interval_, interval_ / 10);
  timer_->resume();
  return true;
}

void PollingReachability::poll() {
  const std::optional<uint32_t> flags = getFlags();
  Callback callback;
  {
    std::lock_guard lock(mutex_);
    if (!flags || flags == last_) return;
    last_ = flags;
    callback = callback_;
  }
  if (callback) callback(*flags);
}

std::optional<uint32_t> FakeReachability::getFlags() {
  std::lock_guard lock(mutex_);
  return flags_;
}

bool FakeReachability::setCallback(Callback callback, std::shared_ptr<DispatchQueue> queue) {
  std::lock_guard lock(mutex_);
  if (refusesCallback_ || !queue) return false;
  callback_ = std::move(callback);
  queue_ = std::move(queue);
  return true;
}

void FakeReachability::setFlags(std::optional<uint32_t> flags) {
  std::lock_guard lock(mutex_);
  flags_ = flags;
}

void FakeReachability::deliver(uint32_t flags) {
  std::lock_guard lock(mutex_);
  if (!callback_ || !queue_) return;
  queue_->async([callback = callback_, flags] { callback(flags); });
}

void FakeReachability::setRefusesCallback(bool refuses) {
  std::lock_guard lock(mutex_);
  refusesCallback_ = refuses;
}

}  // namespace platform
