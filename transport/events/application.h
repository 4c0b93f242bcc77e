// ETApplication and ETLifecycle: the platform application as the transport sees it, and the
// fan-out of its lifecycle to the transport's parts.
//
// ETApplication begins and ends background tasks on the platform's BackgroundTaskService
// (none in an app extension: identifiers are then 0) and observes the platform's
// lifecycle notifications on the default centre: application did-enter-background,
// will-enter-foreground and will-terminate, scene will-enter-foreground (as foreground) and
// will-deactivate (as background). For each it sets isRunningInBackground and posts the
// transport's own name: "ETApplicationDidEnterBackgroundNotification",
// "ETApplicationWillEnterForegroundNotification" or "ETApplicationWillTerminateNotification".
//
// ETLifecycle observes those three names and, for each, calls in order the shared
// transformer, the upload coordinator and the registrar (which passes it to the uploaders
// and storages) when they respond to the operation. Both run on the thread that posts the
// platform notification (the main thread).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/notifications.h"
#include "transport/events/protocols.h"

inline constexpr const char* ETApplicationDidEnterBackgroundNotification = "ETApplicationDidEnterBackgroundNotification";
inline constexpr const char* ETApplicationWillEnterForegroundNotification = "ETApplicationWillEnterForegroundNotification";
inline constexpr const char* ETApplicationWillTerminateNotification = "ETApplicationWillTerminateNotification";

class ETApplication : public ETApplicationProtocol, public std::enable_shared_from_this<ETApplication> {
 public:
  // The platform application for background tasks, or none.
  using PlatformApplicationProvider = std::function<std::shared_ptr<platform::BackgroundTaskService>()>;

  // Start-up: logs the start-up line and creates the shared instance. Once per process.
  static void load();
  static std::shared_ptr<ETApplication> sharedApplication();

  // A new application observing the default centre. The provider defaults to
  // sharedApplicationForBackgroundTask().
  static std::shared_ptr<ETApplication> make(PlatformApplicationProvider provider = nullptr);
  ~ETApplication() override;

  ETBackgroundIdentifier beginBackgroundTaskWithName(const std::string& name,
                                                     std::function<void()> expirationHandler) override;
  void endBackgroundTask(ETBackgroundIdentifier identifier) override;
  bool isRunningInBackground() const override { return runningInBackground_.load(); }
  void setIsRunningInBackground(bool value) { runningInBackground_.store(value); }

  // YES when the main bundle's path ends with ".appex".
  static bool isAppExtension();
  // None in an app extension, otherwise the process's BackgroundTaskService.
  static std::shared_ptr<platform::BackgroundTaskService> sharedApplicationForBackgroundTask();

 private:
  ETApplication() = default;
  void observe();

  PlatformApplicationProvider provider_;
  std::atomic<bool> runningInBackground_{false};
  std::vector<platform::NotificationCenter::ObserverToken> tokens_;
};

class ETLifecycle : public std::enable_shared_from_this<ETLifecycle> {
 public:
  // Start-up: creates the shared instance, which starts observing. Once per process.
  static void load();
  static std::shared_ptr<ETLifecycle> sharedInstance();

  static std::shared_ptr<ETLifecycle> make();
  ~ETLifecycle();

 private:
  ETLifecycle() = default;
  void fanOut(ETLifecycleOperation operation);

  std::vector<platform::NotificationCenter::ObserverToken> tokens_;
};
