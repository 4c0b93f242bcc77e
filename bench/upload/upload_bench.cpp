// Event upload: what building a request costs, and what one upload waits for.
//
// Request build of a 10,000-event batch (encode + gzip) in MB/s of encoded bytes, beside
// zlib deflate alone (same parameters) over the pre-encoded bytes and beside the encode
// alone, in the same run. Goal: at least 0.7x the throughput of zlib alone.
// A full upload cycle of a 100-event batch (batch from storage, encode, gzip, POST to the
// loopback collector, delete) beside a plain libcurl POST of the same body to the same server.
// The cycle's ratio is printed for real time and for CPU time of the whole process (all
// threads: the storage, uploader and network threads, and the collector on both sides).
// Beside it, its parts in the same run: the storage's batch and removal, the uploader's
// encode and gzip, and ten round trips between the uploader's and the storage's queues.
#include <curl/curl.h>
#include <zlib.h>

#include <filesystem>
#include <random>

#include "bench/common/plain_post.h"
#include "bench/common/ratio_reporter.h"
#include "platform/dispatch/semaphore.h"
#include "platform/foundation/uuid.h"
#include "sdk-core/core/endpoints.h"
#include "transport/upload/testing/log_collector.h"
#include "transport/events/flat_file_storage.h"
#include "transport/events/registrar.h"
#include "transport/upload/messages.h"
#include "transport/upload/uploader.h"

