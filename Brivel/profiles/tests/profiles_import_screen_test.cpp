// The legacy import screen driven as a user would: the paced steps on the virtual clock, the
// result, the delete-backup switch, and a failed save.
#include "Brivel/profiles/profiles_import_screen.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/dispatch/clock.h"
#include "profiles_test_support.h"

namespace brivel {
namespace {

using namespace platform::ui;
using namespace platform::ui::testing;

class ImportScreenTest : public testing::ProfilesTest {
 protected:
  void SetUp() override {
    ProfilesTest::SetUp();
    Bill rent;
    rent.title = "Rent";
    rent.amount = 900;
    Bill food;
    food.title = "groceries";
    food.amount = 50;
    food.ring = Ring{platform::UUID::random(), "Food"};
    ringVM_->setRingCollection({Ring{platform::UUID::random(), "Food"}});
    billVM_->setBillsCollection({rent, food});
  }

  // The import screen pushed from a root page, as the profiles list pushes it.
  void openImport() {
    auto completions = completions_;
    show([completions] {
      return NavigationStack(NavigationLink(Text("openImport"), [completions] {
        return View(ProfilesImportScreen{std::make_shared<ProfilesImportScreenViewModel>(), [completions] { ++*completions; }});
      }));
    });
    driver().tap(byText("openImport"));
  }

  const Node& importButton() { return driver().get(byId("importAction")); }
  std::optional<double> progress() {
    const Node* bar = driver().find(byKind(NodeKind::progressView));
    return bar ? bar->number(Attr::value) : std::nullopt;
  }
  void advanceStep() {
    clock_.advance(platform::secondsToDuration(kImportStepDelaySeconds));
    driver().tree();
  }
  bool onImportScreen() { return driver().exists(byId("importAction")); }
  // The legacy lists as stored, read by a fresh holder.
  std::size_t storedLegacyBills() { return BillViewModel().billsCollection().size(); }
  std::size_t storedLegacyRings() { return RingViewModel().ringCollection().size(); }

