// The heartbeat logger's cost: 10,000 heartbeats logged (each one a new day, so each changes
// the store) and the "X-telemetry-client" header value built from the store, beside writing
// the same bytes to a file the same way (temporary file, flush, rename) 10,000 times in the
// same run. After the usual table it prints the logger's figure as a ratio of the baseline.
// Goal: at most 1.5x.
//
//   build/<dir>/bench/heartbeat/bench_heartbeat
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "bench/common/scratch_directory.h"
#include "bench/common/ratio_reporter.h"
#include "platform/foundation/paths.h"
#include "sdk-core/heartbeat/heartbeat_controller.h"

namespace {

constexpr int kHeartbeats = 10000;
const std::string kAgent =
    "apple-platform/ios appstore/false deploy/swiftpm device/x86_64 os-version/12 tel-install/10.27.0 "
    "tel-ios/10.27.0 tel-ses/10.27.0 telemetry-vuzirerered/10.27.0";

std::filesystem::path benchDirectory() {
  static const std::filesystem::path directory = [] {
    auto path = brivel::bench::freshScratchDirectory("heartbeat");
    platform::FileLocations::setDataDirectory(path);
    return path;
  }();
  return directory;
}

// A bundle as the store holds it on a busy day: full of heartbeats of one agent.
std::vector<uint8_t> fullBundleBytes() {
  HeartbeatsBundle bundle(HeartbeatController::kHeartbeatsStorageCapacity);
  for (int day = 0; day < 30; ++day) {
    bundle.append(Heartbeat(kAgent, platform::Date{day * 86400.0}, {TimePeriod::daily}));
  }
  return encodeHeartbeatsBundle(bundle);
}

void BM_LogHeartbeatsAndBuildHeader(benchmark::State& state) {
  benchDirectory();
  size_t headerLength = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(platform::FileLocations::applicationSupportDirectory());
    // One new day per heartbeat, so every log adds one and the buffer stays full.
    double day = 0;
    HeartbeatController controller(HeartbeatStorage::sharedInstance("1:1:ios:bench"),
                                   [&day] { return platform::Date{(day += 1) * 86400.0}; });
    state.ResumeTiming();
    for (int i = 0; i < kHeartbeats; ++i) controller.log(kAgent);
    const std::string header = controller.flush().headerValue();  // waits for every log
    headerLength = header.size();
    benchmark::DoNotOptimize(header);
  }
  state.counters["header_chars"] = static_cast<double>(headerLength);
}

void BM_WriteSameBytesWithRename(benchmark::State& state) {
  const auto file = benchDirectory() / "baseline" / "heartbeats";
  const auto bytes = fullBundleBytes();
  for (auto _ : state) {
    for (int i = 0; i < kHeartbeats; ++i) {
      if (!platform::writeFileAtomically(file, bytes).ok()) state.SkipWithError("write failed");
    }
  }
  state.counters["file_bytes"] = static_cast<double>(bytes.size());
}

BENCHMARK(BM_LogHeartbeatsAndBuildHeader)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_WriteSameBytesWithRename)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  reporter.printRatios("10,000 heartbeats + header beside 10,000 atomic writes of the same bytes (ratio = ours / baseline):",
                       {{"BM_LogHeartbeatsAndBuildHeader/iterations:1", "BM_WriteSameBytesWithRename/iterations:1"}});
  std::filesystem::remove_all(benchDirectory());
  benchmark::Shutdown();
  return 0;
}
