#include "sdk-core/utilities/user_defaults.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <mutex>
#include <thread>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/paths.h"
#include "platform/testing/environment.h"
#include "sdk-core/utilities/logger.h"

namespace {

using platform::PlistValue;

class UserDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UTLLoggerSetSink([this](UTLLoggerLevel, const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    });
  }

  std::vector<std::string> lines() {
    UTLLoggerFlush();
    std::lock_guard lock(mutex_);
    return lines_;
  }

  // What the suite's file holds now (empty when it was never written).
  PlistValue::Dictionary onDisk(const std::string& suite) {
    return platform::loadPreferencesFile(platform::FileLocations::preferencesDirectory() / (suite + ".plist"))
        .value_or(PlistValue::Dictionary{});
  }

  platform::testing::Environment environment_{"utl-defaults-test"};
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

TEST_F(UserDefaultsTest, TypedGettersAnswerAbsentOnMissingKeysAndTypeMismatches) {
  UTLUserDefaults defaults("ruv.test.Typed");
  defaults.setInteger(42, "number");
  defaults.setBool(true, "flag");
  defaults.setDouble(2.5, "real");
  defaults.setObject("text", "string");
  defaults.setObject(PlistValue::Array{1, "two"}, "array");
  defaults.setObject(PlistValue::Dictionary{{"k", "v"}}, "dictionary");

  EXPECT_EQ(defaults.integerForKey("number"), 42);
  EXPECT_EQ(defaults.doubleForKey("number"), 42.0);
  EXPECT_EQ(defaults.integerForKey("real"), 2);
  EXPECT_EQ(defaults.floatForKey("real"), 2.5f);
  EXPECT_EQ(defaults.boolForKey("flag"), true);
  EXPECT_EQ(defaults.boolForKey("number"), true);
  EXPECT_EQ(defaults.stringForKey("string"), "text");
  EXPECT_EQ(defaults.arrayForKey("array")->size(), 2u);
  EXPECT_EQ(defaults.dictionaryForKey("dictionary")->count("k"), 1u);

  // A number read as a string, a string read as a number, a missing key: all absent.
  EXPECT_EQ(defaults.stringForKey("number"), std::nullopt);
  EXPECT_EQ(defaults.integerForKey("string"), std::nullopt);
  EXPECT_EQ(defaults.boolForKey("array"), std::nullopt);
  EXPECT_EQ(defaults.arrayForKey("dictionary"), std::nullopt);
  EXPECT_EQ(defaults.dictionaryForKey("array"), std::nullopt);
  EXPECT_EQ(defaults.integerForKey("missing"), std::nullopt);
  EXPECT_EQ(defaults.boolForKey("missing"), std::nullopt);

  defaults.removeObjectForKey("number");
  defaults.setObject(PlistValue(), "string");  // a null value removes too
  EXPECT_EQ(defaults.objectForKey("number"), std::nullopt);
  EXPECT_EQ(defaults.objectForKey("string"), std::nullopt);
}

TEST_F(UserDefaultsTest, BadKeysAndValuesAreRefusedWithTheirOwnWarnings) {
  UTLUserDefaults defaults("ruv.test.Refused");
  defaults.setObject("value", "");
  EXPECT_EQ(defaults.objectForKey(""), std::nullopt);
  defaults.setObject(PlistValue(platform::PlistUid{3}), "uid");
  defaults.setObject(PlistValue::Array{PlistValue("ok"), PlistValue()}, "nested");
  EXPECT_EQ(defaults.objectForKey("uid"), std::nullopt);
  EXPECT_EQ(defaults.objectForKey("nested"), std::nullopt);

  const auto written = lines();
  ASSERT_EQ(written.size(), 4u);
  EXPECT_EQ(written[0], " - [ZidezaUtilities/UserDefaults][I-UTL000002] Cannot set object for invalid user default key.");
  EXPECT_EQ(written[1], " - <ZidezaUtilities>[I-UTL000001] Cannot get object for invalid user default key.");
  const std::string refused = " - [ZidezaUtilities/UserDefaults][I-UTL000003] Cannot set invalid object to user "
                              "defaults. Must be a string, number, array, dictionary, date, or data. Value: ";
  EXPECT_EQ(written[2].rfind(refused, 0), 0u) << written[2];
  EXPECT_EQ(written[3].rfind(refused, 0), 0u) << written[3];
}

