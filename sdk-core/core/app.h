// TELApp: the SDK's app object.
//
// The host configures it once at launch with `TELApp::configure()`, which reads the options
// beside the program, builds the app with its component container and heartbeat logger,
// validates the app ID, creates the eager components of the registered libraries and posts
// "TELAppReadyToConfigureSDKNotification". Configuration faults raise a platform::Exception
// named "ruv.telemetry.core"; nothing inside the SDK catches them.
//
// The class also keeps the process-wide table of configured apps, the registered libraries
// and their user-agent tokens, and the per-app data-collection switch. `TELConfiguration` and
// `TELAnalyticsConfiguration` are the two small singletons beside it.
//
// Libraries register before the first configuration, from the SDK's start-up registration
// function (sdk/startup/startup.h), which the launch step runs.
//
// Threads: every registry operation takes the class's one recursive lock, so a component's
// creation block may call `defaultApp()` or `appNamed()` on the same thread. Each app observes
// "UIApplicationDidBecomeActiveNotification" on the default notification centre and logs a
// heartbeat on the posting thread when its data collection is on.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/notifications.h"
#include "sdk-core/core/component.h"
#include "sdk-core/core/library.h"
#include "sdk-core/core/options.h"
#include "sdk-core/heartbeat/heartbeat_controller.h"

class TELUserAgent;

inline constexpr const char* kTELDefaultAppName = "__TELAPP_DEFAULT";
inline constexpr const char* TELAppErrorDomain = "ruv.telemetry.core";
inline constexpr const char* kTELAppReadyToConfigureSDKNotification = "TELAppReadyToConfigureSDKNotification";
inline constexpr const char* kTELAppDeleteNotification = "TELAppDeleteNotification";
inline constexpr const char* kTELAppNameKey = "TELAppNameKey";
inline constexpr const char* kTELAppIsDefaultAppKey = "TELAppIsDefaultAppKey";
inline constexpr const char* kTELZidezaAppIDKey = "TELZidezaAppIDKey";
inline constexpr const char* kTELGlobalAppDataCollectionEnabledDefaultsKeyFormat =
    "/zideza/telemetry/global_data_collection_enabled:%s";
inline constexpr const char* kTELGlobalAppDataCollectionEnabledPlistKey = "TelemetryDataCollectionDefaultEnabled";
// Posted by the app shell each time the application becomes active.
inline constexpr const char* kTELApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";

class TELApp : public std::enable_shared_from_this<TELApp> {
 public:
  using AppDictionary = std::map<std::string, std::shared_ptr<TELApp>>;

  // ---- Configuration (raise platform::Exception "ruv.telemetry.core") ----
  // The default app from the options file beside the program.
  static void configure();
  static void configureWithOptions(const std::shared_ptr<TELOptions>& options);
  static void configureWithName(const std::optional<std::string>& name, const std::shared_ptr<TELOptions>& options);

  // ---- The app table ----
  // nullptr plus an error line when not configured.
  static std::shared_ptr<TELApp> defaultApp();
  static std::shared_ptr<TELApp> appNamed(const std::string& name);
  // A copy of the table; std::nullopt (and an error line) when no app was ever configured.
  static std::optional<AppDictionary> allApps();
  // Forgets every app and resets the user agent.
  static void resetApps();
  static bool isDefaultAppConfigured();

  // ---- Libraries and the user agent ----
  // Raises NSInvalidArgumentException for a null library.
  static void registerInternalLibrary(const std::shared_ptr<TELLibrary>& library, const std::string& name);
  static void registerInternalLibrary(const std::shared_ptr<TELLibrary>& library, const std::string& name,
                                      const std::string& version);
  // Records "name/version" when both hold only alphanumerics, "-", "_" and ".".
  static void registerLibrary(const std::string& name, const std::string& version);
  static std::shared_ptr<TELUserAgent> userAgent();
  static std::string telemetryUserAgent();

  static platform::Error errorForMissingOptions();
  static platform::Error errorForInvalidAppID();
  // Whether an app ID has a form the service accepts.
  static bool validateAppID(const std::optional<std::string>& appID);

  // ---- One app ----
  const std::string& name() const { return name_; }
  // A fresh (locked) copy of the app's options.
  std::shared_ptr<TELOptions> options() const { return options_->copy(); }
  bool isDefaultApp() const { return isDefaultApp_; }
  TELComponentContainer* container() const { return container_.get(); }
  std::shared_ptr<TELHeartbeatLogger> heartbeatLogger() const;

  // Stored per-app value, else the Info.plist value, else true.
  bool isDataCollectionDefaultEnabled() const;
  void setDataCollectionDefaultEnabled(bool enabled);

  // Removes the app from the table; the completion runs synchronously with the result.
  void deleteApp(const std::function<void(bool success)>& completion);

  ~TELApp();
  TELApp(const TELApp&) = delete;
  TELApp& operator=(const TELApp&) = delete;

 private:
  struct PrivateTag {};

 public:
  TELApp(PrivateTag, const std::string& name, const std::shared_ptr<TELOptions>& options);

 private:
  static std::shared_ptr<TELApp> initInstanceWithName(const std::string& name,
                                                      const std::shared_ptr<TELOptions>& options);
  static void appWasConfiguredTwice(const std::shared_ptr<TELApp>& app, const std::shared_ptr<TELOptions>& options);
  static void addAppToAppDictionary(const std::shared_ptr<TELApp>& app);
  static void registerSwiftComponents();
  static void sendNotificationsToSDKs(const std::shared_ptr<TELApp>& app);
  bool configureCore();
  void checkBundleID() const;
  std::string dataCollectionDefaultsKey() const;

  bool isDefaultApp_ = false;
  std::shared_ptr<TELOptions> options_;
  std::string name_;
  std::unique_ptr<TELComponentContainer> container_;
  mutable std::mutex heartbeatLoggerMutex_;
  std::shared_ptr<TELHeartbeatLogger> heartbeatLogger_;
  std::optional<platform::NotificationCenter::ObserverToken> didBecomeActiveObserver_;
};

class TELAnalyticsConfiguration {
 public:
  static std::shared_ptr<TELAnalyticsConfiguration> sharedInstance();
  // The same with persist true.
  void setAnalyticsCollectionEnabled(bool enabled);
  // Persisting stores 1 (on) or 2 (off) under "/zideza/measurement/measurement_enabled_state"
  // in the standard defaults; then posts "TELAnalyticsConfigurationSetEnabledNotification".
  void setAnalyticsCollectionEnabled(bool enabled, bool persistSetting);
  void postNotificationName(const std::string& name, const std::optional<platform::PlistValue>& value);
};

inline constexpr const char* kTELAnalyticsConfigurationSetEnabledNotification =
    "TELAnalyticsConfigurationSetEnabledNotification";
inline constexpr const char* kTELMeasurementEnabledStateKey = "/zideza/measurement/measurement_enabled_state";

class TELConfiguration {
 public:
  static std::shared_ptr<TELConfiguration> sharedInstance();
  const std::shared_ptr<TELAnalyticsConfiguration>& analyticsConfiguration() const { return analyticsConfiguration_; }
  // Levels 3 (error) to 7 (debug); any other level fails an assertion
  // (NSInternalInconsistencyException "Invalid logger level, <n>").
  void setLoggerLevel(long level);

  TELConfiguration() : analyticsConfiguration_(TELAnalyticsConfiguration::sharedInstance()) {}

 private:
  std::shared_ptr<TELAnalyticsConfiguration> analyticsConfiguration_;
};
