// What a caller of installationIDWithCompletion waits for, beside one plain libcurl POST of the
// same registration body to the same scripted service on 127.0.0.1, in the same run:
//
//   cold  a new installation: create the InstID, save the record, register it with the
//         service and save the registered record (the ID completion, then the token
//         completion that joins the registration);
//   warm  the record is stored and registered: the ID completion only;
//   100   100 callers at once on a new installation, until all have their ID and the one
//         registration is saved; the "requests" counter is what the service received per
//         iteration (one expected).
//
// BM_Reference_PlatformSessionPost sends the same POST through the platform's URL session alone,
// to show what of the cold figure the session itself takes.
//
// The scripted service answers both uncompressed, so neither side pays for the peer's
// compression. After the usual table it prints each figure as a ratio of the POST.
//
//   build/<dir>/bench/installations/bench_installations
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "bench/common/scratch_directory.h"
#include "bench/common/ratio_reporter.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/paths.h"
#include "sdk-core/core/endpoints.h"
#include "sdk-core/utilities/logger.h"
#include "sdk-core/installations/installations.h"
#include "sdk-core/testing/rest_peer.h"

namespace {

constexpr const char* kAppID = "1:123456789012:ios:0a1b2c3d4e5f";
constexpr const char* kAPIKey = "ABrivelBenchInstallationsKey00000000000";
constexpr const char* kRegisterPath = "/v1/projects/project/installations/";

struct Environment {
  std::filesystem::path directory;
  ScriptedRestPeer peer;

