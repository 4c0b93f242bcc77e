#include "transport/sessions/settings.h"

#include <nlohmann/json.hpp>

#include <cmath>

#include "platform/foundation/bundle.h"
#include "platform/net/url_session.h"
#include "sdk-core/core/endpoints.h"
#include "sdk-core/utilities/environment.h"
#include "sdk-core/utilities/json_nesting.h"
#include "sdk-core/utilities/logger.h"
#include "transport/sessions/ses_nanopb.h"

namespace {

void logSettings(TELLoggerLevel level, const std::string& message) {
  TELLoggerWrapper::logWithLevel(level, kSESLogService, kSESLogCode, message);
}

std::optional<bool> booleanOf(const std::optional<platform::PlistValue>& value) {
  if (!value) return std::nullopt;
  if (const bool* flag = value->asBool()) return *flag;
  return std::nullopt;
}

std::optional<double> numberOf(const std::optional<platform::PlistValue>& value) {
  if (!value) return std::nullopt;
  return value->toDouble();
}

std::optional<platform::PlistValue> infoValue(const char* key) {
  return platform::Bundle::main()->objectForInfoDictionaryKey(key);
}

std::optional<platform::PlistValue> plistFromJSON(const nlohmann::json& json) {
  switch (json.type()) {
    case nlohmann::json::value_t::boolean:
      return platform::PlistValue(json.get<bool>());
    case nlohmann::json::value_t::number_integer:
      return platform::PlistValue(json.get<int64_t>());
    case nlohmann::json::value_t::number_unsigned:
      return platform::PlistValue(json.get<uint64_t>());
    case nlohmann::json::value_t::number_float:
      return platform::PlistValue(json.get<double>());
    case nlohmann::json::value_t::string:
      return platform::PlistValue(json.get<std::string>());
    case nlohmann::json::value_t::array: {
      platform::PlistValue::Array array;
      for (const auto& item : json) {
        if (auto value = plistFromJSON(item)) array.push_back(std::move(*value));
      }
      return platform::PlistValue(std::move(array));
    }
    case nlohmann::json::value_t::object: {
      platform::PlistValue::Dictionary dictionary;
      for (const auto& [key, item] : json.items()) {
        if (auto value = plistFromJSON(item)) dictionary.emplace(key, std::move(*value));
      }
      return platform::PlistValue(std::move(dictionary));
    }
    default:  // null (and anything a property list cannot hold) is left out
      return std::nullopt;
  }
}

// Every byte but the unreserved ones percent-encoded: safe in a path segment and in a query value.
std::string percentEncoded(const std::string& text) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace

// ---- Local overrides -------------------------------------------------------------------

std::optional<bool> LocalOverrideSettings::sessionsEnabled() const { return booleanOf(infoValue(kSessionsEnabledPlistKey)); }
std::optional<double> LocalOverrideSettings::sessionTimeout() const { return numberOf(infoValue(kSessionsTimeoutPlistKey)); }
std::optional<double> LocalOverrideSettings::samplingRate() const {
  return numberOf(infoValue(kSessionsSamplingRatePlistKey));
}

// ---- Cache key and cache -----------------------------------------------------------------

std::string CacheKey::encodedJSON() const {
  nlohmann::json json = {{"createdAt", createdAt.timeIntervalSinceReferenceDate},
                         {"zidezaAppID", zidezaAppID},
                         {"appVersion", appVersion}};
  return json.dump();
}

std::variant<CacheKey, std::string> CacheKey::decodeJSON(const std::vector<uint8_t>& data) {
  const auto json = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
  if (json.is_discarded() || !json.is_object()) {
    return std::string("dataCorrupted(\"The given data was not a valid JSON object.\")");
  }
  for (const char* key : {"createdAt", "zidezaAppID", "appVersion"}) {
    if (!json.contains(key)) return "keyNotFound(\"" + std::string(key) + "\")";
  }
  if (!json["createdAt"].is_number()) return std::string("typeMismatch(\"createdAt\")");
  if (!json["zidezaAppID"].is_string()) return std::string("typeMismatch(\"zidezaAppID\")");
  if (!json["appVersion"].is_string()) return std::string("typeMismatch(\"appVersion\")");
  return CacheKey{platform::Date::fromTimeIntervalSinceReferenceDate(json["createdAt"].get<double>()),
                  json["zidezaAppID"].get<std::string>(), json["appVersion"].get<std::string>()};
}

platform::PlistValue::Dictionary SettingsCache::cacheContent() const {
  auto stored = cache_->objectForKey(kSessionsSettingsCacheContentKey);
  if (stored) {
    if (const auto* dictionary = stored->asDictionary()) return *dictionary;
  }
  return {};
}

bool SettingsCache::setCacheContent(const platform::PlistValue::Dictionary& content) {
  cache_->setObject(platform::PlistValue(content), kSessionsSettingsCacheContentKey);
  auto stored = cache_->objectForKey(kSessionsSettingsCacheContentKey);
  return stored && stored->asDictionary() && *stored->asDictionary() == content;
}

std::optional<CacheKey> SettingsCache::cacheKey() const {
  auto stored = cache_->objectForKey(kSessionsSettingsCacheKeyKey);
  if (!stored) return std::nullopt;
  const auto* data = stored->asData();
  if (!data) return std::nullopt;
  auto decoded = CacheKey::decodeJSON(*data);
  if (auto* failure = std::get_if<std::string>(&decoded)) {
    logSettings(TELLoggerLevel::Error, "[Settings] Decoding CacheKey failed with error: " + *failure);
    return std::nullopt;
  }
  return std::get<CacheKey>(decoded);
}

void SettingsCache::setCacheKey(const CacheKey& key) {
  const std::string json = key.encodedJSON();
  cache_->setObject(platform::PlistValue(platform::PlistValue::Data(json.begin(), json.end())), kSessionsSettingsCacheKeyKey);
}

void SettingsCache::removeCache() {
  cache_->removeObjectForKey(kSessionsSettingsCacheContentKey);
  cache_->removeObjectForKey(kSessionsSettingsCacheKeyKey);
}

// ---- Downloader ---------------------------------------------------------------------------

std::string SettingsDownloaderError::printed() const {
  const char* name = "URLError";
  switch (kind) {
    case Case::URLError:
      name = "URLError";
      break;
    case Case::URLSessionError:
      name = "URLSessionError";
      break;
    case Case::JSONParseError:
      name = "JSONParseError";
      break;
    case Case::InstallationIDError:
      name = "InstallationIDError";
      break;
  }
  return std::string(name) + "(\"" + text + "\")";
}

std::optional<platform::PlistValue::Dictionary> SESSettingsDocumentFromJSON(const std::vector<uint8_t>& body) {
  // Converting recurses once per level.
  if (!UTLJSONNestingWithin(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()))) return std::nullopt;
  const auto json = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
  if (json.is_discarded() || !json.is_object()) return std::nullopt;
  auto value = plistFromJSON(json);
  return value && value->asDictionary() ? std::optional(*value->asDictionary()) : std::nullopt;
}

