// The session producer's cost from a session's start to its event written, beside sending the
// same encoded bytes through the transport directly, in the same run:
//   - 200 sessions, each started by the initiator's return to the foreground after the
//     time-out (0 here):
//     the session ID, the notification to the subscriber, the event, the gates on the
//     background queue, the installation identity (a fake service answering at once on the
//     main queue), the encoding, the transport and the store, until the result comes;
//   - 200 transport events carrying those bytes, sent with ETTransport::sendDataEvent until
//     every completion has come.
// Figures are events per second, medians of seven repetitions; the ratio is ours / baseline
// (goal: >= 0.5x). The session's extra cost is mostly its hand-offs between threads: the gates
// on the background queue, the installation service's answers on the main queue and the report
// back on the background queue. Files go to /dev/shm when the machine has it.
//
//   build/<dir>/bench/sessions/bench_sessions
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/common/scratch_directory.h"
#include "bench/common/ratio_reporter.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/semaphore.h"
#include "transport/events/application.h"
#include "transport/events/flat_file_storage.h"
#include "transport/events/registrar.h"
#include "transport/events/transport.h"
#include "transport/sessions/dev_event_console_logger.h"
#include "transport/sessions/ses_nanopb.h"
#include "transport/sessions/sessions.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSessions = 200;

fs::path benchDirectory() {
  static const fs::path directory = [] {
    fs::path path = brivel::bench::freshScratchDirectory("sessions");
    fs::create_directories(path);
    return path;
  }();
  return directory;
}

// A fresh store folder for every pipeline of the run.
fs::path nextStoreDirectory(const char* name) {
  static std::atomic<int> counter{0};
  return benchDirectory() / (std::string(name) + "-" + std::to_string(counter++));
}

// A store of its own for target 1001, with its own registrar and transformer.
struct Pipeline {
  explicit Pipeline(const fs::path& root) {
    ETRegisterEventArchiveClasses();
    auto tasks = std::make_shared<platform::BackgroundTaskService>();
    application = ETApplication::make([tasks] { return tasks; });
    storage = ETFlatFileStorage::make(root, application);
    registrar = std::make_shared<ETRegistrar>();
    registrar->registerStorage(storage, 1001);
    transformer = std::make_shared<ETTransformer>(application, registrar);
    transport = ETTransport::make(kSessionsMappingID, {}, kSessionsTarget, transformer);
  }
  std::shared_ptr<ETApplication> application;
  std::shared_ptr<ETFlatFileStorage> storage;
  std::shared_ptr<ETRegistrar> registrar;
  std::shared_ptr<ETTransformer> transformer;
  std::shared_ptr<ETTransport> transport;
};

// Answers at once, on the main queue, as the SDK's installation service does.
class InstantInstallations final : public InstallationsProtocol {
 public:
  void authToken(TokenHandler completion) override {
    platform::DispatchQueue::main()->async([completion] {
      completion(TELInstallationsAuthTokenResult{"token", platform::Date::now().addingTimeInterval(3600)}, std::nullopt);
    });
  }
  void installationID(IDHandler completion) override {
    platform::DispatchQueue::main()->async([completion] { completion(std::string("fid-bench"), std::nullopt); });
  }
};

class FixedSettings final : public SettingsProtocol {
 public:
  bool sessionsEnabled() const override { return true; }
  double sessionTimeout() const override { return 0; }
  double samplingRate() const override { return 1.0; }
  void updateSettings() override {}
};

class Subscriber final : public TELSessionsSubscriber {
 public:
  void onSessionChanged(const TELSessionDetails&) override {}
  bool isDataCollectionEnabled() const override { return true; }
  int64_t sessionsSubscriberName() const override { return 1; }
};

class Network final : public NetworkInfoProtocol {
 public:
  int networkType() const override { return 1; }
  std::string mobileSubtype() const override { return {}; }
};

std::shared_ptr<ApplicationInfo> appInfo() {
  return std::make_shared<ApplicationInfo>("1:123456789012:ios:0a1b2c3d4e5f", std::make_shared<Network>(),
                                           ApplicationInfo::Environment{},
                                           platform::PlistValue::Dictionary{{"CFBundleShortVersionString", "1.0"},
                                                                            {"CFBundleVersion", "1"}});
}

