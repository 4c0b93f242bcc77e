#include "crash-reporting/reports/user_defaults.h"

#include <filesystem>

#include "crash-reporting/reports/tests/test_support.h"
#include "platform/foundation/defaults.h"
#include "platform/foundation/paths.h"

namespace {

using platform::PlistValue;
using reports_test::ReportsTest;
using reports_test::writeFile;

class UserDefaultsTest : public ReportsTest {
 protected:
  ~UserDefaultsTest() override { platform::setFileWriteFault(platform::FileWriteFault::None); }
  std::filesystem::path plistPath() const {
    return platform::FileLocations::applicationSupportDirectory() / "dod.uzeruzaravi" / "CRUserDefaults.plist";
  }
  // What a fresh process reads from the file.
  PlistValue::Dictionary reloaded() {
    environment_.relaunch();
    return CRUserDefaults::standardUserDefaults()->dictionaryRepresentation();
  }
};

TEST_F(UserDefaultsTest, TypedValuesSurviveARelaunchOnlyOnceSynchronized) {
  auto defaults = CRUserDefaults::standardUserDefaults();
  EXPECT_EQ(defaults, CRUserDefaults::standardUserDefaults());
  EXPECT_EQ(defaults->filePath(), plistPath().string());
  defaults->setString("abc", "string");
  defaults->setBool(true, "flag");
  defaults->setInteger(42, "count");
  defaults->setObject(PlistValue::Array{1, "two"}, "list");
  EXPECT_EQ(defaults->stringForKey("string"), "abc");
  EXPECT_EQ(defaults->stringForKey("count"), std::nullopt);
  EXPECT_TRUE(defaults->boolForKey("flag"));
  EXPECT_FALSE(defaults->boolForKey("string"));
  EXPECT_EQ(defaults->integerForKey("count"), 42);
  EXPECT_EQ(defaults->integerForKey("list"), 0);
  defaults->setString(std::nullopt, "list");  // nil removes
  EXPECT_EQ(defaults->objectForKey("list"), std::nullopt);
  EXPECT_TRUE(reloaded().empty());  // nothing synchronised yet

  defaults = CRUserDefaults::standardUserDefaults();
  defaults->setString("abc", "string");
  defaults->setInteger(42, "count");
  EXPECT_TRUE(defaults->synchronize());
  EXPECT_TRUE(defaults->synchronizeWroteToDisk());
  EXPECT_EQ(reloaded(), (PlistValue::Dictionary{{"count", 42}, {"string", "abc"}}));
}

TEST_F(UserDefaultsTest, AnUnchangedSynchronizeWritesNothing) {
  auto defaults = CRUserDefaults::standardUserDefaults();
  EXPECT_TRUE(defaults->synchronize());
  EXPECT_FALSE(defaults->synchronizeWroteToDisk());
  EXPECT_FALSE(std::filesystem::exists(plistPath()));
  defaults->setInteger(1, "a");
  ASSERT_TRUE(defaults->synchronize());
  std::filesystem::remove(plistPath());
  EXPECT_TRUE(defaults->synchronize());
  EXPECT_FALSE(defaults->synchronizeWroteToDisk());
  EXPECT_FALSE(std::filesystem::exists(plistPath()));
}

TEST_F(UserDefaultsTest, AFailedWriteIsRetriedByTheNextSynchronize) {
  auto defaults = CRUserDefaults::standardUserDefaults();
  defaults->setString("kept", "key");
  platform::setFileWriteFault(platform::FileWriteFault::Rename);
  EXPECT_FALSE(defaults->synchronize());
  EXPECT_FALSE(defaults->synchronizeWroteToDisk());
  EXPECT_FALSE(std::filesystem::exists(plistPath()));
  platform::setFileWriteFault(platform::FileWriteFault::None);
  EXPECT_TRUE(defaults->synchronize());
  EXPECT_TRUE(defaults->synchronizeWroteToDisk());
  EXPECT_EQ(reloaded(), (PlistValue::Dictionary{{"key", "kept"}}));
}

TEST_F(UserDefaultsTest, UnreadableFilesStartEmpty) {
  std::filesystem::create_directories(plistPath() / "inner");
  auto defaults = CRUserDefaults::standardUserDefaults();
  EXPECT_TRUE(defaults->dictionaryRepresentation().empty());
  EXPECT_FALSE(std::filesystem::exists(plistPath()));  // the folder in its place is gone
  defaults->setInteger(3, "k");
  EXPECT_TRUE(defaults->synchronize());
  EXPECT_EQ(reloaded(), (PlistValue::Dictionary{{"k", 3}}));

  writeFile(plistPath(), "not a property list");
  EXPECT_TRUE(reloaded().empty());
}

TEST_F(UserDefaultsTest, MigrationLeavesTheStandardDefaultsOnlyOnceWrittenHere) {
  auto standard = platform::UserDefaults::standard();
  ASSERT_TRUE(standard->set("one", "1").ok());
  ASSERT_TRUE(standard->set("two", 2).ok());
  ASSERT_TRUE(standard->set("other", true).ok());
  auto defaults = CRUserDefaults::standardUserDefaults();

  defaults->migrateFromNSUserDefaults({"missing"});
  EXPECT_FALSE(defaults->synchronizeWroteToDisk());
  EXPECT_EQ(standard->domain()->dictionary(), (PlistValue::Dictionary{{"one", "1"}, {"other", true}, {"two", 2}}));

  platform::setFileWriteFault(platform::FileWriteFault::Write);
  defaults->migrateFromNSUserDefaults({"one", "two"});
  platform::setFileWriteFault(platform::FileWriteFault::None);
  EXPECT_EQ(defaults->objectForKey("one"), PlistValue("1"));
  EXPECT_EQ(standard->object("one"), PlistValue("1"));  // not on disk here: still there

  defaults->migrateFromNSUserDefaults({"one", "two"});
  EXPECT_EQ(standard->object("one"), std::nullopt);
  EXPECT_EQ(standard->object("two"), std::nullopt);
  EXPECT_EQ(standard->object("other"), PlistValue(true));

  EXPECT_EQ(defaults->objectForKeyByMigratingFromNSUserDefaults(std::nullopt), std::nullopt);
  EXPECT_EQ(defaults->objectForKeyByMigratingFromNSUserDefaults("one"), PlistValue("1"));
  EXPECT_EQ(defaults->objectForKeyByMigratingFromNSUserDefaults("other"), PlistValue(true));
  EXPECT_EQ(standard->object("other"), std::nullopt);
  EXPECT_EQ(defaults->objectForKeyByMigratingFromNSUserDefaults("nothing"), std::nullopt);
  EXPECT_EQ(reloaded(), (PlistValue::Dictionary{{"one", "1"}, {"other", true}, {"two", 2}}));
}

}  // namespace