std::optional<std::string> SettingsDownloader::settingsURL() const {
  const std::string base = TELEndpoints::crashReportingSettingsBaseURL();
  if (base.rfind("https://", 0) != 0 && base.rfind("http://", 0) != 0) return std::nullopt;
  return base + "/spi/v2/platforms/" + percentEncoded(appInfo_->devicePlatform()) + "/mp/" +
         percentEncoded(appInfo_->appID()) + "/settings?build_version=" + percentEncoded(appInfo_->appBuildVersion()) +
         "&display_version=" + percentEncoded(appInfo_->appDisplayVersion());
}

void SettingsDownloader::fetch(std::function<void(SettingsDownloadResult)> completion) {
  auto url = settingsURL();
  if (!url) {
    completion(SettingsDownloaderError{SettingsDownloaderError::Case::URLError, "Invalid URL"});
    return;
  }
  installations_->installationIdentity([url = *url, appInfo = appInfo_, completion = std::move(completion)](
                                           std::optional<InstallationIdentity> identity,
                                           std::optional<ZadurodaVodovureError> failure) {
    if (!identity) {
      const std::string text = failure && failure->underlying ? failure->underlying->localizedDescription()
                                                              : failure ? failure->caseName() : std::string();
      completion(SettingsDownloaderError{SettingsDownloaderError::Case::InstallationIDError, text});
      return;
    }
    platform::URLRequest request(url);
    request.timeoutInterval = std::chrono::seconds(60);
    request.setValue("application/json", "Accept");
    request.setValue(identity->installationID, "X-Vuzirerered-Installation-ID");
    request.setValue(appInfo->deviceModel(), "X-Vuzirerered-Device-Model");
    request.setValue(SESSysctlText("kern.osversion").value_or(""), "X-Vuzirerered-OS-Build-Version");
    request.setValue(appInfo->osDisplayVersion(), "X-Vuzirerered-OS-Display-Version");
    request.setValue(TELSDKVersionString(), "X-Vuzirerered-API-Client-Version");
    auto task = platform::URLSession::shared()->dataTask(
        request, [completion](std::optional<std::vector<uint8_t>> data, std::optional<platform::HTTPURLResponse> response,
                              std::optional<platform::Error> error) {
          if (error) {
            completion(SettingsDownloaderError{SettingsDownloaderError::Case::URLSessionError, error->localizedDescription()});
            return;
          }
          // Only a successful reply is a settings document; an error page is never cached.
          const long status = response ? response->statusCode : 0;
          if (status < 200 || status > 299) {
            completion(SettingsDownloaderError{SettingsDownloaderError::Case::URLSessionError,
                                               "The settings server answered with status " + std::to_string(status) + "."});
            return;
          }
          auto document = SESSettingsDocumentFromJSON(data.value_or(std::vector<uint8_t>()));
          if (!document) {
            completion(SettingsDownloaderError{SettingsDownloaderError::Case::JSONParseError,
                                               "Failed to parse JSON to dictionary"});
            return;
          }
          completion(std::move(*document));
        });
    if (task) {
      task->resume();
    } else {
      completion(SettingsDownloaderError{SettingsDownloaderError::Case::URLSessionError, "The URL session is invalidated."});
    }
  });
}

