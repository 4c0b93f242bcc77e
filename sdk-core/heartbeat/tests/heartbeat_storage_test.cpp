#include "sdk-core/heartbeat/heartbeat_storage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <optional>
#include <set>
#include <thread>

#include "platform/foundation/data_notices.h"
#include "platform/foundation/defaults.h"
#include "platform/testing/temp_directory.h"
#include "sdk-core/heartbeat/heartbeat_controller.h"
#include "sdk-core/heartbeat/tests/heartbeat_test_support.h"

namespace {

using platform::Date;

using HeartbeatStorageTest = HeartbeatDataDirectoryTest;

HeartbeatsBundle bundleWith(const std::string& agent) {
  HeartbeatsBundle bundle(30);
  bundle.append(Heartbeat(agent, Date{86400.0}, {TimePeriod::daily}));
  return bundle;
}

// Reads what the storage holds without changing it.
std::optional<HeartbeatsBundle> stored(HeartbeatStorage& storage) {
  std::optional<HeartbeatsBundle> seen;
  storage.updateSynchronously([&](std::optional<HeartbeatsBundle> bundle) {
    seen = bundle;
    return bundle;
  });
  return seen;
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::filesystem::path& path) {
  auto bytes = platform::readFileContents(path);
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<missing>");
}

TEST_F(HeartbeatStorageTest, OneStoragePerIdentifierOverItsOwnFileAndQueue) {
  auto storage = HeartbeatStorage::sharedInstance("1:2:ios:3");
  EXPECT_EQ(HeartbeatStorage::sharedInstance("1:2:ios:3"), storage);
  EXPECT_NE(HeartbeatStorage::sharedInstance("1:2:ios:4"), storage);
  EXPECT_EQ(storage->queue()->label(), "ruv.heartbeat.storage.1:2:ios:3");
  EXPECT_EQ(FileStorage::storageForID("1:2:ios:3")->url(), heartbeatFile("heartbeats-1_2_ios_3"));

  // The directory does not exist yet; the first save makes it.
  EXPECT_FALSE(std::filesystem::exists(heartbeatFile("").parent_path()));
  storage->updateSynchronously([](auto) { return bundleWith("a"); });
  EXPECT_TRUE(std::filesystem::exists(heartbeatFile("heartbeats-1_2_ios_3")));

  std::weak_ptr<HeartbeatStorage> weak = storage;
  storage.reset();
  EXPECT_TRUE(weak.expired());
  auto reopened = HeartbeatStorage::sharedInstance("1:2:ios:3");
  EXPECT_EQ(stored(*reopened), bundleWith("a"));
}

TEST_F(HeartbeatStorageTest, FileNamesMadeFromIdentifiersStayInTheirFolder) {
  const std::filesystem::path folder = heartbeatFile("").parent_path();
  // Ordinary identifiers keep the names stored files already have.
  EXPECT_EQ(FileStorage::storageForID("1:2:ios:3")->url(), folder / "heartbeats-1_2_ios_3");
  EXPECT_EQ(FileStorage::storageForID("app.example-1")->url(), folder / "heartbeats-app.example-1");

  // Hostile ones name one file inside the folder, each its own.
  std::set<std::filesystem::path> files;
  const std::vector<std::string> ids = {"2:../../x", "/etc/passwd", "a/b", "..", "a%2Fb", std::string("a\0b", 3)};
  for (const std::string& id : ids) {
    SCOPED_TRACE(id);
    auto storage = HeartbeatStorage::sharedInstance(id);
    storage->updateSynchronously([](auto) { return bundleWith("a"); });
    const std::filesystem::path file = FileStorage::storageForID(id)->url();
    EXPECT_EQ(file.parent_path(), folder);
    EXPECT_TRUE(std::filesystem::is_regular_file(file));
    files.insert(file);
  }
  EXPECT_EQ(files.size(), 6u);
  std::size_t entries = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory_)) entries += entry.is_regular_file();
  EXPECT_EQ(entries, files.size()) << "nothing was written outside the folder";
}

TEST_F(HeartbeatStorageTest, SavingNothingLeavesAnEmptyFileThatReadsAsNothing) {
  auto storage = HeartbeatStorage::sharedInstance("app");
  storage->updateSynchronously([](auto) { return bundleWith("a"); });
  storage->updateSynchronously([](auto) { return std::optional<HeartbeatsBundle>(); });
  EXPECT_EQ(readFile(heartbeatFile("heartbeats-app")), "");
  EXPECT_EQ(stored(*storage), std::nullopt);
}