void setRate(benchmark::State& state) {
  state.counters["events_per_s"] =
      benchmark::Counter(static_cast<double>(kSessions), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_SessionStartToEventWritten(benchmark::State& state) {
  TELSessionsDependencies::addDependencyWithName(1);
  for (auto _ : state) {
    state.PauseTiming();
    Pipeline pipeline(nextStoreDirectory("sessions"));
    auto logger = std::make_shared<EventETLogger>(std::make_shared<ETTransportAdapter>(pipeline.transport),
                                                  std::make_shared<DevEventConsoleLogger>(kSessionsDebugEventsArgument));
    auto settings = std::make_shared<FixedSettings>();
    std::atomic<int> written{0};
    std::atomic<int> results{0};
    std::mutex failureMutex;
    std::string failure;
    platform::Date now = platform::Date::now();
    auto initiator = std::make_shared<SessionInitiator>([&now] { return now; }, settings);
    auto sessions = Sessions::make(
        "1:123456789012:ios:0a1b2c3d4e5f", std::make_shared<SessionGenerator>(true),
        std::make_shared<SessionCoordinator>(std::make_shared<InstantInstallations>(), logger),
        initiator, appInfo(), settings,
        [&](SessionStartResult result) {
          if (!result) {
            ++written;
          } else {
            std::lock_guard lock(failureMutex);
            failure = result->caseName() + (result->underlying ? " " + SESErrorDescription(*result->underlying) : "");
          }
          ++results;
        });
    sessions->registerWithSubscriber(std::make_shared<Subscriber>());
    platform::MainLoop::runUntil([&] { return results.load() == 1; }, std::chrono::seconds(30));  // the launch's
    state.ResumeTiming();
    // The initiator's own actions, as the application's notices call them (posting the notices
    // would also run the transport's lifecycle, which is not the session's cost).
    for (int i = 0; i < kSessions; ++i) {
      initiator->appBackgrounded();
      now = now.addingTimeInterval(1);
      initiator->appForegrounded();
    }
    platform::MainLoop::runUntil([&] { return results.load() == kSessions + 1; }, std::chrono::seconds(60));
    state.PauseTiming();
    if (written.load() != kSessions + 1) {
      std::lock_guard lock(failureMutex);
      state.SkipWithError(("a session event was not written: " + std::to_string(results.load()) + " results, " +
                           failure).c_str());
      return;
    }
    pipeline.storage->storageQueue()->sync([] {});
    state.ResumeTiming();
  }
  setRate(state);
}

struct Bytes final : ETEventDataObject {
  explicit Bytes(std::vector<uint8_t> bytes) : bytes(std::move(bytes)) {}
  std::optional<std::vector<uint8_t>> transportBytes() const override { return bytes; }
  std::vector<uint8_t> bytes;
};

void BM_Baseline_SendEncodedBytes(benchmark::State& state) {
  SessionGenerator generator(true);
  SessionStartEvent event(generator.nextSession(), *appInfo(), Time());
  event.setInstallationID("fid-bench");
  event.setAuthenticationToken("token");
  const auto bytes = std::make_shared<Bytes>(*event.transportBytes());
  for (auto _ : state) {
    state.PauseTiming();
    Pipeline pipeline(nextStoreDirectory("baseline"));
    std::atomic<int> written{0};
    std::atomic<int> completed{0};
    platform::DispatchSemaphore done;
    state.ResumeTiming();
    for (int i = 0; i < kSessions; ++i) {
      auto transportEvent = pipeline.transport->eventForTransport();
      transportEvent->setDataObject(bytes);
      transportEvent->setQosTier(3);
      pipeline.transport->sendDataEvent(transportEvent, [&](bool ok, const std::optional<platform::Error>&) {
        if (ok) ++written;
        if (++completed == kSessions) done.signal();
      });
    }
    done.wait();
    state.PauseTiming();
    if (written.load() != kSessions) {
      state.SkipWithError("an event was not written");
      return;
    }
    pipeline.storage->storageQueue()->sync([] {});
    state.ResumeTiming();
  }
  setRate(state);
}

// Medians of several repetitions: a shared machine's load moves single runs a lot.
BENCHMARK(BM_SessionStartToEventWritten)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Baseline_SendEncodedBytes)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  reporter.printRatios("Session events per second, ours / baseline (goal: >= 0.5x):",
                       {{"BM_SessionStartToEventWritten/iterations:3/repeats:7/real_time",
                         "BM_Baseline_SendEncodedBytes/iterations:3/repeats:7/real_time"}},
                       {brivel::bench::Measure::counterNamed("events_per_s")});
  std::filesystem::remove_all(benchDirectory());
  benchmark::Shutdown();
  return 0;
}
