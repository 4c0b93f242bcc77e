// The application's background tasks and lifecycle notification names.
//
// On the phone platform an app asks for extra time to finish work (a write, an upload) when
// it may be suspended: beginBackgroundTask gives a task identifier and ending it says the
// work is done; when time runs out, the platform calls the task's expiration handler, which
// must end it. Nothing suspends this program, so a task is only recorded until it is ended;
// expireAll() calls the expiration handlers as the platform would.
//
// Identifiers count from 1; kInvalidBackgroundTask (0) means no task, which is what a
// process without an application (a plug-in) gets. Ending a task is idempotent: 0, an
// unknown or an already ended identifier does nothing.
//
// The lifecycle names are posted by the app shell on the default notification centre (the
// page being shown and hidden is the scene's phase) and observed by the SDK.
//
// Thread safety: every member may be called from any thread; expiration handlers run on the
// thread that calls expireAll(), outside the service's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

using BackgroundTaskIdentifier = long;
inline constexpr BackgroundTaskIdentifier kInvalidBackgroundTask = 0;

// Application and scene lifecycle notifications, by the platform's names.
inline constexpr const char* kApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification = "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* kApplicationWillTerminateNotification = "UIApplicationWillTerminateNotification";
inline constexpr const char* kSceneWillEnterForegroundNotification = "UISceneWillEnterForegroundNotification";
inline constexpr const char* kSceneWillDeactivateNotification = "UISceneWillDeactivateNotification";

class BackgroundTaskService {
 public:
  struct Counts {
    uint64_t begun = 0;
    uint64_t ended = 0;
    uint64_t expired = 0;  // expiration handlers called
  };

  BackgroundTaskService() = default;
  BackgroundTaskService(const BackgroundTaskService&) = delete;
  BackgroundTaskService& operator=(const BackgroundTaskService&) = delete;

  // The application's service; one per process.
  static std::shared_ptr<BackgroundTaskService> shared();

  // Begins a task; the handler (may be empty) is called if the task expires.
  BackgroundTaskIdentifier beginBackgroundTask(std::string name, std::function<void()> expirationHandler);
  void endBackgroundTask(BackgroundTaskIdentifier identifier);

  // Names of the tasks begun and not yet ended, in the order they were begun.
  std::vector<std::string> activeTaskNames() const;
  Counts counts() const;
  // Counts of the tasks of one name.
  Counts counts(const std::string& name) const;

  // Calls the expiration handler of every active task, in the order begun: what the platform
  // does when the time runs out, for a test to see the work wind down.
  void expireAll();

 private:
  struct Task {
    std::string name;
    std::function<void()> expirationHandler;
  };
  mutable std::mutex mutex_;
  BackgroundTaskIdentifier next_ = 1;
  std::map<BackgroundTaskIdentifier, Task> active_;
  std::map<std::string, Counts> countsByName_;
};

}  // namespace platform
