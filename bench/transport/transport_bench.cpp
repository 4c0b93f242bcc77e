// The event transport's throughput, each figure beside a plain-file baseline of the same run:
//   - sending 2,000 events of 500-byte payloads through ETTransport::sendDataEvent until every
//     completion has come (copy, clock, transformer queue, storage queue, archive, atomic write),
//     beside creating, writing and renaming the same number of files of the same archive size
//     into one directory;
//   - making one batch of 10,000 stored events (read, unarchive and move each file), beside
//     listing the directory, reading each file and renaming it into another directory.
//   - storing 10,000 events straight into the storage (archive, size check, atomic write)
//     until every completion has come, beside creating, writing and renaming 10,000 files of
//     the same archive size (goal: >= 0.5x);
//   - draining 10,000 stored events through the uploader to a loopback collector (batch,
//     encode, gzip, POST, delete), beside plain libcurl POSTs of the same gzipped batches to
//     the same collector (goal: the drain takes <= 1.5x the POSTs' time).
// Figures are events per second; the ratio is ours / baseline (the goal for sending: >= 0.5x).
// Files go to /dev/shm when the machine has it, so both sides measure the work around the
// writes rather than the disk.
//
//   build/<dir>/bench/transport/bench_transport
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/common/scratch_directory.h"
#include "bench/common/plain_post.h"
#include "bench/common/ratio_reporter.h"
#include "platform/dispatch/semaphore.h"
#include "sdk-core/core/endpoints.h"
#include "sdk-core/promises/promise.h"
#include "transport/events/application.h"
#include "transport/events/flat_file_storage.h"
#include "transport/events/registrar.h"
#include "transport/events/transport.h"
#include "transport/upload/messages.h"
#include "transport/upload/testing/log_collector.h"
#include "transport/upload/uploader.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSends = 2000;
constexpr int kBatchEvents = 10000;
constexpr size_t kPayloadBytes = 500;

fs::path benchDirectory() {
  static const fs::path directory = [] {
    fs::path path = brivel::bench::freshScratchDirectory("transport");
    fs::create_directories(path);
    return path;
  }();
  return directory;
}

struct Payload : ETEventDataObject {
  std::optional<std::vector<uint8_t>> transportBytes() const override {
    return std::vector<uint8_t>(kPayloadBytes, 'p');
  }
};

// A storage of its own below the bench directory, served to target 1001 by a registrar and
// transformer of its own, with background tasks on a private service.
struct Pipeline {
  explicit Pipeline(const fs::path& root) {
    ETRegisterEventArchiveClasses();
    auto tasks = std::make_shared<platform::BackgroundTaskService>();
    application = ETApplication::make([tasks] { return tasks; });
    storage = ETFlatFileStorage::make(root, application);
    registrar = std::make_shared<ETRegistrar>();
    registrar->registerStorage(storage, 1001);
    transformer = std::make_shared<ETTransformer>(application, registrar);
    transport = ETTransport::make("1974", {}, 1001, transformer);
  }
  std::shared_ptr<ETApplication> application;
  std::shared_ptr<ETFlatFileStorage> storage;
  std::shared_ptr<ETRegistrar> registrar;
  std::shared_ptr<ETTransformer> transformer;
  std::shared_ptr<ETTransport> transport;
};

std::shared_ptr<ETEvent> newEvent(const ETTransport& transport) {
  auto event = transport.eventForTransport();
  event->setDataObject(std::make_shared<Payload>());
  return event;
}

// The length of one stored event file, for the baselines.
size_t archiveSize() {
  static const size_t size = [] {
    ETRegisterEventArchiveClasses();
    auto event = ETEvent::initWithMappingID("1974", 1001);
    event->setDataObject(std::make_shared<Payload>());
    event->setClockSnapshot(ETClock::snapshot());
    std::optional<platform::Error> error;
    return ETArchiveObject(event, {}, &error)->size();
  }();
  return size;
}

void setRate(benchmark::State& state, int events) {
  state.counters["events_per_s"] =
      benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_SendDataEvents(benchmark::State& state) {
  const fs::path root = benchDirectory() / "send";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(root);
    Pipeline pipeline(root);
    std::vector<std::shared_ptr<ETEvent>> events;
    for (int i = 0; i < kSends; ++i) events.push_back(newEvent(*pipeline.transport));
    std::atomic<int> written{0};
    std::atomic<int> completed{0};
    platform::DispatchSemaphore done;
    state.ResumeTiming();
    for (const auto& event : events) {
      pipeline.transport->sendDataEvent(event, [&](bool ok, const std::optional<platform::Error>&) {
        if (ok) ++written;
        if (++completed == kSends) done.signal();
      });
    }
    done.wait();
    state.PauseTiming();
    if (written.load() != kSends) state.SkipWithError("an event was not written");
    pipeline.storage->storageQueue()->sync([] {});
    state.ResumeTiming();
  }
  setRate(state, kSends);
}