TEST_F(HeartbeatStorageTest, DamagedFilesAreSetAsideToldAndStartedAfresh) {
  const auto file = heartbeatFile("heartbeats-app");
  const auto full = encodeHeartbeatsBundle(bundleWith("a"));
  // The last one, found by fuzzing, aborted every start: a failed append rebuilt the bundle
  // with the file's capacity of 2^62 slots.
  const std::string damagedFiles[] = {
      "not a bundle", std::string(full.begin(), full.begin() + 40),
      R"({"buffer":{"circularQueue":[null],"tailIndex":5},"capacity":4611686018427387904,"lastAddedHeartbeatDates":[]})"};
  for (const std::string& damaged : damagedFiles) {
    platform::DataNotices::shared().reset();
    std::filesystem::remove(file.string() + ".unreadable");
    writeFile(file, damaged);
    // A new storage reads the file afresh (a live one keeps what it read).
    auto storage = HeartbeatStorage::sharedInstance("app");
    std::optional<HeartbeatsBundle> seen = bundleWith("sentinel");
    storage->updateSynchronously([&](std::optional<HeartbeatsBundle> bundle) {
      seen = bundle;
      return bundleWith("b");
    });
    EXPECT_EQ(seen, std::nullopt) << damaged;
    EXPECT_EQ(stored(*storage), bundleWith("b"));
    EXPECT_EQ(readFile(file.string() + ".unreadable"), damaged);
    const auto notices = platform::DataNotices::shared().all();
    ASSERT_EQ(notices.size(), 1u) << damaged;
    EXPECT_NE(notices[0].text.find("the heartbeats file"), std::string::npos) << notices[0].text;
  }

  // Through the controller, as at a start: the day's heartbeat is logged and sent.
  writeFile(heartbeatFile("heartbeats-app-2"), damagedFiles[2]);
  HeartbeatController controller("app-2");
  controller.log("agent/1");
  EXPECT_FALSE(controller.flush().isEmpty());
}

TEST_F(HeartbeatStorageTest, AFailedWriteKeepsThePreviousFileAndFailsFetchAndReplace) {
  auto storage = HeartbeatStorage::sharedInstance("app");
  storage->updateSynchronously([](auto) { return bundleWith("kept"); });
  const std::string before = readFile(heartbeatFile("heartbeats-app"));

  for (auto fault : {platform::FileWriteFault::Sync, platform::FileWriteFault::Rename}) {
    platform::setFileWriteFault(fault);
    auto result = storage->fetchAndReplace([](auto) { return std::optional<HeartbeatsBundle>(); });
    EXPECT_EQ(result.error, StorageError::writeError);
    EXPECT_EQ(result.previous, std::nullopt);
    storage->updateSynchronously([](auto) { return bundleWith("lost"); });  // dropped quietly
    platform::setFileWriteFault(platform::FileWriteFault::None);
    EXPECT_EQ(readFile(heartbeatFile("heartbeats-app")), before);
  }

  auto result = storage->fetchAndReplace([](auto) { return std::optional<HeartbeatsBundle>(); });
  EXPECT_FALSE(result.error);
  EXPECT_EQ(result.previous, bundleWith("kept"));
}

TEST_F(HeartbeatStorageTest, AsynchronousUpdatesRunInOrderBeforeALaterSynchronousOne) {
  auto storage = HeartbeatStorage::sharedInstance("app");
  for (int i = 0; i < 20; ++i) {
    storage->updateAsynchronously([i](std::optional<HeartbeatsBundle> bundle) {
      HeartbeatsBundle next = bundle ? *bundle : HeartbeatsBundle(30);
      next.append(Heartbeat(std::to_string(i), Date{double(i) * 86400.0}, {}));
      return std::optional<HeartbeatsBundle>(next);
    });
  }
  storage.reset();  // queued work keeps the storage alive
  auto again = HeartbeatStorage::sharedInstance("app");
  auto bundle = stored(*again);
  ASSERT_TRUE(bundle);
  ASSERT_EQ(bundle->heartbeats().size(), 20u);
  EXPECT_EQ(bundle->heartbeats().back().agent, "19");
}

