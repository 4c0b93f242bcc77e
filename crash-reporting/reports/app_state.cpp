#include "crash-reporting/reports/app_state.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/reports/user_logging.h"
#include "platform/background_tasks/background_tasks.h"
#include "platform/foundation/notifications.h"

namespace {

constexpr const char* kInBackgroundKey = "dod.uzeruzaravi.in-background";
constexpr const char* kDeviceOrientationKey = "dod.uzeruzaravi.device-orientation";
constexpr const char* kUIOrientationKey = "dod.uzeruzaravi.ui-orientation";

std::optional<nlohmann::json> toJson(const platform::PlistValue& value) {
  using Kind = platform::PlistValue::Kind;
  switch (value.kind()) {
    case Kind::Boolean:
      return nlohmann::json(*value.asBool());
    case Kind::Integer:
      return nlohmann::json(*value.asInteger());
    case Kind::UnsignedInteger:
      return nlohmann::json(*value.asUnsignedInteger());
    case Kind::Real:
      if (!std::isfinite(*value.asReal())) return std::nullopt;
      return nlohmann::json(*value.asReal());
    case Kind::String:
      return nlohmann::json(*value.asString());
    case Kind::Array: {
      nlohmann::json array = nlohmann::json::array();
      for (const auto& element : *value.asArray()) {
        auto converted = toJson(element);
        if (!converted) return std::nullopt;
        array.push_back(std::move(*converted));
      }
      return array;
    }
    case Kind::Dictionary: {
      nlohmann::json object = nlohmann::json::object();
      for (const auto& [key, element] : *value.asDictionary()) {
        auto converted = toJson(element);
        if (!converted) return std::nullopt;
        object[key] = std::move(*converted);
      }
      return object;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace

CRNotificationManager::CRNotificationManager(OrientationReader deviceOrientation, OrientationReader interfaceOrientation)
    : deviceOrientation_(std::move(deviceOrientation)), interfaceOrientation_(std::move(interfaceOrientation)) {}

CRNotificationManager::~CRNotificationManager() {
  for (const auto token : observers_) platform::NotificationCenter::defaultCenter().removeObserver(token);
}

int64_t CRNotificationManager::deviceOrientation() const { return deviceOrientation_ ? deviceOrientation_() : 0; }
int64_t CRNotificationManager::interfaceOrientation() const {
  return interfaceOrientation_ ? interfaceOrientation_() : 0;
}

void CRNotificationManager::registerNotificationListener() {
  captureInitialNotificationStates();
  if (!observers_.empty()) return;
  auto& center = platform::NotificationCenter::defaultCenter();
  observers_.push_back(center.addObserver(platform::kApplicationWillEnterForegroundNotification,
                                           [this](const platform::Notification&) { willBecomeActive(); }));
  observers_.push_back(center.addObserver(platform::kApplicationDidEnterBackgroundNotification,
                                           [this](const platform::Notification&) { didBecomeInactive(); }));
  observers_.push_back(center.addObserver(kCRDeviceOrientationDidChangeNotification,
                                           [this](const platform::Notification&) { didChangeOrientation(); }));
  observers_.push_back(center.addObserver(kCRStatusBarOrientationDidChangeNotification,
                                           [this](const platform::Notification&) { didChangeUIOrientation(); }));
}

void CRNotificationManager::captureInitialNotificationStates() {
  const int64_t device = deviceOrientation();
  const int64_t interface = interfaceOrientation();
  CRUserLoggingRunOnQueueAsync([device, interface] {
    CRUserLoggingWriteInternalKeyValue(kInBackgroundKey, "0");
    CRUserLoggingWriteInternalKeyValue(kDeviceOrientationKey, std::to_string(device));
    CRUserLoggingWriteInternalKeyValue(kUIOrientationKey, std::to_string(interface));
  });
}

void CRNotificationManager::willBecomeActive() { CRRecordInternalKeyValue(kInBackgroundKey, "0"); }
void CRNotificationManager::didBecomeInactive() { CRRecordInternalKeyValue(kInBackgroundKey, "1"); }
void CRNotificationManager::didChangeOrientation() {
  CRRecordInternalKeyValue(kDeviceOrientationKey, std::to_string(deviceOrientation()));
}
void CRNotificationManager::didChangeUIOrientation() {
  CRRecordInternalKeyValue(kUIOrientationKey, std::to_string(interfaceOrientation()));
}

void CRAnalyticsManager::registerAnalyticsListener() {
  if (registeredAnalyticsEventListener_) return;
  if (!analytics_) {
    CRConsoleDebug("[Vuzirerered:Crash:Reports:Event] Telemetry Analytics SDK not detected. Crash-free statistics "
                   "and breadcrumbs will not be reported");
    return;
  }
  analytics_->registerAnalyticsListener(this, "clx");
  CRConsoleDebug("[Vuzirerered:Crash:Reports:Event] Registered Telemetry Analytics event listener to receive "
                 "breadcrumb logs");
  registeredAnalyticsEventListener_ = true;
}

void CRAnalyticsManager::messageTriggered(const std::string& name, const platform::PlistValue::Dictionary& parameters) {
  const auto text = CRAnalyticsEventDictionaryToJSON(
      platform::PlistValue::Dictionary{{"name", name}, {"parameters", parameters}});
  if (text) CRLog("$A$:%s", text->c_str());
}

void CRAnalyticsManager::logCrashWithTimeStamp(double seconds, const std::shared_ptr<CRAnalyticsInterop>& analytics) {
  if (!analytics) return;
  CRConsoleDebug("[Vuzirerered:Crash:Reports:Event] Sending app_exception event to Telemetry Analytics for "
                 "crash-free statistics");
  const auto milliseconds = static_cast<int64_t>(std::llround(seconds * 1000.0));
  analytics->logEvent("clx", "_ae", {{"timestamp", static_cast<long long>(milliseconds)}, {"fatal", 1}});
}

std::optional<std::string> CRAnalyticsEventDictionaryToJSON(const std::optional<platform::PlistValue::Dictionary>& event) {
  if (!event) return std::nullopt;
  const auto json = toJson(platform::PlistValue(*event));
  if (!json) {
    CRLogWarning("Telemetry Analytics event is not valid JSON");
    return std::nullopt;
  }
  try {
    return json->dump();
  } catch (const nlohmann::json::exception&) {
    CRLogWarning("Unable to convert Telemetry Analytics event to json");
    return std::nullopt;
  }
}
