#include "Brivel/model/user_defaults_manager.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Brivel/model/tests/holders_test_support.h"

namespace brivel {
namespace {

using platform::PlistValue;

class UserDefaultsManagerTest : public testing::DataDirectoryTest {};

struct DoubleSetting {
  const char* key;
  double (UserDefaultsManager::*read)() const;
};

const std::vector<DoubleSetting>& doubleSettings() {
  static const std::vector<DoubleSetting> settings = {
      {"nettoSalary", &UserDefaultsManager::nettoSalary},
      {"nettoSalaryJanuary", &UserDefaultsManager::nettoSalaryJanuary},
      {"nettoSalaryFebruary", &UserDefaultsManager::nettoSalaryFebruary},
      {"nettoSalaryMarch", &UserDefaultsManager::nettoSalaryMarch},
      {"nettoSalaryApril", &UserDefaultsManager::nettoSalaryApril},
      {"nettoSalaryMay", &UserDefaultsManager::nettoSalaryMay},
      {"nettoSalaryJune", &UserDefaultsManager::nettoSalaryJune},
      {"nettoSalaryJuly", &UserDefaultsManager::nettoSalaryJuly},
      {"nettoSalaryAugust", &UserDefaultsManager::nettoSalaryAugust},
      {"nettoSalarySeptember", &UserDefaultsManager::nettoSalarySeptember},
      {"nettoSalaryOctober", &UserDefaultsManager::nettoSalaryOctober},
      {"nettoSalaryNovember", &UserDefaultsManager::nettoSalaryNovember},
      {"nettoSalaryDecember", &UserDefaultsManager::nettoSalaryDecember},
  };
  return settings;
}

TEST_F(UserDefaultsManagerTest, WithNothingStoredEverySettingReadsItsDefaultWithoutWriting) {
  UserDefaultsManager manager;
  EXPECT_EQ(manager.pickOccurringIndex(), 0);
  for (const auto& setting : doubleSettings()) {
    EXPECT_EQ((manager.*setting.read)(), 0.0) << setting.key;
  }
  EXPECT_FALSE(manager.getNotified());
  EXPECT_FALSE(manager.popViewAfterSaveAndUpdate());
  EXPECT_FALSE(std::filesystem::exists(standardFile()));
  EXPECT_TRUE(platform::UserDefaults::standard()->domain()->dictionary().empty());
}

TEST_F(UserDefaultsManagerTest, LegacyValuesReadFromTheirOwnKeys) {
  // Values as the earlier generation left them: each month a different figure.
  auto standard = platform::UserDefaults::standard();
  ASSERT_TRUE(standard->set("pickOccurringIndex", 1).ok());
  double figure = 1000.0;
  for (const auto& setting : doubleSettings()) {
    ASSERT_TRUE(standard->set(setting.key, figure).ok());
    figure += 1.5;
  }
  UserDefaultsManager manager;
  EXPECT_EQ(manager.pickOccurringIndex(), 1);
  figure = 1000.0;
  for (const auto& setting : doubleSettings()) {
    EXPECT_EQ((manager.*setting.read)(), figure) << setting.key;
    figure += 1.5;
  }
  // A value of another type reads as the default.
  ASSERT_TRUE(standard->set("popViewAfterSaveAndUpdate", "yes").ok());
  ASSERT_TRUE(standard->set("pickOccurringIndex", "1").ok());
  EXPECT_FALSE(manager.popViewAfterSaveAndUpdate());
  EXPECT_EQ(manager.pickOccurringIndex(), 0);
}

TEST_F(UserDefaultsManagerTest, AWriteIsAnnouncedStoredAtOnceAndSeenAfterARelaunch) {
  UserDefaultsManager manager;
  std::vector<bool> seenBeforeChange;
  manager.objectWillChange().subscribe(
      [&] { seenBeforeChange.push_back(manager.popViewAfterSaveAndUpdate()); });

  manager.setPopViewAfterSaveAndUpdate(true);
  EXPECT_EQ(seenBeforeChange, std::vector<bool>{false});
  auto onDisk = platform::loadPreferencesFile(standardFile());
  ASSERT_TRUE(onDisk.has_value());
  EXPECT_EQ(onDisk->at("popViewAfterSaveAndUpdate"), PlistValue(true));
  EXPECT_TRUE(UserDefaultsManager().popViewAfterSaveAndUpdate());

  // Turning the flag off writes false; it does not leave the key empty.
  manager.setGetNotified(false);
  onDisk = platform::loadPreferencesFile(standardFile());
  ASSERT_TRUE(onDisk.has_value());
  EXPECT_EQ(onDisk->at("getNotified"), PlistValue(false));
}

}  // namespace
}  // namespace brivel
