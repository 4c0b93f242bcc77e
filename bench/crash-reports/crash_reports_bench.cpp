// The user-logging writes an app makes while it runs, beside plain appends of the same bytes:
// - `setCustomValue:forKey:` 10,000 times with distinct keys (every compaction included,
//   the logging queue drained at the end) beside the same 10,000 key-value lines appended
//   with write(2): once to an open file, and once opening and closing the file per line as
//   the writer does;
// - 10,000 log lines of 100 bytes through CRLog beside the same lines appended the same two
//   ways.
// Goal: ours at 0.3x the speed of the plain append or better, that is a ratio (ours /
// baseline, in time) of 3.3 or less. Real and CPU time are both shown: a compaction renames
// its new file over the old one, which on ext4 starts the new file's write-back, and the wait
// for it shows in real time only.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/common/ratio_reporter.h"
#include "crash-reporting/core/context.h"
#include "crash-reporting/reports/user_logging.h"
#include "crash-reporting/reports/rollouts.h"
#include "platform/dispatch/queue.h"

namespace {

constexpr int kWrites = 10000;

std::string hex(const std::string& text) { return CRwiftFileUtility::stringToHexConverterFor(text); }

std::string keyAt(int i) { return "key-" + std::to_string(i); }
std::string valueAt(int i) { return "value-" + std::to_string(i * 7); }
const std::string kLogLine(100, 'x');

// A report folder with the crash-time context set up in it, for the whole program.
const std::filesystem::path& reportFolder() {
  static const std::filesystem::path folder = [] {
    const auto path = std::filesystem::temp_directory_path() / ("crash-reports-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(path);
    CRContextInitData data;
    data.rootPath = path.string();
    data.previouslyCrashedFileRootPath = path.string();
    data.sessionId = "0123456789abcdef0123456789abcdef";
    data.maxLogSize = 64000;
    data.maxKeyValues = 64;
    data.maxCustomExceptions = 8;
    if (!CRContextInitialize(&data) || !CRContextIsReady()) std::fprintf(stderr, "no context\n");
    return path;
  }();
  return folder;
}

void drainLoggingQueue() { CRContextLoggingQueue()->sync([] {}); }

void BM_SetCustomValue(benchmark::State& state) {
  reportFolder();
  for (auto _ : state) {
    for (int i = 0; i < kWrites; ++i) CRUserLoggingRecordUserKeyValue(keyAt(i), valueAt(i));
    drainLoggingQueue();
  }
  state.SetItemsProcessed(state.iterations() * kWrites);
}
BENCHMARK(BM_SetCustomValue)->Unit(benchmark::kMillisecond);

void BM_CRLog(benchmark::State& state) {
  reportFolder();
  for (auto _ : state) {
    for (int i = 0; i < kWrites; ++i) CRLogMessage(kLogLine);
    drainLoggingQueue();
  }
  state.SetItemsProcessed(state.iterations() * kWrites);
}
BENCHMARK(BM_CRLog)->Unit(benchmark::kMillisecond);

std::vector<std::string> kvLines() {
  std::vector<std::string> lines;
  for (int i = 0; i < kWrites; ++i) {
    lines.push_back(R"({"kv":{"key":")" + hex(keyAt(i)) + R"(","value":")" + hex(valueAt(i)) + "\"}}\n");
  }
  return lines;
}

std::vector<std::string> logLines() {
  std::vector<std::string> lines;
  for (int i = 0; i < kWrites; ++i) {
    lines.push_back(R"({"log":{"msg":")" + hex(kLogLine) + R"(","time":1700000000000}})" "\n");
  }
  return lines;
}

void appendToOpenFile(benchmark::State& state, const std::vector<std::string>& lines) {
  const std::string path = (reportFolder() / "baseline.crrecord").string();
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_TRUNC, 0644);
    for (const auto& line : lines) benchmark::DoNotOptimize(::write(fd, line.data(), line.size()));
    ::close(fd);
  }
  state.SetItemsProcessed(state.iterations() * kWrites);
}

void appendOpeningEachTime(benchmark::State& state, const std::vector<std::string>& lines) {
  const std::string path = (reportFolder() / "baseline.crrecord").string();
  for (auto _ : state) {
    ::unlink(path.c_str());
    for (const auto& line : lines) {
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      benchmark::DoNotOptimize(::write(fd, line.data(), line.size()));
      ::close(fd);
    }
  }
  state.SetItemsProcessed(state.iterations() * kWrites);
}

void BM_Baseline_WriteKVLines(benchmark::State& state) { appendToOpenFile(state, kvLines()); }
BENCHMARK(BM_Baseline_WriteKVLines)->Unit(benchmark::kMillisecond);
void BM_Baseline_OpenWriteCloseKVLines(benchmark::State& state) { appendOpeningEachTime(state, kvLines()); }
BENCHMARK(BM_Baseline_OpenWriteCloseKVLines)->Unit(benchmark::kMillisecond);
void BM_Baseline_WriteLogLines(benchmark::State& state) { appendToOpenFile(state, logLines()); }
BENCHMARK(BM_Baseline_WriteLogLines)->Unit(benchmark::kMillisecond);
void BM_Baseline_OpenWriteCloseLogLines(benchmark::State& state) { appendOpeningEachTime(state, logLines()); }
BENCHMARK(BM_Baseline_OpenWriteCloseLogLines)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  reporter.printRatios("User logging beside plain appends of the same bytes (ratio = ours / baseline, goal <= 3.3x):",
                       {{"BM_SetCustomValue", "BM_Baseline_WriteKVLines"},
                        {"BM_SetCustomValue", "BM_Baseline_OpenWriteCloseKVLines"},
                        {"BM_CRLog", "BM_Baseline_WriteLogLines"},
                        {"BM_CRLog", "BM_Baseline_OpenWriteCloseLogLines"}},
                       {brivel::bench::Measure::realTime(), brivel::bench::Measure::cpuTime()});
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(reportFolder(), ignored);
  return 0;
}