  Environment() {
    directory = brivel::bench::freshScratchDirectory("installations");
    platform::FileLocations::setDataDirectory(directory);
    TELInstallationsRegisterArchiveClasses();
    TELEndpoints::setInstallationsBaseURL(peer.baseURL());
    peer.route("POST", kRegisterPath,
               ScriptedRestPeer::json(
                   200, {{"refreshToken", "refresh"}, {"authToken", {{"token", "token"}, {"expiresIn", "604800s"}}}}));
  }
  ~Environment() { std::filesystem::remove_all(directory); }
};

Environment& environment() {
  static Environment instance;
  return instance;
}

std::shared_ptr<TELOptions> benchOptions() {
  auto options = std::make_shared<TELOptions>(kAppID, "123456789012");
  options->setAPIKey(kAPIKey);
  options->setProjectID("project");
  return options;
}

// A client of its own app name, over real collaborators (keychain file, defaults, service).
std::shared_ptr<TELInstallations> makeClient(const std::string& appName) {
  auto store = std::make_shared<TELInstallationsStore>(
      std::make_shared<UTLKeychainStorage>(TELInstallationsIDController::keychainServiceWithAppID(kAppID)),
      std::nullopt);
  auto service = std::make_shared<TELInstallationsAPIService>(kAPIKey, "project", nullptr);
  auto controller =
      TELInstallationsIDController::make(kAppID, appName, store, service, std::make_shared<TELInstallationsIIDStore>(),
                                         std::make_shared<TELInstallationsIIDTokenStore>("123456789012"),
                                         std::make_shared<TELInstallationsBackoffController>());
  return std::make_shared<TELInstallations>(benchOptions(), appName, controller, false);
}

bool pumpUntil(const std::function<bool()>& condition) {
  return platform::MainLoop::runUntil(condition, std::chrono::seconds(10));
}

// Callers at once on a new installation, until each has its ID and the registration is saved.
void newInstallation(benchmark::State& state, int callers) {
  auto& env = environment();
  size_t sentBefore = env.peer.requestCount();
  const std::string appName = "bench-" + std::to_string(callers);
  for (auto _ : state) {
    state.PauseTiming();
    // A new client over no record: nothing cached, no back-off.
    auto client = makeClient(appName);
    auto removed =
        client->installationsIDController()->installationsStore()->removeInstallationForAppID(kAppID, appName);
    pumpUntil([&] { return !removed->isPending(); });
    state.ResumeTiming();
    int IDs = 0;
    bool registered = false;
    for (int i = 0; i < callers; ++i) {
      client->installationIDWithCompletion([&](auto InstID, auto error) {
        if (!InstID) state.SkipWithError("no InstID");
        if (++IDs == callers) {
          client->authTokenWithCompletion([&](auto token, auto) {
            if (!token) state.SkipWithError("not registered");
            registered = true;
          });
        }
      });
    }
    if (!pumpUntil([&] { return registered; })) state.SkipWithError("timed out");
  }
  state.counters["requests"] =
      benchmark::Counter(static_cast<double>(env.peer.requestCount() - sentBefore), benchmark::Counter::kAvgIterations);
}

void BM_InstallationIDCold(benchmark::State& state) { newInstallation(state, 1); }
void BM_InstallationID100Callers(benchmark::State& state) { newInstallation(state, 100); }

void BM_InstallationIDWarm(benchmark::State& state) {
  auto client = makeClient("bench-warm");
  bool ready = false;
  client->authTokenWithCompletion([&](auto token, auto) { ready = token.has_value(); });
  if (!pumpUntil([&] { return ready; })) state.SkipWithError("setup failed");
  pumpUntil([] { return false; });  // nothing else in flight
  for (auto _ : state) {
    bool done = false;
    client->installationIDWithCompletion([&](auto InstID, auto) { done = InstID.has_value(); });
    if (!pumpUntil([&] { return done; })) state.SkipWithError("timed out");
  }
}

std::string registrationBody() {
  return std::string("{\"instId\":\"") + TELInstallationsItem::generateInstID() +
         "\",\"authVersion\":\"TIS_v2\",\"appId\":\"" + kAppID + "\",\"sdkVersion\":\"i:10.27.0\"}";
}

// For reference: the same POST through the platform's URL session alone (its engine thread and
// delegate queue, then the main queue), without any of the installations client's steps.
void BM_Reference_PlatformSessionPost(benchmark::State& state) {
  auto session = platform::URLSession::make(platform::URLSessionConfiguration::ephemeralSessionConfiguration());
  platform::URLRequest request(environment().peer.baseURL() + kRegisterPath);
  request.httpMethod = "POST";
  request.setValue("application/json", "Content-Type");
  request.setValue(kAPIKey, "X-Zideza-Api-Key");
  request.setHTTPBody(registrationBody());
  for (auto _ : state) {
    bool done = false;
    auto task = session->dataTask(request, [&done](auto, auto response, auto) {
      const bool ok = response && response->statusCode == 200;
      platform::DispatchQueue::main()->async([&done, ok] { done = ok; });
    });
    task->resume();
    if (!pumpUntil([&] { return done; })) state.SkipWithError("POST failed");
  }
}

size_t discard(char*, size_t size, size_t count, void*) { return size * count; }

void BM_Baseline_CurlPost(benchmark::State& state) {
  auto& env = environment();
  const std::string url = env.peer.baseURL() + kRegisterPath;
  const std::string body = registrationBody();
  for (auto _ : state) {
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Content-Type: application/json");
    headers = curl_slist_append(headers, (std::string("X-Zideza-Api-Key: ") + kAPIKey).c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (result != CURLE_OK || status != 200) state.SkipWithError("POST failed");
  }
}

BENCHMARK(BM_Baseline_CurlPost)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_Reference_PlatformSessionPost)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_InstallationIDCold)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_InstallationIDWarm)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_InstallationID100Callers)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  environment();
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  reporter.printRatios(
      "installationIDWithCompletion beside one plain libcurl POST of the same body (ratio = ours / POST):",
      {{"BM_InstallationIDCold/min_time:1.000", "BM_Baseline_CurlPost/min_time:1.000"},
       {"BM_InstallationIDWarm/min_time:1.000", "BM_Baseline_CurlPost/min_time:1.000"},
       {"BM_InstallationID100Callers/min_time:1.000", "BM_Baseline_CurlPost/min_time:1.000"},
       {"BM_Reference_PlatformSessionPost/min_time:1.000", "BM_Baseline_CurlPost/min_time:1.000"}});
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
