// NotificationCenter: named broadcasts within the process.
//
// Observers register a block for a name (or for every name with an empty name) and get a
// token to remove it. `post` delivers synchronously on the posting thread, to the observers
// registered when it starts, in registration order. A block may post, add or remove
// observers; once `removeObserver` returns, no new call of the removed block starts (a call
// already running on another thread is not waited for). Safe to use from any thread.
//
// `defaultCenter()` is the process-wide centre; a component may make a private one.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/plist.h"

namespace platform {

struct Notification {
  std::string name;
  std::any object;  // the sender, when it gives one
  PlistValue::Dictionary userInfo;
};

class NotificationCenter {
 public:
  using ObserverToken = uint64_t;
  using Handler = std::function<void(const Notification&)>;

  NotificationCenter() = default;
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  static NotificationCenter& defaultCenter();

  ObserverToken addObserver(std::string name, Handler handler);
  void removeObserver(ObserverToken token);

  void post(const Notification& notification);
  void post(std::string name, std::any object = {}, PlistValue::Dictionary userInfo = {});

 private:
  struct Observer;
  std::mutex mutex_;
  std::vector<std::shared_ptr<Observer>> observers_;
  ObserverToken nextToken_ = 1;
};

}  // namespace platform
