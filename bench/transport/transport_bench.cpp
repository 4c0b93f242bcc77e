// The event transport's throughput, each figure beside a plain-file baseline of the same run:
//   - sending 2,000 events of 500-byte payloads through ETTransport::sendDataEvent until every
//     completion has come (copy, clock, transformer queue, storage queue, archive, atomic write),
//     beside creating, writing and renaming the same number of files of the same archive size
//     into one directory;
//   - making one batch of 10,000 stored events (read, unarchive and move each file), beside
//     listing the directory, reading each file and renaming it into another directory.
// Figures are events per second; the ratio is ours / baseline (the goal for sending: >= 0.5x).
// Files go to /dev/shm when the machine has it, so both sides measure the work around the
// writes rather than the disk.
//
//   build/<dir>/bench/transport/bench_transport
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/common/ratio_reporter.h"
#include "platform/dispatch/semaphore.h"
#include "sdk-core/promises/promise.h"
#include "transport/events/application.h"
#include "transport/events/flat_file_storage.h"
#include "transport/events/registrar.h"
#include "transport/events/transport.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSends = 2000;
constexpr int kBatchEvents = 10000;
constexpr size_t kPayloadBytes = 500;

fs::path benchDirectory() {
  static const fs::path directory = [] {
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path path = base / ("bench-transport-" + std::to_string(::getpid()));
    fs::remove_all(path);
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

BENCHMARK(BM_SendDataEvents)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Baseline_CreateWriteRename)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_BatchOf10000Events)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Baseline_ReaddirReadRename)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  const auto rate = brivel::bench::Measure::counterNamed("events_per_s");
  reporter.printRatios("Events per second, ours / baseline (goal for sending: >= 0.5x):",
                       {{"BM_SendDataEvents/iterations:5/real_time", "BM_Baseline_CreateWriteRename/iterations:5/real_time"},
                        {"BM_BatchOf10000Events/iterations:3/real_time",
                         "BM_Baseline_ReaddirReadRename/iterations:3/real_time"}},
                       {rate});
  std::filesystem::remove_all(benchDirectory());
  benchmark::Shutdown();
  return 0;
}