namespace {

class Payload : public ETEventDataObject {
 public:
  explicit Payload(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::optional<std::vector<uint8_t>> transportBytes() const override { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// 500-byte payloads of words: compressible as real event payloads are.
std::vector<uint8_t> makePayload(std::mt19937& random) {
  static const char* kWords[] = {"session", "crash", "thread", "frame", "0x7f3a", "main", "bills", "report", "42"};
  std::string text;
  while (text.size() < 500) {
    text += kWords[random() % 9];
    text += ' ';
  }
  text.resize(500);
  return {text.begin(), text.end()};
}

ETEventSet makeEvents(size_t count, long target) {
  std::mt19937 random(7);
  ETEventSet events;
  for (size_t i = 0; i < count; ++i) {
    auto event = ETEvent::initWithMappingID(i % 10 == 0 ? "1710" : "1206", target);
    event->setDataObject(std::make_shared<Payload>(makePayload(random)));
    event->setClockSnapshot(ETClock::snapshot());
    events.insert(event);
  }
  return events;
}

const ETEventSet& batch() {
  static const ETEventSet events = makeEvents(10000, 1002);
  return events;
}

// At the level upload bodies are compressed at (zlib's fastest).
std::vector<uint8_t> deflateOnly(const std::vector<uint8_t>& input) {
  z_stream stream{};
  deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> output(deflateBound(&stream, input.size()));
  stream.next_in = const_cast<Bytef*>(input.data());
  stream.avail_in = static_cast<uInt>(input.size());
  stream.next_out = output.data();
  stream.avail_out = static_cast<uInt>(output.size());
  deflate(&stream, Z_FINISH);
  output.resize(stream.total_out);
  deflateEnd(&stream);
  return output;
}

void BM_RequestBuild(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) {
    auto encoded = UPConstructRequestProtoWithEvents(batch());
    auto gzipped = UPCompressionHelper::gzippedData(encoded);
    bytes = encoded.size();
    benchmark::DoNotOptimize(gzipped);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_Baseline_NanopbEncode(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) {
    auto encoded = UPConstructRequestProtoWithEvents(batch());
    bytes = encoded.size();
    benchmark::DoNotOptimize(encoded);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_Baseline_ZlibDeflate(benchmark::State& state) {
  const auto encoded = UPConstructRequestProtoWithEvents(batch());
  for (auto _ : state) benchmark::DoNotOptimize(deflateOnly(encoded));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * encoded.size()));
}

// ---- Upload cycle ----------------------------------------------------------------------

struct UploadEnvironment {
  UploadEnvironment() {
    root = std::filesystem::temp_directory_path() / ("upload-bench-" + platform::UUID::random().lowercaseString());
    ETRegisterEventArchiveClasses();
    storage = ETFlatFileStorage::make(root);
    registrar = std::make_shared<ETRegistrar>();
    uploader = UPUploader::make(registrar);
    registrar->registerUploader(uploader, 1003);
    registrar->registerStorage(storage, 1003);
    TELEndpoints::setUploadBaseURL(1003, collector.baseURL());
  }
  ~UploadEnvironment() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  void store(const ETEventSet& events) {
    for (const auto& event : events) storage->storeEvent(event, [](bool, const auto&) {});
    storage->storageQueue()->sync([] {});
  }

  std::filesystem::path root;
  LoopbackLogCollector collector;
  std::shared_ptr<ETFlatFileStorage> storage;
  std::shared_ptr<ETRegistrar> registrar;
  std::shared_ptr<UPUploader> uploader;
};

UploadEnvironment& environment() {
  static UploadEnvironment env;
  return env;
}

const ETEventSet& cycleEvents() {
  static const ETEventSet events = makeEvents(100, 1003);
  return events;
}

void BM_UploadCycle(benchmark::State& state) {
  auto& env = environment();
  for (auto _ : state) {
    state.PauseTiming();
    env.store(cycleEvents());
    env.collector.clear();
    state.ResumeTiming();
    env.uploader->uploadTarget(1003, 20);
    env.uploader->uploadOperationQueue()->waitUntilAllOperationsAreFinished();
    env.storage->storageQueue()->sync([] {});
  }
  if (env.collector.uploadCount() != 1) state.SkipWithError("the cycle did not post once");
}

// The storage's share of the cycle: the batch of 100 stored events made and removed after
// a successful upload, with nothing posted.
void BM_Part_BatchAndRemove(benchmark::State& state) {
  auto& env = environment();
  const auto selector = ETStorageEventSelector::eventSelectorForTarget(1003);
  for (auto _ : state) {
    state.PauseTiming();
    env.store(cycleEvents());
    state.ResumeTiming();
    auto batch = env.storage->batchWithEventSelector(selector, platform::Date::now().addingTimeInterval(600));
    platform::DispatchSemaphore done(0);
    batch->thenOn(env.storage->storageQueue(), [&](const PRMObject& value) -> PRMObject {
          return env.storage->removeBatchWithID((*value.get<std::shared_ptr<ETUploadBatch>>())->batchID, true);
        })
        ->alwaysOn(env.storage->storageQueue(), [&done] { done.signal(); });
    done.wait();
    if (!batch->isFulfilled()) state.SkipWithError("no batch");
  }
}

// The uploader's own compute in the cycle: the request of the same 100 events encoded and
// gzipped, on the timing thread.
void BM_Part_EncodeAndGzip(benchmark::State& state) {
  for (auto _ : state) {
    auto gzipped = UPCompressionHelper::gzippedData(UPConstructRequestProtoWithEvents(cycleEvents()));
    benchmark::DoNotOptimize(gzipped);
  }
}

// What each of the cycle's hand-offs between its queues costs: 10 round trips from the
// uploader's queue to the storage's and back, as the cycle's steps make them.
void BM_Part_QueueHops(benchmark::State& state) {
  auto& env = environment();
  const auto& uploader = env.uploader->uploadQueue();
  const auto& storage = env.storage->storageQueue();
  for (auto _ : state) {
    platform::DispatchSemaphore done(0);
    std::function<void(int)> hop = [&](int left) {
      if (left == 0) {
        done.signal();
        return;
      }
      storage->async([&, left] { uploader->async([&, left] { hop(left - 1); }); });
    };
    uploader->async([&] { hop(10); });
    done.wait();
  }
}

void BM_Baseline_CurlPost(benchmark::State& state) {
  auto& env = environment();
  auto body = *UPCompressionHelper::gzippedData(UPConstructRequestProtoWithEvents(cycleEvents()));
  const std::string url = env.collector.url("/dummy/api/very/long");
  for (auto _ : state) {
    if (!brivel::bench::plainGzipPost(url, body)) state.SkipWithError("POST failed");
  }
}

BENCHMARK(BM_RequestBuild)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Baseline_ZlibDeflate)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Baseline_NanopbEncode)->Unit(benchmark::kMillisecond)->MinTime(2.0);
// The cycle's work runs on the storage, uploader and network threads and the collector's: the
// CPU column of these three counts every thread of the process, not only the timing one.
BENCHMARK(BM_UploadCycle)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->MeasureProcessCPUTime()->UseRealTime();
// A fixed count: with its storing untimed, a time goal would store for many minutes.
BENCHMARK(BM_Part_BatchAndRemove)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(300)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_Part_EncodeAndGzip)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_Part_QueueHops)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_Baseline_CurlPost)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  reporter.printRatios(
      "Request build of 10,000 events (encode + gzip) beside its parts (time ratio = ours / baseline; "
      "throughput vs zlib alone = 1 / ratio, goal >= 0.7x):",
      {{"BM_RequestBuild/min_time:2.000", "BM_Baseline_ZlibDeflate/min_time:2.000"},
       {"BM_RequestBuild/min_time:2.000", "BM_Baseline_NanopbEncode/min_time:2.000"}});
  reporter.printRatios("One upload cycle of 100 events beside a plain libcurl POST of the same body (ratio = ours / POST):",
                       {{"BM_UploadCycle/min_time:2.000/process_time/real_time",
                         "BM_Baseline_CurlPost/min_time:2.000/process_time/real_time"},
                        {"BM_Part_BatchAndRemove/iterations:300/process_time/real_time",
                         "BM_Baseline_CurlPost/min_time:2.000/process_time/real_time"},
                        {"BM_Part_EncodeAndGzip/min_time:2.000/process_time/real_time",
                         "BM_Baseline_CurlPost/min_time:2.000/process_time/real_time"},
                        {"BM_Part_QueueHops/min_time:2.000/process_time/real_time",
                         "BM_Baseline_CurlPost/min_time:2.000/process_time/real_time"}},
                       {brivel::bench::Measure::realTime(), brivel::bench::Measure::cpuTime()});
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