TEST_F(UserDefaultsTest, InstancesOverOneDomainShareValues) {
  UTLUserDefaults first("ruv.test.Shared");
  UTLUserDefaults second("ruv.test.Shared");
  first.setObject("hello", "greeting");
  EXPECT_EQ(second.stringForKey("greeting"), "hello");

  // No suite and an empty suite name both mean the app's own domain.
  UTLUserDefaults unnamed;
  UTLUserDefaults empty(std::string(""));
  EXPECT_EQ(unnamed.appNameRef(), empty.appNameRef());
  unnamed.setInteger(7, "appKey");
  EXPECT_EQ(empty.integerForKey("appKey"), 7);
  EXPECT_EQ(UTLUserDefaults::standardUserDefaults()->integerForKey("appKey"), 7);
  EXPECT_EQ(platform::UserDefaults::standard()->integer("appKey"), 7);
}

TEST_F(UserDefaultsTest, BurstOfWritesFromAThreadWithoutALoopFlushesOnceAfterOneSecond) {
  platform::VirtualClock clock;
  auto defaults = std::make_shared<UTLUserDefaults>("ruv.test.Debounce");
  std::thread writer([&] {
    for (int i = 0; i < 10; ++i) {
      defaults->setInteger(i, "counter");
      clock.advance(std::chrono::milliseconds(50));
    }
  });
  writer.join();
  EXPECT_TRUE(onDisk("ruv.test.Debounce").empty());

  clock.advance(std::chrono::milliseconds(940));  // 0.99 s after the last write
  EXPECT_TRUE(onDisk("ruv.test.Debounce").empty());
  EXPECT_EQ(defaults->scheduledSynchronizationCount(), 0u);

  clock.advance(std::chrono::milliseconds(10));
  ASSERT_TRUE(platform::MainLoop::runUntil([&] { return defaults->scheduledSynchronizationCount() > 0; },
                                           std::chrono::seconds(5)));
  EXPECT_EQ(defaults->scheduledSynchronizationCount(), 1u);
  EXPECT_EQ(onDisk("ruv.test.Debounce").at("counter"), PlistValue(9));
}

TEST_F(UserDefaultsTest, DestroyingAnInstanceFlushesItsPendingWrite) {
  platform::VirtualClock clock;  // never advanced: only the destructor can write
  {
    UTLUserDefaults defaults("ruv.test.Released");
    defaults.setObject("kept", "value");
  }
  EXPECT_EQ(onDisk("ruv.test.Released").at("value"), PlistValue("kept"));
}

TEST_F(UserDefaultsTest, FailedSynchronizeIsLoggedAndValuesStayReadable) {
  UTLUserDefaults defaults("ruv.test.Failing");
  defaults.setObject("memory", "value");
  platform::setFileWriteFault(platform::FileWriteFault::Rename);
  EXPECT_FALSE(defaults.synchronize());
  EXPECT_EQ(defaults.stringForKey("value"), "memory");
  const auto written = lines();
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written.back(), " - [ZidezaUtilities/UserDefaults][I-UTL000004] Cannot synchronize user defaults to disk");

  platform::setFileWriteFault(platform::FileWriteFault::None);
  EXPECT_TRUE(defaults.synchronize());
  EXPECT_EQ(onDisk("ruv.test.Failing").at("value"), PlistValue("memory"));
}

TEST_F(UserDefaultsTest, PendingWritesAreFlushedAtExit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The child is a fresh run of this test: both must use the same folder.
  const auto fixed = std::filesystem::temp_directory_path() / ("utl-defaults-exit-" + std::to_string(::getuid()));
  if (!::testing::internal::InDeathTestChild()) std::filesystem::remove_all(fixed);
  platform::FileLocations::setDataDirectory(fixed);
  const auto file = fixed / "Preferences" / "ruv.test.Exit.plist";
  EXPECT_EXIT(
      {
        platform::VirtualClock clock;  // the timer never fires in the child
        UTLUserDefaults::standardUserDefaults();
        static auto* leaked = new UTLUserDefaults("ruv.test.Exit");
        leaked->setObject("at exit", "value");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(onDisk("ruv.test.Exit").at("value"), PlistValue("at exit"));
  EXPECT_TRUE(std::filesystem::exists(file));
  std::filesystem::remove_all(fixed);
}

}  // namespace
