#include "sdk-core/utilities/heartbeat_date_storage.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/foundation/paths.h"
#include "sdk-core/heartbeat/tests/heartbeat_test_support.h"

namespace {

using platform::Date;

// Each test gets a fresh data directory, as the heartbeat tests do.
class HeartbeatDateStorageTest : public HeartbeatDataDirectoryTest {};

TEST_F(HeartbeatDateStorageTest, FileStoreKeepsOneDatePerTag) {
  EXPECT_EQ(UTLHeartbeatDateStorage::initWithFileName(""), nullptr);
  auto store = UTLHeartbeatDateStorage::initWithFileName("heartbeats-app");
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(store->fileURL(), platform::FileLocations::applicationSupportDirectory() / "Zideza/TELApp/heartbeats-app");
  EXPECT_EQ(store->heartbeatDateForTag("daily"), std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(store->fileURL()));

  const Date first = Date::fromTimeIntervalSinceReferenceDate(800000000.5);
  ASSERT_TRUE(store->setHearbeatDate(first, "daily"));
  ASSERT_TRUE(store->setHearbeatDate(first.addingTimeInterval(60), "weekly"));
  ASSERT_TRUE(store->setHearbeatDate(first.addingTimeInterval(86400), "daily"));

  auto reopened = UTLHeartbeatDateStorage::initWithFileName("heartbeats-app");
  EXPECT_EQ(reopened->heartbeatDateForTag("daily"), first.addingTimeInterval(86400));
  EXPECT_EQ(reopened->heartbeatDateForTag("weekly"), first.addingTimeInterval(60));
  EXPECT_EQ(reopened->heartbeatDateForTag("monthly"), std::nullopt);
}

TEST_F(HeartbeatDateStorageTest, UnreadableFilesAndNonDateEntriesReadAsNothing) {
  auto store = UTLHeartbeatDateStorage::initWithFileName("dates");
  const auto file = store->fileURL();

  // An entry holding a string instead of a date.
  platform::ArchiveValue::Dictionary mixed = {{std::string("daily"), platform::ArchiveValue("not a date")},
                                              {std::string("weekly"), platform::ArchiveValue(Date{5.0})}};
  ASSERT_TRUE(UTLHeartbeatDateStorage::writeDictionary(mixed, file));
  EXPECT_EQ(store->heartbeatDateForTag("daily"), std::nullopt);
  EXPECT_EQ(store->heartbeatDateForTag("weekly"), Date{5.0});

  for (const std::string contents : {"", "garbage that is no archive"}) {
    { std::ofstream(file, std::ios::trunc) << contents; }
    EXPECT_EQ(store->heartbeatDateForTag("weekly"), std::nullopt);
  }
  // The next write starts a fresh dictionary.
  ASSERT_TRUE(store->setHearbeatDate(Date{7.0}, "daily"));
  EXPECT_EQ(store->heartbeatDateForTag("daily"), Date{7.0});
}

TEST_F(HeartbeatDateStorageTest, DefaultsStoreKeepsADictionaryUnderItsKey) {
  auto defaults = platform::UserDefaults::suite("ruv.test.Heartbeat");
  UTLHeartbeatDateStorageUserDefaults store(defaults, "heartbeat-dates");
  EXPECT_EQ(store.heartbeatDateForTag("daily"), std::nullopt);
  ASSERT_TRUE(store.setHearbeatDate(Date{10.0}, "daily"));
  ASSERT_TRUE(store.setHearbeatDate(Date{20.0}, "weekly"));
  EXPECT_EQ(store.heartbeatDateForTag("daily"), Date{10.0});
  EXPECT_EQ(defaults->dictionary("heartbeat-dates")->size(), 2u);

  (void)defaults->set("heartbeat-dates", platform::PlistValue::Dictionary{{"daily", "text"}});
  EXPECT_EQ(store.heartbeatDateForTag("daily"), std::nullopt);

  // A write the disk refuses is reported, though the date stays readable.
  platform::setFileWriteFault(platform::FileWriteFault::Write);
  EXPECT_FALSE(store.setHearbeatDate(Date{30.0}, "daily"));
  EXPECT_EQ(store.heartbeatDateForTag("daily"), Date{30.0});
}

}  // namespace
