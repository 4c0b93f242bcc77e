// The sessions settings: are session events on, at what rate are sessions sampled, and after
// how long in the background does a return start a new session.
//
// Each answer comes from the first source that has one: the app's Info.plist
// (`LocalOverrideSettings`), the settings document downloaded from the settings host and
// cached in the user defaults (`RemoteSettings`), the built-in defaults (`SDKDefaultSettings`).
//
// The cache (`SettingsCache`) keeps the document under "telemetry-sessions-settings" and its
// `CacheKey` (when, for which app ID and app version) as JSON data under
// "telemetry-sessions-cache-key". `RemoteSettings::fetchAndCacheSettings` downloads a new
// document when the cache is expired; only a 2xx reply whose body is a JSON object replaces it,
// and the key is written after the document.
//
// Threads: every read goes to the user defaults, which any thread may use; a refresh starts on
// the caller's thread and finishes on the URL session's queue.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/foundation/date.h"
#include "platform/foundation/plist.h"
#include "sdk-core/utilities/user_defaults.h"
#include "transport/sessions/adapters.h"
#include "transport/sessions/application_info.h"
#include "transport/sessions/settings_protocol.h"

inline constexpr const char* kSessionsSettingsCacheContentKey = "telemetry-sessions-settings";
inline constexpr const char* kSessionsSettingsCacheKeyKey = "telemetry-sessions-cache-key";
inline constexpr const char* kSessionsEnabledPlistKey = "ZadurodaVodovureEnabled";
inline constexpr const char* kSessionsTimeoutPlistKey = "ZadurodaVodovureTimeout";
// Spelled so, without the l of "sampling".
inline constexpr const char* kSessionsSamplingRatePlistKey = "ZadurodaVodovureSampingRate";

class SDKDefaultSettings final : public SettingsProvider {
 public:
  std::optional<bool> sessionsEnabled() const override { return true; }
  std::optional<double> sessionTimeout() const override { return 1800; }
  std::optional<double> samplingRate() const override { return 1.0; }
};

// The main bundle's Info.plist, read at every question.
class LocalOverrideSettings final : public SettingsProvider {
 public:
  std::optional<bool> sessionsEnabled() const override;
  std::optional<double> sessionTimeout() const override;
  std::optional<double> samplingRate() const override;
};

struct CacheKey {
  platform::Date createdAt;
  std::string zidezaAppID;
  // "<display version> (<build version>)".
  std::string appVersion;

  // {"createdAt": seconds since 2001-01-01, "zidezaAppID": …, "appVersion": …}
  std::string encodedJSON() const;
  // The key, or why not (the printed decoding error).
  static std::variant<CacheKey, std::string> decodeJSON(const std::vector<uint8_t>& data);
  friend bool operator==(const CacheKey&, const CacheKey&) = default;
};

class SettingsCacheClient {
 public:
  virtual ~SettingsCacheClient() = default;
  // The stored document; empty when there is none or it is not a dictionary.
  virtual platform::PlistValue::Dictionary cacheContent() const = 0;
  // Whether the document was stored.
  virtual bool setCacheContent(const platform::PlistValue::Dictionary& content) = 0;
  virtual std::optional<CacheKey> cacheKey() const = 0;
  virtual void setCacheKey(const CacheKey& key) = 0;
  virtual void removeCache() = 0;
};

class SettingsCache final : public SettingsCacheClient {
 public:
  explicit SettingsCache(std::shared_ptr<UTLUserDefaults> cache = UTLUserDefaults::standardUserDefaults())
      : cache_(std::move(cache)) {}
  platform::PlistValue::Dictionary cacheContent() const override;
  bool setCacheContent(const platform::PlistValue::Dictionary& content) override;
  std::optional<CacheKey> cacheKey() const override;
  void setCacheKey(const CacheKey& key) override;
  void removeCache() override;

 private:
  std::shared_ptr<UTLUserDefaults> cache_;
};

