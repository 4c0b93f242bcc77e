// The sessions settings as they come back: the app's defaults file holding the cached
// settings document and its cache key (first part of the input; empty: no file), and the settings service's
// reply (second part), which a refresh of an expired cache parses and stores. The answers
// are asked before and after the refresh, and the defaults written back once more.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz_files.h"
#include "fuzz_seeds.h"
#include "platform/foundation/date.h"
#include "platform/foundation/defaults.h"
#include "platform/foundation/paths.h"
#include "platform/process_state/process_state.h"
#include "sdk-core/utilities/user_defaults.h"
#include "transport/sessions/application_info.h"
#include "transport/sessions/settings.h"

namespace {

constexpr const char* kAppID = "1:4242:ios:5ab3";

const std::filesystem::path& folder() { return fuzzFolder("sessions-settings"); }

// A new process over the folder: nothing of the defaults read before is remembered.
void relaunch() {
  platform::resetProcessState();
  platform::FileLocations::setDataDirectory(folder());
}

std::filesystem::path defaultsFile() {
  return platform::FileLocations::preferencesDirectory() /
         (std::string(platform::UserDefaults::kStandardDomainName) + ".plist");
}

std::shared_ptr<ApplicationInfo> appInfo() {
  static const auto info = std::make_shared<ApplicationInfo>(
      kAppID, nullptr, ApplicationInfo::Environment{},
      platform::PlistValue::Dictionary{{"CFBundleVersion", platform::PlistValue("31")},
                                       {"CFBundleShortVersionString", platform::PlistValue("2.4")}});
  return info;
}

// The service, answering at once with the reply as the downloader reads it.
class ReplyingDownloader final : public SettingsDownloadClient {
 public:
  explicit ReplyingDownloader(std::vector<uint8_t> body) : body_(std::move(body)) {}
  void fetch(std::function<void(SettingsDownloadResult)> completion) override {
    if (auto document = SESSettingsDocumentFromJSON(body_)) {
      completion(std::move(*document));
    } else {
      completion(SettingsDownloaderError{SettingsDownloaderError::Case::JSONParseError, "not an object"});
    }
  }

 private:
  std::vector<uint8_t> body_;
};

const platform::Date kNow = platform::Date::fromTimeIntervalSinceReferenceDate(86400.0 * 9000);

void askEverything(const SettingsProvider& settings) {
  (void)settings.sessionsEnabled();
  (void)settings.sessionTimeout();
  (void)settings.samplingRate();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  relaunch();
  fuzzEmptyFolder(folder());
  const auto parts = fuzzParts(data, size);
  if (!parts[0].empty()) fuzzWriteFile(defaultsFile(), parts[0]);
  const std::string reply = parts.size() > 1 ? parts[1] : std::string();
  {
    auto cache = std::make_shared<SettingsCache>(std::make_shared<UTLUserDefaults>());
    RemoteSettings remote(appInfo(), std::make_shared<ReplyingDownloader>(std::vector<uint8_t>(reply.begin(), reply.end())),
                          cache, [] { return kNow; });
    askEverything(remote);
    remote.updateSettings();
    askEverything(remote);
    (void)cache->cacheKey();
  }  // the defaults are written back here
  relaunch();
  {
    auto cache = std::make_shared<SettingsCache>(std::make_shared<UTLUserDefaults>());
    RemoteSettings remote(appInfo(), std::make_shared<ReplyingDownloader>(std::vector<uint8_t>()), cache,
                          [] { return kNow; });
    askEverything(remote);
    (void)remote.isCacheExpired(kNow);
  }
  return 0;
}

std::vector<FuzzSeed> fuzzSeeds() {
  std::vector<FuzzSeed> seeds;
  const nlohmann::json reply = {
      {"app_quality", {{"sessions_enabled", true}, {"sampling_rate", 0.25}, {"session_timeout_seconds", 900}}},
      {"cache_duration", 7200},
      {"features", {{"collect_reports", true}}},
      {"note", nullptr}};
  // The defaults file as the cache leaves it after a fetch of `document` at `createdAt`.
  const auto cached = [&](const char* label, const nlohmann::json& document, platform::Date createdAt,
                          const std::string& appVersion) {
    relaunch();
    fuzzEmptyFolder(folder());
    {
      const std::string text = document.dump();
      SettingsCache cache(std::make_shared<UTLUserDefaults>());
      if (auto content = SESSettingsDocumentFromJSON(std::vector<uint8_t>(text.begin(), text.end()))) {
        cache.setCacheContent(*content);
      }
      cache.setCacheKey(CacheKey{createdAt, kAppID, appVersion});
    }
    seeds.push_back({label, fuzzJoinParts({fuzzReadFile(defaultsFile()), reply.dump()})});
  };
  cached("fresh", reply, kNow, "2.4 (31)");
  cached("expired", reply, kNow.addingTimeInterval(-86400.0), "2.4 (31)");
  cached("other-version", {{"app_quality", {{"sessions_enabled", false}}}, {"cache_duration", "long"}}, kNow, "2.3 (30)");
  seeds.push_back({"no-file", fuzzJoinParts({"", reply.dump()})});
  relaunch();
  fuzzEmptyFolder(folder());
  return seeds;
}
