#include "platform/observation/observable.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace platform {

namespace {
struct AnyChangeObservers {
  std::mutex mutex;
  std::map<std::uint64_t, std::function<void()>> observers;
  std::uint64_t next = 1;
};
AnyChangeObservers& anyChangeObservers() {
  static AnyChangeObservers shared;
  return shared;
}
std::function<void()>& animationObserver() {
  static std::function<void()> observer;
  return observer;
}
void tellAnyChangeObservers();
}  // namespace

ChangeSignal::Token ChangeSignal::subscribe(std::function<void()> callback) {
  Token token = next_++;
  (*callbacks_)[token] = std::move(callback);
  return token;
}

void ChangeSignal::unsubscribe(Token token) { callbacks_->erase(token); }

void ChangeSignal::send() const {
  // Copy first: a callback may subscribe or unsubscribe.
  auto callbacks = *callbacks_;
  ++*sends_;
  for (auto& [token, callback] : callbacks) {
    if (callbacks_->count(token)) callback();
  }
  tellAnyChangeObservers();
}

namespace detail {
thread_local ObjectReads* currentObjectReads = nullptr;
}  // namespace detail

std::uint64_t addAnyChangeObserver(std::function<void()> observer) {
  auto& shared = anyChangeObservers();
  std::lock_guard lock(shared.mutex);
  std::uint64_t token = shared.next++;
  shared.observers[token] = std::move(observer);
  return token;
}

void removeAnyChangeObserver(std::uint64_t token) {
  auto& shared = anyChangeObservers();
  std::lock_guard lock(shared.mutex);
  shared.observers.erase(token);
}

namespace {
std::atomic<std::uint64_t> anyChanges{0};
}  // namespace

std::uint64_t anyChangeCount() { return anyChanges.load(); }

void notifyAnyChange() {
  ++anyChanges;
  tellAnyChangeObservers();
}

void notifyCacheDropped() { tellAnyChangeObservers(); }

namespace {
void tellAnyChangeObservers() {
  auto& shared = anyChangeObservers();
  std::vector<std::function<void()>> observers;
  {
    std::lock_guard lock(shared.mutex);
    for (auto& [token, observer] : shared.observers) observers.push_back(observer);
  }
  for (auto& observer : observers) observer();
}
}  // namespace

void withAnimation(const std::function<void()>& body) {
  if (auto& observer = animationObserver()) observer();
  body();
}

void setAnimationObserver(std::function<void()> observer) { animationObserver() = std::move(observer); }

}  // namespace platform
