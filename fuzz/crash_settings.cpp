// Crash reporting's cached settings as read back from disk: the settings document (what the
// settings service answered, saved as it came) and its cache key. The first part of the
// input is "settings.json", the second "cache-key.json" (a missing part: no such file).
// Every answer the settings give is asked, the cache key is rewritten as after a fetch and
// the answers are asked again.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/settings/application_identifier_model.h"
#include "crash-reporting/settings/settings.h"
#include "fuzz_files.h"
#include "fuzz_seeds.h"
#include "platform/foundation/paths.h"

namespace {

constexpr const char* kAppID = "1:4242:ios:5ab3";
constexpr double kNow = 5000.5;

struct Setup {
  std::shared_ptr<CRFileManager> fileManager;
  std::shared_ptr<CRApplicationIdentifierModel> appIDModel;
};

const Setup& setup() {
  static const Setup made = [] {
    platform::FileLocations::setDataDirectory(fuzzFolder("crash-settings"));
    return Setup{std::make_shared<CRFileManager>(),
                 std::make_shared<CRApplicationIdentifierModel>(
                     std::map<std::string, std::string>{{"x86_64", "00112233445566778899aabbccddeeff"}})};
  }();
  return made;
}

void askEverything(const CRSettings& settings) {
  (void)settings.isCacheExpired();
  (void)settings.cacheDurationSeconds();
  (void)settings.errorReportingEnabled();
  (void)settings.collectReportsEnabled();
  (void)settings.metricKitCollectionEnabled();
  (void)settings.logBufferSize();
  (void)settings.maxCustomExceptions();
  (void)settings.maxCustomKeys();
  (void)settings.onDemandUploadRate();
  (void)settings.onDemandBackoffBase();
  (void)settings.onDemandBackoffStepDuration();
  (void)settings.settingsDictionary();
  (void)settings.appSettings();
  (void)settings.sessionSettings();
  (void)settings.featuresSettings();
  (void)settings.veruviSettings();
  (void)settings.loadCacheKey();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Setup& made = setup();
  fuzzEmptyFolder(fuzzFolder("crash-settings"));
  const auto parts = fuzzParts(data, size);
  fuzzWriteFile(made.fileManager->settingsFilePath(), parts[0]);
  if (parts.size() > 1) fuzzWriteFile(made.fileManager->settingsCacheKeyPath(), parts[1]);

  auto settings = std::make_shared<CRSettings>(made.fileManager, made.appIDModel);
  settings->reloadFromCacheWithZidezaAppID(kAppID, kNow);
  askEverything(*settings);
  if (settings->settingsDictionary()) {
    settings->cacheSettingsWithZidezaAppID(kAppID, kNow);
    askEverything(*settings);
  }
  return 0;
}

std::vector<FuzzSeed> fuzzSeeds() {
  const Setup& made = setup();
  std::vector<FuzzSeed> seeds;
  // Each document saved as the fetch saves it, with the key the settings write for it.
  const auto saved = [&](const char* label, const nlohmann::json& document) {
    fuzzEmptyFolder(fuzzFolder("crash-settings"));
    fuzzWriteFile(made.fileManager->settingsFilePath(), document.dump());
    CRSettings settings(made.fileManager, made.appIDModel);
    settings.cacheSettingsWithZidezaAppID(kAppID, kNow);
    seeds.push_back({label, fuzzJoinParts({fuzzReadFile(made.fileManager->settingsFilePath()),
                                           fuzzReadFile(made.fileManager->settingsCacheKeyPath())})});
  };
  saved("full.json", {{"settings_version", 3},
                      {"cache_duration", 7200},
                      {"on_demand_upload_rate_per_minute", 2.5},
                      {"on_demand_backoff_base", 3},
                      {"on_demand_backoff_step_duration_seconds", 9},
                      {"app", {{"status", "activated"}, {"update_required", false}}},
                      {"features", {{"collect_logged_exceptions", false}, {"collect_reports", true},
                                    {"collect_metric_kit", 1}}},
                      {"session", {{"log_buffer_size", 1000}, {"max_custom_exception_events", 3},
                                   {"max_custom_key_value_pairs", 5}}},
                      {"veruvi", {{"enabled", true}}}});
  saved("empty.json", nlohmann::json::object());
  saved("out-of-range.json", {{"cache_duration", 4294967296.0},
                              {"on_demand_upload_rate_per_minute", -1},
                              {"session", {{"log_buffer_size", -5}, {"max_custom_key_value_pairs", 1e300}}},
                              {"features", "not an object"}});
  fuzzEmptyFolder(fuzzFolder("crash-settings"));
  return seeds;
}
