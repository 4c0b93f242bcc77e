#include "sdk-core/heartbeat/heartbeat_storage.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/foundation/defaults.h"
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

TEST_F(HeartbeatStorageTest, SavingNothingLeavesAnEmptyFileThatReadsAsNothing) {
  auto storage = HeartbeatStorage::sharedInstance("app");
  storage->updateSynchronously([](auto) { return bundleWith("a"); });
  storage->updateSynchronously([](auto) { return std::optional<HeartbeatsBundle>(); });
  EXPECT_EQ(readFile(heartbeatFile("heartbeats-app")), "");
  EXPECT_EQ(stored(*storage), std::nullopt);
}

TEST_F(HeartbeatStorageTest, UnreadableOrTornFilesCountAsEmptyAndAreReplaced) {
  auto storage = HeartbeatStorage::sharedInstance("app");
  const auto file = heartbeatFile("heartbeats-app");
  const auto full = encodeHeartbeatsBundle(bundleWith("a"));
  for (const std::string& damaged : {std::string("not a bundle"), std::string(full.begin(), full.begin() + 40)}) {
    writeFile(file, damaged);
    std::optional<HeartbeatsBundle> seen = bundleWith("sentinel");
    storage->updateSynchronously([&](std::optional<HeartbeatsBundle> bundle) {
      seen = bundle;
      return bundleWith("b");
    });
    EXPECT_EQ(seen, std::nullopt) << damaged;
    EXPECT_EQ(stored(*storage), bundleWith("b"));
  }
}

TEST_F(HeartbeatStorageTest, AFailedWriteKeepsThePreviousFileAndFailsFetchAndReplace) {
  auto storage = HeartbeatStorage::sharedInstance("app");
  storage->updateSynchronously([](auto) { return bundleWith("kept"); });
  const std::string before = readFile(heartbeatFile("heartbeats-app"));

  for (auto fault : {platform::FileWriteFault::Sync, platform::FileWriteFault::Rename}) {
    platform::setFileWriteFaultForTesting(fault);
    auto result = storage->fetchAndReplace([](auto) { return std::optional<HeartbeatsBundle>(); });
    EXPECT_EQ(result.error, StorageError::writeError);
    EXPECT_EQ(result.previous, std::nullopt);
    storage->updateSynchronously([](auto) { return bundleWith("lost"); });  // dropped quietly
    platform::setFileWriteFaultForTesting(platform::FileWriteFault::None);
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

}  // namespace