TEST_F(HeartbeatStorageTest, DefaultsStorageKeepsBytesUnderItsKey) {
  auto defaults = platform::UserDefaults::suite("heartbeat-storage-test");
  ASSERT_TRUE(defaults);
  UserDefaultsStorage storage(defaults, "heartbeats");
  EXPECT_EQ(storage.read(), std::nullopt);
  EXPECT_EQ(storage.write(std::vector<uint8_t>{1, 2}), std::nullopt);
  EXPECT_EQ(storage.read(), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(storage.write(std::nullopt), std::nullopt);
  EXPECT_EQ(storage.read(), std::nullopt);
}

// Bytes kept in memory, with the number of writes.
class CountingStorage final : public Storage {
 public:
  std::optional<std::vector<uint8_t>> read() override { return bytes; }
  std::optional<StorageError> write(const std::optional<std::vector<uint8_t>>& written) override {
    ++writes;
    bytes = written;
    return std::nullopt;
  }
  std::atomic<int> writes{0};
  std::optional<std::vector<uint8_t>> bytes;
};

TEST_F(HeartbeatStorageTest, ABurstOfLogsIsOneWriteAndALogThatChangesNothingWritesNothing) {
  auto counting = std::make_unique<CountingStorage>();
  CountingStorage& disk = *counting;
  auto storage = std::make_shared<HeartbeatStorage>("burst", std::move(counting));
  double day = 0;
  HeartbeatController controller(storage, [&day] { return Date{day * 86400.0}; });

  // Hold the queue so the whole burst is queued before any of it runs.
  std::promise<void> gate;
  storage->queue()->async([opened = gate.get_future().share()] { opened.wait(); });
  for (int i = 0; i < 40; ++i) {
    day += 1;
    controller.log("agent");
  }
  gate.set_value();
  storage->queue()->sync([] {});  // the burst has run and queued its write
  storage->queue()->sync([] {});  // which has run now
  EXPECT_EQ(disk.writes, 1);
  ASSERT_TRUE(disk.bytes);
  auto written = decodeHeartbeatsBundle(*disk.bytes);
  ASSERT_TRUE(written);
  EXPECT_EQ(written->heartbeats().size(), 30u);  // the capacity
  EXPECT_EQ(written->lastAddedHeartbeatDates.at(TimePeriod::daily), Date{40 * 86400.0});

  // The same day again adds nothing; neither does an update that returns what it was given.
  controller.log("agent");
  storage->updateSynchronously([](std::optional<HeartbeatsBundle> bundle) { return bundle; });
  EXPECT_EQ(storage->synchronize(), std::nullopt);
  EXPECT_EQ(disk.writes, 1);
  // The flush empties the store with one more write, before it returns.
  auto flushed = controller.flush();
  ASSERT_EQ(flushed.userAgentPayloads.size(), 1u);
  EXPECT_EQ(flushed.userAgentPayloads.front().dates.size(), 30u);
  EXPECT_EQ(disk.writes, 2);
}

// The exit tests run their body in a child process that ends with exit(0); the parent then
// looks at what the child left on disk. The child re-runs the test from the start, so the data
// directory is handed to it in the environment.
class HeartbeatExitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    if (const char* inherited = std::getenv("HEARTBEAT_EXIT_TEST_DIR")) {
      directory_ = inherited;
    } else {
      owned_.emplace("sdk-heartbeat-exit");
      directory_ = owned_->path();
      ::setenv("HEARTBEAT_EXIT_TEST_DIR", directory_.c_str(), 1);
    }
    platform::FileLocations::setDataDirectory(directory_);
  }
  void TearDown() override {
    ::unsetenv("HEARTBEAT_EXIT_TEST_DIR");
    platform::FileLocations::setDataDirectory({});
  }
  // The parent's folder, removed when the test ends; the child only borrows it.
  std::optional<platform::testing::TempDirectory> owned_;
  std::filesystem::path directory_;
};

void holdQueue(const std::shared_ptr<HeartbeatStorage>& storage) {
  storage->queue()->async([] { std::this_thread::sleep_for(std::chrono::milliseconds(200)); });
}

TEST_F(HeartbeatExitTest, WhatIsLoggedBeforeACleanExitIsOnDiskAfterIt) {
  EXPECT_EXIT(
      {
        auto storage = HeartbeatStorage::sharedInstance("1:1:ios:exit");
        holdQueue(storage);  // the log is still queued when exit begins
        HeartbeatController controller(storage, [] { return Date{5 * 86400.0}; });
        controller.log("agent");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  auto reopened = HeartbeatStorage::sharedInstance("1:1:ios:exit");
  auto bundle = stored(*reopened);
  ASSERT_TRUE(bundle);
  ASSERT_EQ(bundle->heartbeats().size(), 1u);
  EXPECT_EQ(bundle->heartbeats().front().date, Date{5 * 86400.0});
}

// A static the child's storage writes through; destroyed before the exit handler ran, it
// would be used while destroyed. Its destructor lingers so that queued work would meet it.
struct Witness {
  std::atomic<bool> alive{true};
  ~Witness() {
    alive = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
  }
};

Witness& witness() {
  static Witness instance;
  return instance;
}

class WitnessedStorage final : public Storage {
 public:
  std::optional<std::vector<uint8_t>> read() override { return std::nullopt; }
  std::optional<StorageError> write(const std::optional<std::vector<uint8_t>>&) override {
    if (!witness().alive) _exit(3);
    return std::nullopt;
  }
};

TEST_F(HeartbeatExitTest, QueuedWorkNeverRunsWhileStaticsAreDestroyed) {
  EXPECT_EXIT(
      {
        witness();  // made before the storage, so destroyed after the storage's exit handler
        auto storage = std::make_shared<HeartbeatStorage>("witnessed", std::make_unique<WitnessedStorage>());
        holdQueue(storage);
        for (int i = 1; i <= 20; ++i) {
          storage->updateAsynchronously([i](std::optional<HeartbeatsBundle> bundle) {
            HeartbeatsBundle next = bundle ? *bundle : HeartbeatsBundle(30);
            next.append(Heartbeat("agent", Date{i * 86400.0}, {TimePeriod::daily}));
            return std::optional<HeartbeatsBundle>(next);
          });
        }
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