  platform::VirtualClock clock_;
  std::shared_ptr<int> completions_ = std::make_shared<int>(0);
};

TEST_F(ImportScreenTest, RunsInPacedStepsAndSelectsTheImportedProfile) {
  openImport();
  EXPECT_TRUE(importButton().flag(Attr::disabled)) << "an empty name cannot be imported";
  EXPECT_TRUE(driver().exists(byText("Food")));
  EXPECT_TRUE(driver().exists(byText("Rent")));

  driver().type(byId("profileName"), " ");
  EXPECT_FALSE(importButton().flag(Attr::disabled)) << "a name of one space counts as a name";
  driver().tap(byId("importAction"));
  EXPECT_EQ(progress(), 33.0);
  EXPECT_TRUE(importButton().flag(Attr::disabled)) << "close waits for the end";
  EXPECT_EQ(storedProfileCount(), 0u);

  advanceStep();
  EXPECT_EQ(progress(), 66.0);
  EXPECT_EQ(hapticCount("success"), 0u);

  advanceStep();
  EXPECT_FALSE(progress()) << "the bar goes at 100";
  auto profiles = context().fetch<ProfileEntity>();
  ASSERT_EQ(profiles.size(), 1u);
  EXPECT_EQ(profiles[0]->name(), " ") << "the import keeps the name as typed";
  EXPECT_EQ(manager_->selectedUser(), profiles[0]);
  EXPECT_EQ(manager_->lastPickedUserID(), profiles[0]->id().uuidString());
  EXPECT_EQ(hapticCount("success"), 1u);
  EXPECT_TRUE(driver().exists(byId("toast")));
  EXPECT_TRUE(driver().exists(byText("groceries"))) << "the result lists the imported bills";
  EXPECT_TRUE(driver().exists(byText("food"))) << "with their category";
  EXPECT_FALSE(importButton().flag(Attr::disabled));

  // Closing with the switch on (its default) empties both legacy lists.
  driver().tap(byId("importAction"));
  EXPECT_FALSE(onImportScreen());
  EXPECT_EQ(*completions_, 1);
  EXPECT_EQ(storedLegacyBills(), 0u);
  EXPECT_EQ(storedLegacyRings(), 0u);
}

TEST_F(ImportScreenTest, SwitchOffKeepsTheLegacyLists) {
  openImport();
  driver().type(byId("profileName"), "Home");
  driver().tap(byId("importAction"));
  advanceStep();
  advanceStep();
  driver().setOn(byId("deleteBackup"), false);
  driver().tap(byId("importAction"));
  EXPECT_FALSE(onImportScreen());
  EXPECT_EQ(storedLegacyBills(), 2u);
  EXPECT_EQ(storedLegacyRings(), 1u);
}

TEST_F(ImportScreenTest, FailedSaveIsShownAsAFailureAndKeepsTheLegacyLists) {
  auto current = addProfile("Current");
  manager_->select(current);
  openImport();
  driver().type(byId("profileName"), "Home");
  driver().tap(byId("importAction"));
  advanceStep();
  context().setSaveFaultInjection([](platform::SaveStep step) { return step == platform::SaveStep::WriteRow; });
  advanceStep();
  context().setSaveFaultInjection({});

  EXPECT_EQ(manager_->selectedUser(), current) << "nothing is selected after a failed save";
  EXPECT_EQ(hapticCount("success"), 0u);
  EXPECT_FALSE(driver().exists(byId("toast")));
  EXPECT_FALSE(driver().exists(byId("deleteBackup")));
  EXPECT_TRUE(driver().exists(byText(std::string(localizable_importFailed))));
  EXPECT_FALSE(driver().exists(byText("groceries")));
  EXPECT_FALSE(importButton().flag(Attr::disabled)) << "the user can leave the failed import";

  driver().tap(byId("importAction"));
  EXPECT_FALSE(onImportScreen());
  EXPECT_EQ(*completions_, 0);
  EXPECT_EQ(storedLegacyBills(), 2u);
  EXPECT_EQ(storedLegacyRings(), 1u);

  // The unsaved profile was taken back out: the next save writes only what was there.
  EXPECT_TRUE(context().save().ok());
  openObjects();
  auto profiles = context().fetch<ProfileEntity>();
  ASSERT_EQ(profiles.size(), 1u);
  EXPECT_EQ(profiles[0]->name(), "Current");
  EXPECT_TRUE(context().fetch<BillEntity>().empty());
}

TEST_F(ImportScreenTest, StepsStillFinishWhenTheScreenIsGone) {
  openImport();
  driver().type(byId("profileName"), "Home");
  driver().tap(byId("importAction"));
  driver_.reset();  // the sheet holding the import was swiped away
  clock_.advance(platform::secondsToDuration(kImportStepDelaySeconds));
  platform::MainLoop::drain();
  clock_.advance(platform::secondsToDuration(kImportStepDelaySeconds));
  platform::MainLoop::drain();
  auto profiles = context().fetch<ProfileEntity>();
  ASSERT_EQ(profiles.size(), 1u);
  EXPECT_EQ(profiles[0]->bills()->size(), 2u);
  EXPECT_EQ(manager_->selectedUser(), profiles[0]);
  EXPECT_EQ(storedLegacyBills(), 2u) << "only Close deletes the backup";
}

TEST_F(ImportScreenTest, EmptyLegacyListsImportAProfileWithNothingButTheSalary) {
  ringVM_->setRingCollection({});
  billVM_->setBillsCollection({});
  settings_->setNettoSalary(2500);
  openImport();
  EXPECT_TRUE(driver().exists(byText("localizable_noCategoriesAvailable")));
  EXPECT_TRUE(driver().exists(byText("localizable_noBillsAvailable")));
  driver().type(byId("profileName"), "Home");
  driver().tap(byId("importAction"));
  advanceStep();
  advanceStep();
  auto profiles = context().fetch<ProfileEntity>();
  ASSERT_EQ(profiles.size(), 1u);
  EXPECT_TRUE(profiles[0]->bills()->empty());
  EXPECT_TRUE(profiles[0]->categories()->empty());
  EXPECT_EQ(profiles[0]->salary(), std::vector<double>{2500});
}

}  // namespace
}  // namespace brivel