// create + write + close + rename of files of the event's archive size into one directory.
void writeFiles(const fs::path& directory, int count, size_t size, benchmark::State& state) {
  const std::vector<uint8_t> bytes(size, 'a');
  for (int i = 0; i < count; ++i) {
    const std::string name = (directory / ("event-" + std::to_string(i))).string();
    const std::string temporary = (directory / (".event-" + std::to_string(i) + ".tmp")).string();
    const int fd = ::open(temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) || ::close(fd) != 0 ||
        std::rename(temporary.c_str(), name.c_str()) != 0) {
      state.SkipWithError("baseline write failed");
      return;
    }
  }
}

void BM_Baseline_CreateWriteRename(benchmark::State& state) {
  const fs::path directory = benchDirectory() / "baseline-write";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(directory);
    fs::create_directories(directory);
    state.ResumeTiming();
    writeFiles(directory, kSends, archiveSize(), state);
  }
  setRate(state, kSends);
}

void BM_BatchOf10000Events(benchmark::State& state) {
  const fs::path root = benchDirectory() / "batch";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(root);
    Pipeline pipeline(root);
    platform::DispatchSemaphore stored;
    std::atomic<int> count{0};
    for (int i = 0; i < kBatchEvents; ++i) {
      auto event = newEvent(*pipeline.transport);
      event->setClockSnapshot(ETClock::snapshot());
      pipeline.storage->storeEvent(event, [&](bool, const std::optional<platform::Error>&) {
        if (++count == kBatchEvents) stored.signal();
      });
    }
    stored.wait();
    state.ResumeTiming();
    platform::Error error;
    PRMObject batch = PRMPromiseAwait(
        pipeline.storage->batchWithEventSelector(ETStorageEventSelector::eventSelectorForTarget(1001),
                                                 platform::Date::now().addingTimeInterval(600)),
        &error);
    state.PauseTiming();
    auto* taken = batch.get<std::shared_ptr<ETUploadBatch>>();
    if (!taken || (*taken)->events.size() != static_cast<size_t>(kBatchEvents)) state.SkipWithError("batch incomplete");
    state.ResumeTiming();
  }
  setRate(state, kBatchEvents);
}

void BM_Baseline_ReaddirReadRename(benchmark::State& state) {
  const fs::path from = benchDirectory() / "baseline-read";
  const fs::path to = benchDirectory() / "baseline-moved";
  std::vector<uint8_t> buffer(archiveSize() + 4096);
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(from);
    fs::remove_all(to);
    fs::create_directories(from);
    fs::create_directories(to);
    writeFiles(from, kBatchEvents, archiveSize(), state);
    state.ResumeTiming();
    DIR* directory = ::opendir(from.c_str());
    size_t moved = 0;
    while (const dirent* entry = ::readdir(directory)) {
      if (entry->d_name[0] == '.') continue;
      const std::string source = from.string() + "/" + entry->d_name;
      const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
      ssize_t n = 0;
      while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) benchmark::DoNotOptimize(buffer.data());
      ::close(fd);
      const std::string destination = to.string() + "/" + entry->d_name;
      if (std::rename(source.c_str(), destination.c_str()) == 0) ++moved;
    }
    ::closedir(directory);
    if (moved != static_cast<size_t>(kBatchEvents)) state.SkipWithError("baseline moved too few");
  }
  setRate(state, kBatchEvents);
}

// ---- Storing and draining 10,000 events --------------------------------------------------

std::vector<std::shared_ptr<ETEvent>> newEvents(long target) {
  std::vector<std::shared_ptr<ETEvent>> events;
  for (int i = 0; i < kBatchEvents; ++i) {
    auto event = ETEvent::initWithMappingID("1974", target);
    event->setDataObject(std::make_shared<Payload>());
    event->setClockSnapshot(ETClock::snapshot());
    events.push_back(std::move(event));
  }
  return events;
}

void BM_Store10000Events(benchmark::State& state) {
  const fs::path root = benchDirectory() / "store";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(root);
    Pipeline pipeline(root);
    const auto events = newEvents(1001);
    std::atomic<int> written{0};
    std::atomic<int> completed{0};
    platform::DispatchSemaphore done;
    state.ResumeTiming();
    for (const auto& event : events) {
      pipeline.storage->storeEvent(event, [&](bool ok, const std::optional<platform::Error>&) {
        if (ok) ++written;
        if (++completed == kBatchEvents) done.signal();
      });
    }
    done.wait();
    state.PauseTiming();
    if (written.load() != kBatchEvents) state.SkipWithError("an event was not stored");
    state.ResumeTiming();
  }
  setRate(state, kBatchEvents);
}

void BM_Baseline_CreateWriteRename10000(benchmark::State& state) {
  const fs::path directory = benchDirectory() / "baseline-write-10000";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(directory);
    fs::create_directories(directory);
    state.ResumeTiming();
    writeFiles(directory, kBatchEvents, archiveSize(), state);
  }
  setRate(state, kBatchEvents);
}

