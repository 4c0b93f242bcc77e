// The crash core's costs, each beside a baseline from the same run:
//  - 10,000 record-file section lines through CRFile, buffered and unbuffered, beside
//    write(2) of the very same bytes in the 999-byte pieces the buffer hands to the kernel
//    (goal: buffered at least half the baseline's speed, i.e. a time ratio of 2.0x or less);
//  - finding the image of an address in the crash-time table beside dladdr;
//  - setting the crash-time context up (report folder files included) beside writing the
//    same files' bytes with write(2) after one dl_iterate_phdr pass.
//
//   build/<dir>/bench/crash/bench_crash
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/common/ratio_reporter.h"
#include "crash-reporting/core/binary_images.h"
#include "crash-reporting/core/context.h"
#include "crash-reporting/core/file.h"
#include "platform/process_state/process_state.h"

namespace {

constexpr int kLines = 10000;

const std::filesystem::path& benchFolder() {
  static const std::filesystem::path folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "crash-bench-XXXXXX").string();
    return std::filesystem::path(mkdtemp(pattern.data()));
  }();
  return folder;
}

std::string readAll(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

// One frame-like section a line, as a thread record writes them.
void writeLines(bool buffered, const std::string& path) {
  CRFile file;
  if (!CRFileInitWithPathMode(&file, path.c_str(), false, buffered)) std::abort();
  for (int i = 0; i < kLines; ++i) {
    CRFileWriteSectionStart(&file, "frame");
    CRFileWriteHashStart(&file);
    CRFileWriteHashEntryUint64(&file, "index", static_cast<uint64_t>(i));
    CRFileWriteHashEntryUint64(&file, "pc", 0x7f3a12345678ull + static_cast<uint64_t>(i) * 16);
    CRFileWriteHashEntryString(&file, "symbol", "_ZN6brivel4core12recordFrameEv");
    CRFileWriteHashEntryBoolean(&file, "crashed", i == 0);
    CRFileWriteHashEnd(&file);
    CRFileWriteSectionEnd(&file);
  }
  CRFileShut(&file);
}

void writeBytes(const std::string& path, const std::string& bytes, size_t piece) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  for (size_t at = 0; at < bytes.size(); at += piece) {
    const size_t length = std::min(piece, bytes.size() - at);
    if (write(fd, bytes.data() + at, length) != static_cast<ssize_t>(length)) std::abort();
  }
  close(fd);
}

void BM_CRFileBuffered(benchmark::State& state) {
  const std::string path = (benchFolder() / "buffered.crrecord").string();
  for (auto _ : state) writeLines(true, path);
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
}

void BM_CRFileUnbuffered(benchmark::State& state) {
  const std::string path = (benchFolder() / "unbuffered.crrecord").string();
  for (auto _ : state) writeLines(false, path);
}

void BM_Baseline_WriteSameBytes(benchmark::State& state) {
  const std::string source = (benchFolder() / "source.crrecord").string();
  writeLines(true, source);
  const std::string bytes = readAll(source);
  const std::string path = (benchFolder() / "baseline.crrecord").string();
  for (auto _ : state) writeBytes(path, bytes, kCRFileBufferSize - 1);
  state.counters["bytes"] = static_cast<double>(bytes.size());
}

bool contextReady = false;

void ensureContext() {
  if (contextReady) return;
  CRContextInitData data;
  data.rootPath = (benchFolder() / "report").string();
  std::filesystem::create_directories(*data.rootPath);
  data.previouslyCrashedFileRootPath = benchFolder().string();
  if (!CRContextInitialize(&data)) std::abort();
  CRBinaryImageWaitForPendingEvents();
  contextReady = true;
}

// An address inside libc, one of the later images of the table.
uintptr_t libcAddress() { return reinterpret_cast<uintptr_t>(&fwrite) + 1; }

void BM_CRBinaryImageSafeFind(benchmark::State& state) {
  ensureContext();
  const uintptr_t address = libcAddress();
  CRBinaryImage slot;
  for (auto _ : state) {
    const bool found = CRBinaryImageSafeFindImageForAddress(address, &slot);
    benchmark::DoNotOptimize(found);
    if (!found) state.SkipWithError("address not found");
  }
}

void BM_Baseline_Dladdr(benchmark::State& state) {
  const auto* address = reinterpret_cast<const void*>(libcAddress());
  Dl_info info;
  for (auto _ : state) benchmark::DoNotOptimize(dladdr(address, &info));
}

void BM_CRContextInitialize(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    if (contextReady) platform::resetProcessState();
    contextReady = false;
    state.ResumeTiming();
    ensureContext();
  }
}

int countImage(struct dl_phdr_info*, size_t, void* count) {
  ++*static_cast<int*>(count);
  return 0;
}

void BM_Baseline_ScanAndWriteReportFiles(benchmark::State& state) {
  ensureContext();
  const std::filesystem::path report = benchFolder() / "report";
  const std::string metadata = readAll(report / "metadata.crrecord");
  const std::string images = readAll(report / "binary_images.crrecord");
  const std::string copy = (benchFolder() / "copy.crrecord").string();
  for (auto _ : state) {
    int count = 0;
    dl_iterate_phdr(countImage, &count);
    benchmark::DoNotOptimize(count);
    writeBytes(copy, metadata, metadata.size());
    writeBytes(copy, images, images.size());
  }
}

BENCHMARK(BM_CRFileBuffered)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CRFileUnbuffered)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Baseline_WriteSameBytes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CRBinaryImageSafeFind);
BENCHMARK(BM_Baseline_Dladdr);
BENCHMARK(BM_CRContextInitialize)->Unit(benchmark::kMicrosecond)->Iterations(30);
BENCHMARK(BM_Baseline_ScanAndWriteReportFiles)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  reporter.printRatios("The crash core beside its baselines (ratio = ours / baseline, time):",
                       {{"BM_CRFileBuffered", "BM_Baseline_WriteSameBytes"},
                        {"BM_CRFileUnbuffered", "BM_Baseline_WriteSameBytes"},
                        {"BM_CRBinaryImageSafeFind", "BM_Baseline_Dladdr"},
                        {"BM_CRContextInitialize/iterations:30", "BM_Baseline_ScanAndWriteReportFiles"}});
  const auto buffered = reporter.value("BM_CRFileBuffered");
  const auto baseline = reporter.value("BM_Baseline_WriteSameBytes");
  if (buffered && baseline && *buffered > 0) {
    std::printf("\nbuffered CRFile speed = %.2fx of write(2) of the same bytes (goal: 0.50x or more)\n",
                *baseline / *buffered);
  }
  std::error_code error;
  std::filesystem::remove_all(benchFolder(), error);
  benchmark::Shutdown();
  return 0;
}
