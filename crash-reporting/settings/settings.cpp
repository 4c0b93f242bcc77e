#include "crash-reporting/settings/settings.h"

#include <cmath>
#include <limits>

#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/settings/application_identifier_model.h"
#include "platform/foundation/date.h"
#include "sdk-core/utilities/json_nesting.h"

namespace {

// A whole number of seconds or bytes in 0 ... 2^32 - 1 (a fraction is dropped).
std::optional<uint32_t> unsigned32(const nlohmann::json* value) {
  if (value == nullptr || !value->is_number()) return std::nullopt;
  if (value->is_number_unsigned()) {
    const auto number = value->get<uint64_t>();
    if (number > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    return static_cast<uint32_t>(number);
  }
  if (value->is_number_integer()) {
    const auto number = value->get<int64_t>();
    if (number < 0 || number > static_cast<int64_t>(std::numeric_limits<uint32_t>::max())) return std::nullopt;
    return static_cast<uint32_t>(number);
  }
  const double number = value->get<double>();
  if (!std::isfinite(number) || number < 0 || number >= 4294967296.0) return std::nullopt;
  return static_cast<uint32_t>(number);
}

std::optional<double> nonNegativeDouble(const nlohmann::json* value) {
  if (value == nullptr || !value->is_number()) return std::nullopt;
  const double number = value->get<double>();
  if (!std::isfinite(number) || number < 0) return std::nullopt;
  return number;
}

std::optional<bool> boolean(const nlohmann::json* value) {
  if (value == nullptr) return std::nullopt;
  if (value->is_boolean()) return value->get<bool>();
  if (value->is_number()) return value->get<double>() != 0;
  return std::nullopt;
}

const nlohmann::json* member(const nlohmann::json* object, const char* key) {
  if (object == nullptr || !object->is_object()) return nullptr;
  const auto found = object->find(key);
  return found == object->end() ? nullptr : &*found;
}

std::optional<std::string> stringMember(const nlohmann::json& object, const char* key) {
  const nlohmann::json* value = member(&object, key);
  if (value == nullptr || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

std::optional<nlohmann::json> copyOf(const nlohmann::json* value) {
  if (value == nullptr) return std::nullopt;
  return *value;
}

}  // namespace

CRSettings::CRSettings(std::shared_ptr<const CRFileManager> fileManager,
                       std::shared_ptr<const CRApplicationIdentifierModel> appIDModel)
    : fileManager_(std::move(fileManager)), appIDModel_(std::move(appIDModel)) {}

double CRSettings::currentTimestamp() { return platform::Date::now().timeIntervalSinceReferenceDate; }

void CRSettings::withFilesLocked(const std::function<void()>& block) const {
  std::lock_guard guard(lock_);
  block();
}

std::shared_ptr<const nlohmann::json> CRSettings::document() const {
  std::lock_guard guard(lock_);
  return settingsDictionary_;
}

void CRSettings::expire() {
  std::lock_guard guard(lock_);
  isCacheKeyExpired_ = true;
}

bool CRSettings::isCacheKeyExpired() const {
  std::lock_guard guard(lock_);
  return isCacheKeyExpired_;
}

bool CRSettings::isCacheExpired() const {
  std::lock_guard guard(lock_);
  return !settingsDictionary_ || isCacheKeyExpired_;
}

std::optional<nlohmann::json> CRSettings::loadCacheKey() const {
  const auto bytes = fileManager_->dataWithContentsOfFile(fileManager_->settingsCacheKeyPath());
  if (!bytes || !UTLJSONNestingWithin(*bytes)) return std::nullopt;
  nlohmann::json key = nlohmann::json::parse(*bytes, nullptr, false);
  if (key.is_discarded()) return std::nullopt;
  return key;
}

void CRSettings::reloadFromCacheWithZidezaAppID(const std::string& zidezaAppID, double currentTimestamp) {
  std::lock_guard guard(lock_);
  const auto bytes = fileManager_->dataWithContentsOfFile(fileManager_->settingsFilePath());
  if (!bytes) {
    CRConsoleDebug("[Vuzirerered:Settings] No settings were cached");
    return;
  }

  std::string parseError;
  settingsDictionary_.reset();
  if (!UTLJSONNestingWithin(*bytes)) {
    parseError = "The settings document is nested too deep.";
  } else {
    try {
      auto parsed = nlohmann::json::parse(*bytes);
      if (parsed.is_object()) {
        settingsDictionary_ = std::make_shared<const nlohmann::json>(std::move(parsed));
      } else {
        parseError = "The settings document is not a JSON object.";
      }
    } catch (const nlohmann::json::exception& error) {
      parseError = error.what();
    }
  }
  if (!settingsDictionary_) {
    CRConsoleError("Could not load settings file data with error: %s", parseError.c_str());
    deleteCachedSettings();
    return;
  }

  const auto key = loadCacheKey();
  if (!key || !key->is_object()) {
    CRConsoleError("Could not load settings cache key");
    deleteCachedSettings();
    return;
  }
  if (stringMember(*key, "zideza_app_id") != zidezaAppID) {
    CRConsoleDebug("[Vuzirerered:Settings] Invalidating settings cache because Zideza App ID changed");
    deleteCachedSettings();
    return;
  }

  const std::optional<uint32_t> createdAt = unsigned32(member(&*key, "created_at"));
  if (!createdAt) {
    CRConsoleDebug("[Vuzirerered:Settings] Settings TTL expired");
    expire();
  } else if (static_cast<double>(uint64_t{*createdAt} + uint64_t{cacheDurationSeconds()}) < currentTimestamp) {
    CRConsoleDebug("[Vuzirerered:Settings] Settings TTL expired");
    expire();
  }
  if (stringMember(*key, "build_instance_id") != appIDModel_->buildInstanceID()) {
    CRConsoleDebug("[Vuzirerered:Settings] Settings expired because build instance changed");
    expire();
  }
  if (stringMember(*key, "app_version") != appIDModel_->synthesizedVersion()) {
    CRConsoleDebug("[Vuzirerered:Settings] Settings expired because app version changed");
    expire();
  }
}

void CRSettings::cacheSettingsWithZidezaAppID(const std::string& zidezaAppID, double currentTimestamp) {
  std::string bytes;
  try {
    const nlohmann::json key = {
        {"created_at", currentTimestamp},
        {"zideza_app_id", zidezaAppID},
        {"build_instance_id", appIDModel_->buildInstanceID()},
        {"app_version", appIDModel_->synthesizedVersion()},
    };
    bytes = key.dump();
  } catch (const nlohmann::json::exception& error) {
    CRConsoleError("Could not create settings cache key with error: %s", error.what());
    return;
  }
  std::lock_guard guard(lock_);
  const std::string path = fileManager_->settingsCacheKeyPath();
  if (fileManager_->fileExistsAtPath(path)) fileManager_->removeItemAtPath(path);
  fileManager_->createFileAtPath(path, bytes);
  isCacheKeyExpired_ = false;
  reloadFromCacheWithZidezaAppID(zidezaAppID, currentTimestamp);
}

void CRSettings::deleteCachedSettings() {
  std::lock_guard guard(lock_);
  isCacheKeyExpired_ = true;
  settingsDictionary_.reset();
  for (const std::string& path : {fileManager_->settingsFilePath(), fileManager_->settingsCacheKeyPath()}) {
    if (fileManager_->fileExistsAtPath(path)) fileManager_->removeItemAtPath(path);
  }
}

std::optional<nlohmann::json> CRSettings::settingsDictionary() const {
  const auto current = document();
  return copyOf(current.get());
}
std::optional<nlohmann::json> CRSettings::appSettings() const { return copyOf(member(document().get(), "app")); }
std::optional<nlohmann::json> CRSettings::sessionSettings() const {
  return copyOf(member(document().get(), "session"));
}
std::optional<nlohmann::json> CRSettings::featuresSettings() const {
  return copyOf(member(document().get(), "features"));
}
std::optional<nlohmann::json> CRSettings::veruviSettings() const { return copyOf(member(document().get(), "veruvi")); }

uint32_t CRSettings::cacheDurationSeconds() const {
  return unsigned32(member(document().get(), "cache_duration")).value_or(3600);
}

bool CRSettings::errorReportingEnabled() const {
  const auto current = document();
  return boolean(member(member(current.get(), "features"), "collect_logged_exceptions")).value_or(true);
}

bool CRSettings::collectReportsEnabled() const {
  const auto current = document();
  return boolean(member(member(current.get(), "features"), "collect_reports")).value_or(true);
}

bool CRSettings::metricKitCollectionEnabled() const {
  const auto current = document();
  return boolean(member(member(current.get(), "features"), "collect_metric_kit")).value_or(false);
}

uint32_t CRSettings::logBufferSize() const {
  const auto current = document();
  return unsigned32(member(member(current.get(), "session"), "log_buffer_size")).value_or(64000);
}

uint32_t CRSettings::maxCustomExceptions() const {
  const auto current = document();
  return unsigned32(member(member(current.get(), "session"), "max_custom_exception_events")).value_or(8);
}

uint32_t CRSettings::maxCustomKeys() const {
  const auto current = document();
  return unsigned32(member(member(current.get(), "session"), "max_custom_key_value_pairs")).value_or(64);
}

double CRSettings::onDemandUploadRate() const {
  return nonNegativeDouble(member(document().get(), "on_demand_upload_rate_per_minute")).value_or(10.0);
}

double CRSettings::onDemandBackoffBase() const {
  return nonNegativeDouble(member(document().get(), "on_demand_backoff_base")).value_or(1.5);
}

uint32_t CRSettings::onDemandBackoffStepDuration() const {
  return unsigned32(member(document().get(), "on_demand_backoff_step_duration_seconds")).value_or(6);
}
