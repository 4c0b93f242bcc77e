// Next-launch handling of one crash report, beside reading and gzipping the same files, in the
// same run:
//
//   BM_NextLaunchReport     a report folder with a 16-thread, 200-frame signal record (frames in
//                           this program's own code, so every one resolves) is collected from
//                           "active", moved through "processing" (symbolicated) to "prepared",
//                           packed and encoded as the crash-report message, and the event bytes
//                           are written to a file, as the transport's store does; the prepared
//                           folder is then deleted;
//   BM_Baseline_ReadAndGzip the same files read and gzipped into one buffer, written to a file.
//
// The goal is 200 ms or less for the report. After the usual table it prints the report as a
// ratio of the baseline.
//
//   build/<dir>/bench/crash-pipeline/bench_crash_pipeline
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "bench/common/ratio_reporter.h"
#include "crash-reporting/pipeline/existing_report_manager.h"
#include "crash-reporting/pipeline/report_uploader.h"
#include "crash-reporting/reports/file_manager.h"
#include "platform/foundation/paths.h"
#include "platform/images/elf_image.h"
#include "platform/images/images.h"
#include "sdk-core/utilities/gzip.h"

namespace {

constexpr int kThreads = 16;
constexpr int kFrames = 200;

// Writes each event's bytes to one file, as the transport's store archives an event.
class StoringTransport : public CREventSending {
 public:
  explicit StoringTransport(std::string path) : path_(std::move(path)) {}
  std::shared_ptr<ETEvent> eventForTransport() override { return ETEvent::initWithMappingID("1206", 1002); }
  void sendDataEvent(const std::shared_ptr<ETEvent>& event, ETStoreCompletion onComplete) override {
    const auto& bytes = event->serializedDataObjectBytes();
    std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes->data()),
                                                 static_cast<std::streamsize>(bytes->size()));
    onComplete(true, std::nullopt);
  }

 private:
  std::string path_;
};

std::string hexUUID(const std::vector<uint8_t>& buildId) {
  static const char* hex = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < 16; ++i) {
    const uint8_t byte = i < buildId.size() ? buildId[i] : 0;
    text += hex[byte >> 4];
    text += hex[byte & 15];
  }
  return text;
}

// The files of one report: metadata, the images loaded now, and the signal record.
struct Fixture {
  std::filesystem::path directory;
  std::filesystem::path source;

  Fixture() {
    directory = std::filesystem::temp_directory_path() / ("bench-crash-pipeline-" + std::to_string(::getpid()));
    std::filesystem::remove_all(directory);
    source = directory / "source";
    std::filesystem::create_directories(source);
    std::ofstream(source / "metadata.crrecord")
        << R"({"identity":{"session_id":"bench","started_at":1000,"build_version":"11.0.0"}})" << "\n"
        << R"({"host":{"platform":"ios"}})" << "\n"
        << R"({"application":{"build_version":"31","display_version":"2.4"}})" << "\n";
    std::ofstream images(source / "binary_images.crrecord");
    uint64_t mainBase = 0;
    uint64_t mainSize = 0;
    for (const auto& image : platform::images::loadedImages()) {
      const auto facts = platform::images::describeLoadedImage(image);
      images << R"({"load":{"path":")" << image.path << R"(","uuid":")" << hexUUID(facts.buildId)
             << R"(","base":)" << image.header << R"(,"size":)" << facts.size << "}}\n";
      if (image.isMainProgram) {
        mainBase = image.header;
        mainSize = facts.size;
      }
    }
    std::mt19937_64 random(7);
    std::ofstream signal(source / "signal.crrecord");
    signal << R"({"signal":{"number":11,"code":1,"address":0}})" << "\n" << R"({"threads":[)";
    for (int thread = 0; thread < kThreads; ++thread) {
      signal << (thread ? "," : "") << R"({"crashed":)" << (thread == 0 ? "true" : "false") << R"(,"stacktrace":[)";
      for (int frame = 0; frame < kFrames; ++frame) {
        signal << (frame ? "," : "") << mainBase + 0x1000 + random() % (mainSize - 0x1000);
      }
      signal << "]}";
    }
    signal << "]}\n";
  }
  ~Fixture() { std::filesystem::remove_all(directory); }
};

Fixture& fixture() {
  static Fixture instance;
  return instance;
}

void BM_NextLaunchReport(benchmark::State& state) {
  auto fileManager = std::make_shared<CRFileManager>();
  fileManager->createReportDirectories();
  auto queue = platform::OperationQueue::make("bench-work");
  queue->setMaxConcurrentOperationCount(1);
  auto transport = std::make_shared<StoringTransport>((fixture().directory / "event.bin").string());
  auto uploader = std::make_shared<CRReportUploader>(queue, fileManager, transport, nullptr, "1:1:ios:1");
  const auto token = CRDataCollectionToken::validToken();
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::copy(fixture().source, fileManager->activePath() + "/bench");
    state.ResumeTiming();
    CRExistingReportManager manager(fileManager, uploader, queue, platform::DispatchQueue::makeSerial("bench"),
                                    nullptr, nullptr);
    manager.collectExistingReports();
    manager.sendUnsentReportsWithToken(token, true);
    queue->waitUntilAllOperationsAreFinished();
    if (!fileManager->preparedPathContents().empty()) state.SkipWithError("report not stored");
  }
}

void BM_Baseline_ReadAndGzip(benchmark::State& state) {
  const auto out = fixture().directory / "baseline.gz";
  for (auto _ : state) {
    std::vector<uint8_t> all;
    for (const char* name : {"metadata.crrecord", "binary_images.crrecord", "signal.crrecord"}) {
      const auto bytes = platform::readFileContents(fixture().source / name);
      all.insert(all.end(), bytes->begin(), bytes->end());
    }
    const auto packed = UTLGzip::utl_dataByGzippingData(all, nullptr);
    std::ofstream(out, std::ios::binary).write(reinterpret_cast<const char*>(packed->data()),
                                               static_cast<std::streamsize>(packed->size()));
  }
}

BENCHMARK(BM_Baseline_ReadAndGzip)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_NextLaunchReport)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
  // Crash-reporting data lives under the fixture's folder, never in the user's data directory.
  platform::FileLocations::setDataDirectory(fixture().directory / "data");
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  reporter.printRatios("Next-launch handling of a 16-thread, 200-frame report beside reading and gzipping its files "
                       "(ratio = ours / baseline; goal: ours <= 200 ms):",
                       {{"BM_NextLaunchReport/min_time:1.000", "BM_Baseline_ReadAndGzip/min_time:1.000"}});
  benchmark::Shutdown();
  return 0;
}
