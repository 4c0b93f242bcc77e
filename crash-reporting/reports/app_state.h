// The app-state managers of crash reporting.
//
// CRNotificationManager keeps three internal keys of the current report current from the
// application's lifecycle notifications on the default centre:
//   "dod.uzeruzaravi.in-background"       "0" at start-up, then 0 in the foreground, 1 in the background
//   "dod.uzeruzaravi.device-orientation"  the device orientation number
//   "dod.uzeruzaravi.ui-orientation"      the interface orientation number
// The program has no device orientation: both readers answer 0 unless a test or the app
// hands in others. Handlers run on the posting thread and queue their writes.
//
// CRAnalyticsManager bridges to an analytics component for breadcrumbs and crash-free
// statistics. The program ships none, so it only says so in the console.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/plist.h"

inline constexpr const char* kCRDeviceOrientationDidChangeNotification = "UIDeviceOrientationDidChangeNotification";
inline constexpr const char* kCRStatusBarOrientationDidChangeNotification =
    "UIApplicationDidChangeStatusBarOrientationNotification";

class CRNotificationManager {
 public:
  using OrientationReader = std::function<int64_t()>;

  explicit CRNotificationManager(OrientationReader deviceOrientation = {}, OrientationReader interfaceOrientation = {});
  // Stops observing.
  ~CRNotificationManager();
  CRNotificationManager(const CRNotificationManager&) = delete;
  CRNotificationManager& operator=(const CRNotificationManager&) = delete;

  // Writes the initial keys, then observes the four notifications (once).
  void registerNotificationListener();
  void captureInitialNotificationStates();
  void willBecomeActive();
  void didBecomeInactive();
  void didChangeOrientation();
  void didChangeUIOrientation();

 private:
  int64_t deviceOrientation() const;
  int64_t interfaceOrientation() const;

  OrientationReader deviceOrientation_;
  OrientationReader interfaceOrientation_;
  std::vector<uint64_t> observers_;
};

class CRAnalyticsManager;

// What crash reporting asks of an analytics component.
class CRAnalyticsInterop {
 public:
  virtual ~CRAnalyticsInterop() = default;
  virtual void registerAnalyticsListener(CRAnalyticsManager* listener, const std::string& origin) = 0;
  virtual void logEvent(const std::string& origin, const std::string& name,
                        const platform::PlistValue::Dictionary& parameters) = 0;
};

class CRAnalyticsManager {
 public:
  explicit CRAnalyticsManager(std::shared_ptr<CRAnalyticsInterop> analytics) : analytics_(std::move(analytics)) {}

  const std::shared_ptr<CRAnalyticsInterop>& analytics() const { return analytics_; }
  bool registeredAnalyticsEventListener() const { return registeredAnalyticsEventListener_; }

  void registerAnalyticsListener();
  // An analytics event: written to the log as "$A$:" and its JSON.
  void messageTriggered(const std::string& name, const platform::PlistValue::Dictionary& parameters);
  // Tells the analytics component of a crash found at `seconds` since 1970.
  static void logCrashWithTimeStamp(double seconds, const std::shared_ptr<CRAnalyticsInterop>& analytics);

 private:
  std::shared_ptr<CRAnalyticsInterop> analytics_;
  bool registeredAnalyticsEventListener_ = false;
};

// The event's JSON text, or nullopt for a value that JSON cannot hold (data, dates, nulls).
std::optional<std::string> CRAnalyticsEventDictionaryToJSON(const std::optional<platform::PlistValue::Dictionary>& event);
