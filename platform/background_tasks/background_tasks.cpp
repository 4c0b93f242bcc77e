#include "platform/background_tasks/background_tasks.h"

namespace platform {

std::shared_ptr<BackgroundTaskService> BackgroundTaskService::shared() {
  static const auto service = std::make_shared<BackgroundTaskService>();
  return service;
}

BackgroundTaskIdentifier BackgroundTaskService::beginBackgroundTask(std::string name,
                                                                    std::function<void()> expirationHandler) {
  std::lock_guard lock(mutex_);
  const BackgroundTaskIdentifier identifier = next_++;
  ++countsByName_[name].begun;
  active_.emplace(identifier, Task{std::move(name), std::move(expirationHandler)});
  return identifier;
}

void BackgroundTaskService::endBackgroundTask(BackgroundTaskIdentifier identifier) {
  std::lock_guard lock(mutex_);
  auto found = active_.find(identifier);
  if (found == active_.end()) return;
  ++countsByName_[found->second.name].ended;
  active_.erase(found);
}

std::vector<std::string> BackgroundTaskService::activeTaskNames() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& [identifier, task] : active_) names.push_back(task.name);
  return names;
}

BackgroundTaskService::Counts BackgroundTaskService::counts() const {
  std::lock_guard lock(mutex_);
  Counts total;
  for (const auto& [name, counts] : countsByName_) {
    total.begun += counts.begun;
    total.ended += counts.ended;
    total.expired += counts.expired;
  }
  return total;
}

BackgroundTaskService::Counts BackgroundTaskService::counts(const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto found = countsByName_.find(name);
  return found == countsByName_.end() ? Counts{} : found->second;
}

void BackgroundTaskService::expireAll() {
  std::vector<std::function<void()>> handlers;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [identifier, task] : active_) {
      ++countsByName_[task.name].expired;
      handlers.push_back(task.expirationHandler);
    }
  }
  for (const auto& handler : handlers) {
    if (handler) handler();
  }
}

}  // namespace platform