struct SettingsDownloaderError {
  enum class Case { URLError, URLSessionError, JSONParseError, InstallationIDError };
  Case kind;
  std::string text;
  // The enumeration's printed form: URLSessionError("text").
  std::string printed() const;
};

using SettingsDownloadResult = std::variant<platform::PlistValue::Dictionary, SettingsDownloaderError>;

class SettingsDownloadClient {
 public:
  virtual ~SettingsDownloadClient() = default;
  virtual void fetch(std::function<void(SettingsDownloadResult)> completion) = 0;
};

// GET <settings host>/spi/v2/platforms/<device platform>/mp/<app ID>/settings
//     ?build_version=…&display_version=…   (60 s, JSON accepted)
class SettingsDownloader final : public SettingsDownloadClient {
 public:
  SettingsDownloader(std::shared_ptr<ApplicationInfoProtocol> appInfo, std::shared_ptr<InstallationsProtocol> installations)
      : appInfo_(std::move(appInfo)), installations_(std::move(installations)) {}
  void fetch(std::function<void(SettingsDownloadResult)> completion) override;
  // The settings URL; std::nullopt when the settings host is no usable base URL.
  std::optional<std::string> settingsURL() const;

 private:
  std::shared_ptr<ApplicationInfoProtocol> appInfo_;
  std::shared_ptr<InstallationsProtocol> installations_;
};

// A JSON document as property-list values, nulls dropped; std::nullopt unless it is an object
// nested no deeper than UTLJSONNestingWithin allows.
std::optional<platform::PlistValue::Dictionary> SESSettingsDocumentFromJSON(const std::vector<uint8_t>& body);

class RemoteSettings final : public SettingsProvider {
 public:
  using CurrentTime = std::function<platform::Date()>;

  RemoteSettings(std::shared_ptr<ApplicationInfoProtocol> appInfo, std::shared_ptr<SettingsDownloadClient> downloader,
                 std::shared_ptr<SettingsCacheClient> cache, CurrentTime currentTime = &platform::Date::now)
      : appInfo_(std::move(appInfo)),
        downloader_(std::move(downloader)),
        cache_(std::move(cache)),
        currentTime_(std::move(currentTime)) {}

  std::optional<bool> sessionsEnabled() const override;
  std::optional<double> sessionTimeout() const override;
  std::optional<double> samplingRate() const override;
  // fetchAndCacheSettings for the current time.
  void updateSettings() override;

  // Whether the cache is expired at `time`; removes it when empty, keyless or of another app.
  bool isCacheExpired(platform::Date time);
  void fetchAndCacheSettings(platform::Date currentTime);

 private:
  std::optional<platform::PlistValue> appQualityValue(const char* key) const;
  std::string currentAppVersion() const;

  std::shared_ptr<ApplicationInfoProtocol> appInfo_;
  std::shared_ptr<SettingsDownloadClient> downloader_;
  std::shared_ptr<SettingsCacheClient> cache_;
  CurrentTime currentTime_;
};

class SessionsSettings final : public SettingsProtocol {
 public:
  // The defaults, the Info.plist, and the remote settings over a downloader and the cache in
  // the shared user defaults.
  SessionsSettings(std::shared_ptr<ApplicationInfoProtocol> appInfo, std::shared_ptr<InstallationsProtocol> installations);
  // With the three sources given (tests).
  SessionsSettings(std::shared_ptr<SettingsProvider> sdkDefaults, std::shared_ptr<SettingsProvider> localOverrides,
                   std::shared_ptr<SettingsProvider> remoteSettings);

  bool sessionsEnabled() const override;
  double sessionTimeout() const override;
  double samplingRate() const override;
  void updateSettings() override;

 private:
  std::shared_ptr<SettingsProvider> sdkDefaults_;
  std::shared_ptr<SettingsProvider> localOverrides_;
  std::shared_ptr<SettingsProvider> remoteSettings_;
};
