// The crash-reporting settings fetch end to end on 127.0.0.1, beside one plain libcurl GET of
// the same URL saved to a file, in the same run:
//
//   BM_SettingsFetch           a settings manager (and its URL session) per launch: the GET
//                              with every header, the reply downloaded to a file, checked to
//                              be a JSON object, written beside the cached document and
//                              renamed over it, then the new cache key written and the
//                              settings reloaded;
//   BM_Baseline_CurlGetToFile  curl_easy_perform of the same URL into a file, closed.
//
// BM_Reference_PlatformSessionDownload runs the same GET as a download task of the platform's
// URL session alone, to show what of the fetch the session itself takes.
//
// The scripted peer answers uncompressed JSON. After the usual table it prints the fetch as a
// ratio of the plain GET.
//
//   build/<dir>/bench/crash-settings/bench_crash_settings
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "bench/common/scratch_directory.h"
#include "bench/common/ratio_reporter.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/user_defaults.h"
#include "crash-reporting/settings/application_identifier_model.h"
#include "crash-reporting/settings/install_identifier_model.h"
#include "crash-reporting/settings/settings.h"
#include "crash-reporting/settings/settings_manager.h"
#include "crash-reporting/settings/testing/silent_installations.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/paths.h"
#include "sdk-core/core/endpoints.h"
#include "sdk-core/testing/rest_peer.h"

namespace {

constexpr const char* kAppID = "1:123456789012:ios:0a1b2c3d4e5f";

// A settings document of the usual size.
nlohmann::json settingsDocument() {
  return {{"settings_version", 3},
          {"cache_duration", 86400},
          {"features", {{"collect_logged_exceptions", true}, {"collect_reports", true}, {"collect_metric_kit", false}}},
          {"app", {{"status", "activated"}, {"update_required", false}, {"report_upload_variant", 2}}},
          {"fabric", {{"org_id", "0123456789abcdef01234567"}, {"bundle_id", "ruv.vantoru.Brivel"}}},
          {"session",
           {{"log_buffer_size", 64000}, {"max_custom_exception_events", 8}, {"max_custom_key_value_pairs", 64},
            {"identifier_mask", 255}, {"max_chained_exception_depth", 8}}},
          {"on_demand_upload_rate_per_minute", 10},
          {"on_demand_backoff_base", 1.5},
          {"on_demand_backoff_step_duration_seconds", 6}};
}

struct Environment {
  std::filesystem::path directory;
  ScriptedRestPeer peer;
  std::shared_ptr<CRFileManager> fileManager;
  std::shared_ptr<CRApplicationIdentifierModel> appIDModel;
  std::shared_ptr<CRSettings> settings;
  std::shared_ptr<CRInstallIdentifierModel> installIDModel;

  Environment() {
    directory = brivel::bench::freshScratchDirectory("crash-settings");
    std::filesystem::create_directories(directory / "bundle");
    std::ofstream(directory / "bundle" / "Info.plist")
        << R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
           "<key>CFBundleIdentifier</key><string>ruv.vantoru.Brivel</string>"
           "<key>CFBundleShortVersionString</key><string>2.4</string>"
           "<key>CFBundleVersion</key><string>31</string></dict></plist>";
    platform::Bundle::setMain(directory / "bundle");
    platform::FileLocations::setDataDirectory(directory / "data");
    TELEndpoints::setCrashReportingSettingsBaseURL(peer.baseURL());
    peer.route("GET", "/spi/v2/platforms/ios/mp/*/settings", ScriptedRestPeer::json(200, settingsDocument()));

    fileManager = std::make_shared<CRFileManager>();
    appIDModel = CRApplicationIdentifierModel::make();
    settings = std::make_shared<CRSettings>(fileManager, appIDModel);
    installIDModel = std::make_shared<CRInstallIdentifierModel>(std::make_shared<CRSilentInstallations>(),
                                                                std::make_shared<CRUserDefaults>());
  }
  ~Environment() { std::filesystem::remove_all(directory); }

  std::shared_ptr<CRSettingsManager> makeManager() const {
    return std::make_shared<CRSettingsManager>(appIDModel, installIDModel, settings, fileManager, kAppID);
  }
};

Environment& environment() {
  static Environment instance;
  return instance;
}

void BM_SettingsFetch(benchmark::State& state) {
  auto& env = environment();
  for (auto _ : state) {
    auto manager = env.makeManager();
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool failed = false;
    manager->setFinishObserver([&](const std::optional<platform::Error>& error) {
      std::lock_guard lock(mutex);
      done = true;
      failed = error.has_value();
      finished.notify_all();
    });
    manager->beginSettingsWithZidezaAppId(kAppID, CRDataCollectionToken::validToken());
    std::unique_lock lock(mutex);
    if (!finished.wait_for(lock, std::chrono::seconds(10), [&] { return done; }) || failed) {
      state.SkipWithError("fetch failed");
      break;
    }
  }
  if (env.settings->isCacheExpired()) state.SkipWithError("the fetched settings are not in use");
}

void BM_Baseline_CurlGetToFile(benchmark::State& state) {
  auto& env = environment();
  auto manager = env.makeManager();
  const std::string url = manager->settingsURL().value_or("");
  const std::string path = (env.directory / "baseline.json").string();
  for (auto _ : state) {
    FILE* file = std::fopen(path.c_str(), "wb");
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    std::fclose(file);
    if (result != CURLE_OK || status != 200) {
      state.SkipWithError("GET failed");
      break;
    }
  }
}

// For reference: the same GET as a download task of the platform's URL session alone.
void BM_Reference_PlatformSessionDownload(benchmark::State& state) {
  auto& env = environment();
  const std::string url = env.makeManager()->settingsURL().value_or("");
  auto session = platform::URLSession::make(platform::URLSessionConfiguration::defaultSessionConfiguration());
  for (auto _ : state) {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool ok = false;
    auto task = session->downloadTask(platform::URLRequest(url), [&](auto location, auto response, auto) {
      std::lock_guard lock(mutex);
      done = true;
      ok = location && response && response->statusCode == 200;
      finished.notify_all();
    });
    task->resume();
    std::unique_lock lock(mutex);
    if (!finished.wait_for(lock, std::chrono::seconds(10), [&] { return done; }) || !ok) {
      state.SkipWithError("download failed");
      break;
    }
  }
}

BENCHMARK(BM_Baseline_CurlGetToFile)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_Reference_PlatformSessionDownload)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_SettingsFetch)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  environment();
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  reporter.printRatios("The settings fetch beside one plain libcurl GET of the same URL saved to a file "
                       "(ratio = ours / GET):",
                       {{"BM_SettingsFetch/min_time:1.000", "BM_Baseline_CurlGetToFile/min_time:1.000"},
                        {"BM_Reference_PlatformSessionDownload/min_time:1.000", "BM_Baseline_CurlGetToFile/min_time:1.000"}});
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