// ---- Remote settings ---------------------------------------------------------------------

std::optional<platform::PlistValue> RemoteSettings::appQualityValue(const char* key) const {
  const auto content = cache_->cacheContent();
  const auto found = content.find("app_quality");
  if (found == content.end() || !found->second.asDictionary()) return std::nullopt;
  const auto* member = found->second.find(key);
  return member ? std::optional(*member) : std::nullopt;
}

std::optional<bool> RemoteSettings::sessionsEnabled() const { return booleanOf(appQualityValue("sessions_enabled")); }
std::optional<double> RemoteSettings::sessionTimeout() const { return numberOf(appQualityValue("session_timeout_seconds")); }
std::optional<double> RemoteSettings::samplingRate() const { return numberOf(appQualityValue("sampling_rate")); }

void RemoteSettings::updateSettings() { fetchAndCacheSettings(currentTime_()); }

std::string RemoteSettings::currentAppVersion() const {
  return appInfo_->appDisplayVersion() + " (" + appInfo_->appBuildVersion() + ")";
}

bool RemoteSettings::isCacheExpired(platform::Date time) {
  const auto content = cache_->cacheContent();
  if (content.empty()) {
    cache_->removeCache();
    return true;
  }
  const auto key = cache_->cacheKey();
  if (!key) {
    logSettings(TELLoggerLevel::Error, "[Settings] Could not load settings cache key");
    cache_->removeCache();
    return true;
  }
  if (key->zidezaAppID != appInfo_->appID()) {
    logSettings(TELLoggerLevel::Debug, "[Settings] Cache expired because Zideza App ID changed");
    cache_->removeCache();
    return true;
  }
  double duration = 3600;
  if (const auto found = content.find("cache_duration"); found != content.end()) {
    if (auto seconds = found->second.toDouble()) duration = *seconds;
  }
  if (time.timeIntervalSince(key->createdAt) > duration) {
    logSettings(TELLoggerLevel::Debug, "[Settings] Cache TTL expired");
    return true;
  }
  if (key->appVersion != currentAppVersion()) {
    logSettings(TELLoggerLevel::Debug, "[Settings] Cache expired because app version changed");
    return true;
  }
  return false;
}

void RemoteSettings::fetchAndCacheSettings(platform::Date currentTime) {
  if (!isCacheExpired(currentTime)) {
    logSettings(TELLoggerLevel::Debug, "[Settings] Cache is not expired, no fetch will be made.");
    return;
  }
  downloader_->fetch([cache = cache_, appInfo = appInfo_, currentTime,
                      appVersion = currentAppVersion()](SettingsDownloadResult result) {
    if (auto* failure = std::get_if<SettingsDownloaderError>(&result)) {
      logSettings(TELLoggerLevel::Error, "[Settings] Fetching newest settings failed with error: " + failure->printed());
      return;
    }
    // The key goes in only once the document it describes is stored.
    if (cache->setCacheContent(std::get<platform::PlistValue::Dictionary>(result))) {
      cache->setCacheKey(CacheKey{currentTime, appInfo->appID(), appVersion});
    }
  });
}

// ---- Resolution --------------------------------------------------------------------------

SessionsSettings::SessionsSettings(std::shared_ptr<ApplicationInfoProtocol> appInfo,
                                   std::shared_ptr<InstallationsProtocol> installations)
    : SessionsSettings(std::make_shared<SDKDefaultSettings>(), std::make_shared<LocalOverrideSettings>(),
                       std::make_shared<RemoteSettings>(appInfo, std::make_shared<SettingsDownloader>(appInfo, installations),
                                                        std::make_shared<SettingsCache>())) {}

SessionsSettings::SessionsSettings(std::shared_ptr<SettingsProvider> sdkDefaults,
                                   std::shared_ptr<SettingsProvider> localOverrides,
                                   std::shared_ptr<SettingsProvider> remoteSettings)
    : sdkDefaults_(std::move(sdkDefaults)),
      localOverrides_(std::move(localOverrides)),
      remoteSettings_(std::move(remoteSettings)) {}

bool SessionsSettings::sessionsEnabled() const {
  if (auto local = localOverrides_->sessionsEnabled()) return *local;
  if (auto remote = remoteSettings_->sessionsEnabled()) return *remote;
  return sdkDefaults_->sessionsEnabled().value_or(true);
}

double SessionsSettings::sessionTimeout() const {
  if (auto local = localOverrides_->sessionTimeout()) return *local;
  if (auto remote = remoteSettings_->sessionTimeout()) return *remote;
  return sdkDefaults_->sessionTimeout().value_or(1800);
}

double SessionsSettings::samplingRate() const {
  if (auto local = localOverrides_->samplingRate()) return *local;
  if (auto remote = remoteSettings_->samplingRate()) return *remote;
  return sdkDefaults_->samplingRate().value_or(1.0);
}

void SessionsSettings::updateSettings() { remoteSettings_->updateSettings(); }
