#include "platform/foundation/notifications.h"

#include <algorithm>
#include <atomic>

namespace platform {

struct NotificationCenter::Observer {
  ObserverToken token;
  std::string name;
  Handler handler;
  std::atomic<bool> removed{false};
};

NotificationCenter& NotificationCenter::defaultCenter() {
  static auto* center = new NotificationCenter();
  return *center;
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(std::string name,
                                                                  Handler handler) {
  auto observer = std::make_shared<Observer>();
  observer->name = std::move(name);
  observer->handler = std::move(handler);
  std::lock_guard lock(mutex_);
  observer->token = nextToken_++;
  observers_.push_back(observer);
  return observer->token;
}

void NotificationCenter::removeObserver(ObserverToken token) {
  std::shared_ptr<Observer> removed;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(observers_.begin(), observers_.end(),
                           [token](const auto& observer) { return observer->token == token; });
    if (it == observers_.end()) return;
    removed = *it;
    observers_.erase(it);
  }
  removed->removed.store(true);
}

void NotificationCenter::post(const Notification& notification) {
  std::vector<std::shared_ptr<Observer>> targets;
  {
    std::lock_guard lock(mutex_);
    for (const auto& observer : observers_) {
      if (observer->name.empty() || observer->name == notification.name) {
        targets.push_back(observer);
      }
    }
  }
  for (const auto& observer : targets) {
    if (observer->removed.load()) continue;
    observer->handler(notification);
  }
}

void NotificationCenter::post(std::string name, std::any object,
                              PlistValue::Dictionary userInfo) {
  post(Notification{std::move(name), std::move(object), std::move(userInfo)});
}

}  // namespace platform