// A storage and an uploader for target 1003, posting to a loopback collector.
struct DrainEnvironment {
  DrainEnvironment() {
    Pipeline pipeline(benchDirectory() / "drain");
    storage = pipeline.storage;
    application = pipeline.application;
    registrar = std::make_shared<ETRegistrar>();
    uploader = UPUploader::make(registrar, application);
    registrar->registerUploader(uploader, 1003);
    registrar->registerStorage(storage, 1003);
    TELEndpoints::setUploadBaseURL(1003, collector.baseURL());
  }
  LoopbackLogCollector collector;
  std::shared_ptr<ETApplication> application;
  std::shared_ptr<ETFlatFileStorage> storage;
  std::shared_ptr<ETRegistrar> registrar;
  std::shared_ptr<UPUploader> uploader;
};

DrainEnvironment& drainEnvironment() {
  static auto* environment = new DrainEnvironment();
  return *environment;
}

bool hasEvents(ETFlatFileStorage& storage, long target) {
  platform::Error error;
  const PRMObject value = PRMPromiseAwait(storage.hasEventsForTarget(target), &error);
  const bool* has = value.get<bool>();
  return has != nullptr && *has;
}

void BM_Drain10000Events(benchmark::State& state) {
  auto& env = drainEnvironment();
  size_t posts = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const auto events = newEvents(1003);
    platform::DispatchSemaphore stored;
    std::atomic<int> count{0};
    for (const auto& event : events) {
      env.storage->storeEvent(event, [&](bool, const std::optional<platform::Error>&) {
        if (++count == kBatchEvents) stored.signal();
      });
    }
    stored.wait();
    env.collector.clear();
    state.ResumeTiming();
    // High priority, as a forced upload: every tier goes.
    for (int round = 0; round < 100 && hasEvents(*env.storage, 1003); ++round) {
      env.uploader->uploadTarget(1003, 16);
      env.uploader->uploadOperationQueue()->waitUntilAllOperationsAreFinished();
    }
    env.storage->storageQueue()->sync([] {});
    state.PauseTiming();
    if (hasEvents(*env.storage, 1003)) state.SkipWithError("the drain left events behind");
    posts = env.collector.uploadCount();
    size_t delivered = 0;
    for (const auto& upload : env.collector.uploads()) {
      if (!upload.requests) continue;
      for (const auto& request : *upload.requests) delivered += request.events.size();
    }
    if (delivered != static_cast<size_t>(kBatchEvents)) state.SkipWithError("the collector did not get every event");
    state.ResumeTiming();
  }
  state.counters["posts"] = static_cast<double>(posts);
  setRate(state, kBatchEvents);
}


// Events like the drain's in as many posts as it made (read from the collector after the
// drain, which runs first), each body encoded and gzipped beforehand.
void BM_Baseline_CurlPostsOfTheSameBatches(benchmark::State& state) {
  auto& env = drainEnvironment();
  const auto stored = newEvents(1003);
  const size_t posts = std::max<size_t>(1, env.collector.uploadCount());
  std::vector<std::vector<uint8_t>> bodies;
  for (size_t i = 0; i < posts; ++i) {
    ETEventSet part;
    for (size_t j = i; j < stored.size(); j += posts) part.insert(stored[j]);
    bodies.push_back(*UPCompressionHelper::gzippedData(UPConstructRequestProtoWithEvents(part)));
  }
  const std::string url = env.collector.url("/bench/batchlog");
  for (auto _ : state) {
    for (const auto& body : bodies) {
      if (!brivel::bench::plainGzipPost(url, body)) state.SkipWithError("POST failed");
    }
  }
  setRate(state, kBatchEvents);
}

BENCHMARK(BM_SendDataEvents)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Baseline_CreateWriteRename)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_BatchOf10000Events)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Baseline_ReaddirReadRename)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Store10000Events)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Baseline_CreateWriteRename10000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Drain10000Events)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Baseline_CurlPostsOfTheSameBatches)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  const auto rate = brivel::bench::Measure::counterNamed("events_per_s");
  reporter.printRatios("Events per second, ours / baseline (goal for sending: >= 0.5x):",
                       {{"BM_SendDataEvents/iterations:5/real_time", "BM_Baseline_CreateWriteRename/iterations:5/real_time"},
                        {"BM_BatchOf10000Events/iterations:3/real_time",
                         "BM_Baseline_ReaddirReadRename/iterations:3/real_time"},
                        {"BM_Store10000Events/iterations:5/real_time",
                         "BM_Baseline_CreateWriteRename10000/iterations:5/real_time"}},
                       {rate});
  reporter.printRatios("Draining 10,000 events through the uploader, time beside plain POSTs of the same batches "
                       "(ours / POSTs, goal <= 1.5x):",
                       {{"BM_Drain10000Events/iterations:3/real_time",
                         "BM_Baseline_CurlPostsOfTheSameBatches/iterations:3/real_time"}});
  std::filesystem::remove_all(benchDirectory());
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
