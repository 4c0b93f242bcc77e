#include "Brivel/model/profile_manager.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Brivel/model/tests/holders_test_support.h"
#include "platform/ui/services.h"

namespace brivel {
namespace {

using Profiles = std::vector<std::shared_ptr<ProfileEntity>>;
using platform::ui::EventLog;
using platform::ui::LoggedEventType;

std::shared_ptr<ProfileEntity> makeProfile(bool archived = false) {
  auto profile = std::make_shared<ProfileEntity>();
  profile->setIsArchived(archived);
  return profile;
}

class ProfileManagerTest : public testing::DataDirectoryTest {
 protected:
  void SetUp() override {
    DataDirectoryTest::SetUp();
    defaults_ = platform::UserDefaults::standard();
    manager_ = std::make_unique<ProfileManager>();
    manager_->objectWillChange().subscribe([this] { ++changes_; });
    logMark_ = EventLog::shared().mark();
  }

  void remember(const std::shared_ptr<ProfileEntity>& profile) {
    ASSERT_TRUE(defaults_->set("lastPickedUserID", profile->id().uuidString()).ok());
  }
  std::optional<std::string> storedKey() const { return defaults_->string("lastPickedUserID"); }
  std::size_t animations() const {
    std::size_t count = 0;
    for (const auto& event : EventLog::shared().entriesSince(logMark_)) {
      if (event.type == LoggedEventType::animation) ++count;
    }
    return count;
  }

  std::shared_ptr<platform::UserDefaults> defaults_;
  std::unique_ptr<ProfileManager> manager_;
  int changes_ = 0;
  std::size_t logMark_ = 0;
};

TEST_F(ProfileManagerTest, FirstStartRestoresNothingAndWritesNothing) {
  manager_->restoreSelection({makeProfile(), makeProfile()});
  EXPECT_EQ(manager_->selectedUser(), nullptr);
  EXPECT_EQ(changes_, 0);
  EXPECT_EQ(animations(), 0u);
  EXPECT_FALSE(std::filesystem::exists(standardFile()));
}

TEST_F(ProfileManagerTest, RestoreSelectsTheFirstUnarchivedMatchInListOrder) {
  auto first = makeProfile();
  auto second = makeProfile();
  auto third = makeProfile();
  remember(third);
  manager_->restoreSelection({first, second, third});
  EXPECT_EQ(manager_->selectedUser(), third);
  EXPECT_EQ(animations(), 1u);

  // An archived copy carrying the same id is skipped for the unarchived one after it.
  auto archivedTwin = makeProfile(true);
  archivedTwin->setId(third->id());
  manager_->restoreSelection({archivedTwin, third});
  EXPECT_EQ(manager_->selectedUser(), third);

  // Each restore that finds the profile publishes again, even when nothing changes.
  EXPECT_EQ(changes_, 2);
  EXPECT_EQ(storedKey(), third->id().uuidString());
}

TEST_F(ProfileManagerTest, RestoreClearsAndForgetsWhenTheRememberedProfileIsUnusable) {
  auto kept = makeProfile();
  auto archived = makeProfile(true);
  struct Case {
    const char* what;
    std::shared_ptr<ProfileEntity> remembered;
    Profiles profiles;
  };
  const std::vector<Case> cases = {
      {"the list is empty", kept, {}},
      {"the remembered profile is archived", archived, {kept, archived}},
      {"the remembered profile is gone", makeProfile(), {kept, archived}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    manager_->select(kept);
    remember(c.remembered);
    const std::size_t animationsBefore = animations();

    manager_->restoreSelection(c.profiles);
    EXPECT_EQ(manager_->selectedUser(), nullptr);
    EXPECT_FALSE(defaults_->object("lastPickedUserID").has_value());
    EXPECT_EQ(animations(), animationsBefore + 1);
  }
}

TEST_F(ProfileManagerTest, SelectAndClearWriteTheSelectionFirst) {
  auto profile = makeProfile();
  std::vector<std::pair<bool, std::optional<std::string>>> seen;  // selection set?, key
  manager_->objectWillChange().subscribe(
      [&] { seen.emplace_back(manager_->selectedUser() != nullptr, storedKey()); });

  manager_->select(profile);
  EXPECT_EQ(manager_->selectedUser(), profile);
  EXPECT_EQ(storedKey(), profile->id().uuidString());
  manager_->clearSelection();
  EXPECT_EQ(manager_->selectedUser(), nullptr);
  EXPECT_FALSE(storedKey().has_value());

  // Observers hear of each change before it happens and before the key is written.
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::make_pair(false, std::optional<std::string>()));
  EXPECT_EQ(seen[1], std::make_pair(true, std::optional<std::string>(profile->id().uuidString())));
  // select and clear have no animation of their own.
  EXPECT_EQ(animations(), 0u);
}

TEST_F(ProfileManagerTest, TheSelectionSurvivesANewLaunch) {
  auto first = makeProfile();
  auto picked = makeProfile();
  manager_->select(picked);

  // The id is on disk as the upper-case UUID string.
  auto onDisk = platform::loadPreferencesFile(standardFile());
  ASSERT_TRUE(onDisk.has_value());
  ASSERT_EQ(onDisk->count("lastPickedUserID"), 1u);
  EXPECT_EQ(onDisk->at("lastPickedUserID"), platform::PlistValue(picked->id().uuidString()));

  ProfileManager relaunched;
  EXPECT_EQ(relaunched.selectedUser(), nullptr);
  relaunched.restoreSelection({first, picked});
  EXPECT_EQ(relaunched.selectedUser(), picked);
}

TEST_F(ProfileManagerTest, DirectWritesOfBothFields) {
  auto profile = makeProfile();
  manager_->select(profile);
  manager_->setSelectedUser(nullptr);
  manager_->setLastPickedUserID(std::nullopt);
  EXPECT_EQ(manager_->selectedUser(), nullptr);
  EXPECT_FALSE(defaults_->object("lastPickedUserID").has_value());
  manager_->setLastPickedUserID("not a profile id");
  EXPECT_EQ(manager_->lastPickedUserID(), "not a profile id");
  // A null profile handed to select clears instead of crashing.
  manager_->select(profile);
  manager_->select(nullptr);
  EXPECT_EQ(manager_->selectedUser(), nullptr);
  EXPECT_FALSE(manager_->lastPickedUserID().has_value());
}

}  // namespace
}  // namespace brivel
