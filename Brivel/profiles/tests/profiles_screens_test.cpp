// The profiles list, the add sheet, the card, the edit screen and the archive, in the app's
// environment over a real store.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/profiles/profile_ordering.h"
#include "Brivel/profiles/profiles_add_screen.h"
#include "Brivel/profiles/profiles_archive_screen.h"
#include "Brivel/profiles/profiles_card_view.h"
#include "Brivel/profiles/profiles_item_screen.h"
#include "Brivel/profiles/profiles_list_screen.h"
#include "Brivel/shell/localized_keys.h"
#include "platform/dispatch/clock.h"
#include "platform/foundation/text.h"
#include "profiles_test_support.h"

namespace brivel {
namespace {

using namespace platform::ui;
using namespace platform::ui::testing;

class ProfilesScreensTest : public testing::ProfilesTest {
 protected:
  void SetUp() override {
    ProfilesTest::SetUp();
    platform::Locale::setCurrent("en_US");
  }

  void showList() {
    showInSheet([](Binding<bool> flag) { return View(ProfilesListScreen{flag}).presentationSizing(PresentationSizing::page); });
  }
  bool listShown() { return driver().exists(byId("addProfile")); }
  std::vector<std::string> cardNames() {
    std::vector<std::string> names;
    for (const Node* card : driver().findAll(byId("profileCard"))) {
      auto texts = textsIn(*card);
      if (!texts.empty()) names.push_back(texts.front());
    }
    return names;
  }
  void save(const std::string& name) {
    driver().type(byId("profileName"), name);
    driver().tap(byId("save"));
  }

  platform::VirtualClock clock_;
};

// ----- List and add sheet -----

TEST_F(ProfilesScreensTest, FirstProfileIsSelectedAndClosesTheWholeList) {
  showList();
  EXPECT_TRUE(driver().exists(byText("localizable_noProfilesAvailable")));
  EXPECT_FALSE(driver().exists(byId("profileCount"))) << "no count badge without profiles";
  EXPECT_TRUE(driver().get(byId("openArchive")).flag(Attr::disabled));

  driver().tap(byText("localizable_add").ofKind(NodeKind::button));
  ASSERT_TRUE(driver().exists(byText("localizable_newProfile")));
  EXPECT_TRUE(driver().get(byId("save")).flag(Attr::disabled));
  driver().type(byId("profileName"), "  \n ");
  EXPECT_TRUE(driver().get(byId("save")).flag(Attr::disabled)) << "a blank name cannot be saved";
  EXPECT_EQ(driver().dismiss(byKind(NodeKind::sheet)), DispatchStatus::refused) << "the add sheet cannot be swiped away";

  save("  Home \n");
  auto profiles = context().fetch<ProfileEntity>();
  ASSERT_EQ(profiles.size(), 1u);
  EXPECT_EQ(profiles[0]->name(), "Home");
  EXPECT_EQ(profiles[0]->noteSortType(), NoteSortType::name);
  EXPECT_TRUE(profiles[0]->showSpendable());
  EXPECT_EQ(manager_->selectedUser(), profiles[0]);
  EXPECT_EQ(manager_->lastPickedUserID(), profiles[0]->id().uuidString());
  EXPECT_FALSE(*presented_) << "the profiles list closed";
  EXPECT_FALSE(driver().exists(byId("toast")));
}

TEST_F(ProfilesScreensTest, LaterProfilesStayUnselectedAndTheFormClearsOrCloses) {
  auto home = addProfile("Home");
  manager_->select(home);
  showList();
  driver().tap(byId("addProfile"));
  EXPECT_FALSE(driver().exists(byId("profileCount"))) << "the count badge hides while the add sheet is up";

  driver().tap(byId("profileName"));
  save("Work");
  EXPECT_EQ(manager_->selectedUser(), home);
  EXPECT_TRUE(driver().exists(byText("localizable_newProfile"))) << "the sheet stays open";
  EXPECT_EQ(driver().get(byId("profileName")).string(Attr::value), "");
  EXPECT_TRUE(driver().exists(byId("toast")));
  EXPECT_TRUE(driver().get(byId("profileName")).flag(Attr::focused));
  clock_.advance(platform::secondsToDuration(1.7));
  EXPECT_FALSE(driver().exists(byId("toast")));

  settings_->setPopViewAfterSaveAndUpdate(true);
  save("Travel");
  EXPECT_FALSE(driver().exists(byText("localizable_newProfile"))) << "the sheet closed";
  EXPECT_TRUE(listShown());
  EXPECT_EQ(cardNames(), (std::vector<std::string>{"Home", "Travel", "Work"}));
  EXPECT_EQ(manager_->selectedUser(), home);
}

TEST_F(ProfilesScreensTest, ProfilesAreListedInTheStandardNameOrderWithNumbersByValue) {
  for (const char* name : {"Profile 10", "profile 2", "Profile 9", "Éte", "Abc"}) addProfile(name);
  showList();
  EXPECT_EQ(cardNames(), (std::vector<std::string>{"Abc", "Éte", "profile 2", "Profile 9", "Profile 10"}));
}

TEST_F(ProfilesScreensTest, FailedAddSaveLeavesTheFormAndSavingAgainMakesNoDuplicate) {
  showList();
  driver().tap(byId("addProfile"));
  context().setSaveFaultInjection([](platform::SaveStep step) { return step == platform::SaveStep::Commit; });
  save("Home");
  EXPECT_EQ(storedProfileCount(), 0u);
  EXPECT_EQ(hapticCount("success"), 0u);
  EXPECT_EQ(driver().get(byId("profileName")).string(Attr::value), "Home") << "the form keeps its values";
  EXPECT_EQ(manager_->selectedUser(), nullptr);

  context().setSaveFaultInjection({});
  driver().tap(byId("save"));
  EXPECT_EQ(storedProfileCount(), 1u);
  openObjects();
  EXPECT_EQ(storedProfileCount(), 1u);
}

TEST_F(ProfilesScreensTest, TappingACardSelectsItAndClosesTheList) {
  addProfile("Work");
  auto home = addProfile("home");
  showList();
  EXPECT_EQ(cardNames(), (std::vector<std::string>{"home", "Work"})) << "by name, ignoring case";
  EXPECT_TRUE(driver().exists(byId("profileCount")));
  driver().tap(byId("profileCard"));
  EXPECT_EQ(manager_->selectedUser(), home);
  EXPECT_FALSE(*presented_);
}

TEST_F(ProfilesScreensTest, ArchivingOrRemovingClearsTheSelectionOnlyForTheSelectedProfile) {
  auto home = addProfile("Home");
  auto work = addProfile("Work");
  addBill(work, "Rent", 900);
  manager_->select(home);
  showList();

  driver().tap(byId("swipe.archive").nth(1));  // Work, not selected
  EXPECT_TRUE(work->isArchived());
  EXPECT_EQ(manager_->selectedUser(), home);
  EXPECT_FALSE(driver().get(byId("openArchive")).flag(Attr::disabled));
  EXPECT_EQ(cardNames(), std::vector<std::string>{"Home"});
  EXPECT_EQ(hapticCount("success"), 1u);

  driver().tap(byId("menu.archive"));  // Home, selected
  EXPECT_EQ(manager_->selectedUser(), nullptr);
  EXPECT_EQ(manager_->lastPickedUserID(), std::nullopt);

  // Restore Home, select it, and remove it through the card's dialog.
  toggleArchived(home);
  manager_->select(home);
  driver().tree();
  driver().tap(byId("menu.delete"));
  EXPECT_EQ(hapticCount("warning"), 1u);
  driver().tap(byText("localizable_cancel").ofKind(NodeKind::button));
  EXPECT_FALSE(home->isDeleted()) << "cancel removes nothing";
  EXPECT_EQ(manager_->selectedUser(), home);

  driver().tap(byId("swipe.delete"));
  driver().tap(byText("localizable_delete").ofKind(NodeKind::button));
  EXPECT_EQ(manager_->selectedUser(), nullptr) << "cleared before the deferred delete";
  clock_.advance(std::chrono::microseconds(1));
  driver().tree();
  EXPECT_TRUE(home->isDeleted());
  EXPECT_TRUE(driver().exists(byText("localizable_noProfilesAvailable")));
  openObjects();
  auto stored = context().fetch<ProfileEntity>();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0]->name(), "Work");
  EXPECT_TRUE(stored[0]->isArchived()) << "the archive flag was saved by the automatic save";
}

TEST_F(ProfilesScreensTest, BackupRowFollowsTheLegacyBillsAndDeletingItEmptiesBothLists) {
  ringVM_->setRingCollection({Ring{platform::UUID::random(), "Food"}});
  showList();
  EXPECT_FALSE(driver().exists(byId("backup"))) << "rings alone are no backup";

  Bill rent;
  rent.title = "Rent";
  billVM_->setBillsCollection({rent});
  driver().tree();
  ASSERT_TRUE(driver().exists(byId("backup")));
  driver().tap(byText("localizable_delete").ofKind(NodeKind::button));
  EXPECT_EQ(hapticCount("warning"), 1u);
  ASSERT_TRUE(driver().exists(byText("localizable_deleteBackupMessage")));
  driver().tap(byText("localizable_delete").ofKind(NodeKind::button));
  EXPECT_FALSE(driver().exists(byId("backup")));
  EXPECT_TRUE(BillViewModel().billsCollection().empty());
  EXPECT_TRUE(RingViewModel().ringCollection().empty());
}

TEST_F(ProfilesScreensTest, BackupRowOpensTheImport) {
  Bill rent;
  rent.title = "Rent";
  billVM_->setBillsCollection({rent});
  showList();
  driver().tap(byId("backup"));
  EXPECT_TRUE(driver().exists(byText("localizable_backup")));
  EXPECT_TRUE(driver().exists(byId("importAction")));
}

TEST_F(ProfilesScreensTest, DeferredRemovalRunsAfterTheListHasGone) {
  auto home = addProfile("Home");
  addBill(home, "Rent", 900);
  showList();
  driver().tap(byId("menu.delete"));
  driver().tap(byText("localizable_delete").ofKind(NodeKind::button));
  driver_.reset();  // the screen goes before the delete runs
  clock_.advance(std::chrono::microseconds(1));
  platform::MainLoop::drain();
  EXPECT_TRUE(home->isDeleted());
  openObjects();
  EXPECT_EQ(storedProfileCount(), 0u);
  EXPECT_TRUE(context().fetch<BillEntity>().empty()) << "the profile's bills went with it";
}

// The list fetched the profiles while it rendered, so a profile deleted or added straight on
// the store, outside any action and with nobody telling the screens, shows at once.
TEST_F(ProfilesScreensTest, ProfilesChangedOutsideAnyActionRenderAgain) {
  addProfile("Home");
  auto work = addProfile("Work");
  showList();
  ASSERT_EQ(cardNames(), (std::vector<std::string>{"Home", "Work"}));

  context().deleteModel(work);
  EXPECT_EQ(cardNames(), std::vector<std::string>{"Home"});

  context().insert(makeNewProfile("Travel", "appleRed"));
  EXPECT_EQ(cardNames(), (std::vector<std::string>{"Home", "Travel"}));
}

// ----- Card -----

TEST_F(ProfilesScreensTest, CardBalanceIsGreenOnlyWhenPositive) {
  struct Case {
    double salary;
    double billCost;
    const char* marker;
    const char* text;
  };
  for (const Case& c : {Case{1000, 1000, "sonicRed", "$0.00"}, Case{1000, 999.5, "sonicGreen", "$6.00"},
                        Case{0, 0, "sonicRed", "$0.00"}, Case{100, 200, "sonicRed", "-$1,200.00"}}) {
    auto profile = makeNewProfile("P", "appleBlue");
    profile->setSalary({c.salary});
    if (c.billCost > 0) addBill(profile, "B", c.billCost);
    show([profile] { return View(ProfilesCardView{profile, {}, {}, {}}); });
    SCOPED_TRACE(c.text);
    const Node& balance = driver().get(byText(c.text));
    ASSERT_NE(balance.color(Attr::foregroundStyle), nullptr);
    EXPECT_EQ(balance.color(Attr::foregroundStyle)->name, std::string(c.marker) == "sonicGreen" ? "green" : "red");
    EXPECT_NE(driver().find(byText(c.text)), nullptr);
  }
}

TEST_F(ProfilesScreensTest, ArchivedCardOffersNoEditAndReadsUnarchive) {
  auto profile = makeNewProfile("P", "appleBlue");
  int archived = 0;
  int tapped = 0;
  show([profile, &archived, &tapped] {
    return NavigationStack(View(ProfilesCardView{profile, [&tapped] { ++tapped; },
                                                 [&archived](const std::shared_ptr<ProfileEntity>&) { ++archived; }, {}}));
  });
  EXPECT_TRUE(driver().exists(byId("menu.edit")));
  EXPECT_TRUE(driver().exists(byId("swipe.edit")));
  driver().tap(byId("profileCard"));
  EXPECT_EQ(tapped, 1);

  profile->setIsArchived(true);
  driver().tree();
  EXPECT_FALSE(driver().exists(byId("menu.edit")));
  EXPECT_FALSE(driver().exists(byId("swipe.edit")));
  EXPECT_EQ(textsIn(driver().get(byId("swipe.archive"))).front(), "localizable_unarchive");
  EXPECT_TRUE(driver().exists(bySymbol("archivebox.fill.slash")));
  EXPECT_TRUE(driver().exists(bySymbol("archivebox.slash")));
  driver().tap(byId("swipe.archive"));
  EXPECT_EQ(archived, 1);
}

// ----- Edit screen -----

TEST_F(ProfilesScreensTest, EditUpdatesNameAndColourAndClosesOrToastsBySetting) {
  auto profile = addProfile("Home", "tailsOrange");
  show([profile] { return View(ProfilessItemScreen{.viewInSheet = true, .profile = profile}); });
  EXPECT_EQ(driver().get(byId("profileName")).string(Attr::value), "Home");
  EXPECT_TRUE(driver().exists(byId("close")));

  driver().type(byId("profileName"), " \n ");
  EXPECT_TRUE(driver().get(byId("update")).flag(Attr::disabled));
  driver().type(byId("profileName"), std::string(31, 'x'));
  EXPECT_EQ(driver().get(byId("profileName")).string(Attr::value), std::string(30, 'x'));
  driver().type(byId("profileName"), "  Flat Share ");
  driver().tap(byId("update"));
  EXPECT_EQ(profile->name(), "Flat Share");
  EXPECT_EQ(profile->color(), "tailsOrange") << "an unpicked colour outside the palette is kept";
  EXPECT_EQ(driver().get(byId("profileName")).string(Attr::value), "  Flat Share ");
  EXPECT_TRUE(driver().exists(byId("toast")));
  EXPECT_EQ(hapticCount("success"), 1u);

  settings_->setPopViewAfterSaveAndUpdate(true);
  bool dismissed = false;
  show([profile, &dismissed] {
    return View(ProfilessItemScreen{.viewInSheet = true, .profile = profile})
        .environment<DismissKey>(DismissAction([&dismissed] { dismissed = true; }));
  });
  driver().tap(byId("update"));
  EXPECT_TRUE(dismissed);
  EXPECT_FALSE(driver().exists(byId("toast")));
}

TEST_F(ProfilesScreensTest, EditQuickActionToastsOnlyOnAChange) {
  auto profile = addProfile("Home");
  show([profile] { return NavigationStack(View(ProfilessItemScreen{.viewInSheet = false, .profile = profile})); });
  EXPECT_FALSE(driver().exists(byId("close"))) << "pushed, the screen has no close button";
  ASSERT_EQ(profile->favoriteQuickAction(), FavoriteQuickAction::openNotes);

  driver().tap(byText("localizable_setAsQuickAction").ofKind(NodeKind::button).nth(2));  // notes row
  EXPECT_FALSE(driver().exists(byId("toast")));
  driver().tap(byText("localizable_setAsQuickAction").ofKind(NodeKind::button).nth(3));  // salary row
  EXPECT_EQ(profile->favoriteQuickAction(), FavoriteQuickAction::openSalary);
  EXPECT_TRUE(driver().exists(byId("toast")));
}

TEST_F(ProfilesScreensTest, EditFiguresShowCountsAndSpendable) {
  auto profile = addProfile("Home");
  profile->setSalary({1000});
  addBill(profile, "Rent", 1000, OccurringType::monthly);
  profile->setSalaryType(SalaryType::variable);
  profile->setSalary(std::vector<double>(12, 1000.0));
  addBill(profile, "Tax", 1, OccurringType::yearly);
  show([profile] { return NavigationStack(View(ProfilessItemScreen{.viewInSheet = false, .profile = profile})); });
  EXPECT_TRUE(driver().exists(byText("localizable_variable")));
  const Node& spendable = driver().get(byText("-$1.00"));
  ASSERT_NE(spendable.color(Attr::foregroundStyle), nullptr);
  EXPECT_EQ(spendable.color(Attr::foregroundStyle)->name, "appleRed");
  EXPECT_TRUE(driver().exists(byText("$12,001.00")));
}

TEST_F(ProfilesScreensTest, CardEditLinkPushesTheEditScreenOntoTheList) {
  auto home = addProfile("Home");
  showList();
  driver().tap(byId("menu.edit"));
  ASSERT_TRUE(driver().exists(byText("localizable_details")));
  EXPECT_FALSE(driver().exists(byId("close").ofKind(NodeKind::button).nth(1))) << "pushed: only the list's own close";
  driver().type(byId("profileName"), "House");
  driver().tap(byId("update"));
  EXPECT_EQ(home->name(), "House");
  EXPECT_EQ(driver().dismiss(byKind(NodeKind::navigationPage)), DispatchStatus::handled);
  EXPECT_EQ(cardNames(), std::vector<std::string>{"House"});
}

// ----- Archive -----

TEST_F(ProfilesScreensTest, ArchiveClosesWhenItsLastProfileIsRestored) {
  addProfile("Home");
  auto old = addProfile("Old");
  auto category = CategoryEntity::make({.name = "food", .color = "appleGreen", .profile = old});
  auto account =
      BankAccountEntity::make({.name = "Giro", .color = "appleBlue", .number = "1", .note = "", .profile = old});
  addBill(old, "b rent", 10, OccurringType::monthly, nullptr, account);
  addBill(old, "A food", 20, OccurringType::monthly, category);
  addBill(old, "a fee", 30);
  addBill(old, "B RENT", 40);
  toggleArchived(old);
  showList();
  driver().tap(byId("openArchive"));
  ASSERT_TRUE(driver().exists(byText("localizable_archive")));

  // Swiping the item sheet away restores nothing.
  driver().tap(byId("profileCard"));
  ASSERT_TRUE(driver().exists(byId("unarchive")));
  EXPECT_EQ(driver().dismiss(byKind(NodeKind::sheet)), DispatchStatus::handled);
  EXPECT_FALSE(driver().exists(byId("unarchive")));
  EXPECT_TRUE(old->isArchived());

  driver().tap(byId("profileCard"));
  ASSERT_TRUE(driver().exists(byId("unarchive")));
  auto texts = textsIn(driver().get(byKind(NodeKind::sheet)));
  std::vector<std::string> order;
  for (const auto& t : texts) {
    if (t == "b rent" || t == "A food" || t == "a fee" || t == "B RENT") order.push_back(t);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"a fee", "A food", "b rent", "B RENT"})) << "case-insensitive, stable";
  EXPECT_FALSE(driver().exists(byText("Giro"))) << "no bank account in the archive sheet";
  EXPECT_TRUE(driver().exists(byText("food")));

  driver().tap(byId("unarchive"));
  EXPECT_FALSE(old->isArchived());
  EXPECT_EQ(manager_->selectedUser(), nullptr) << "restoring selects nothing";
  EXPECT_FALSE(driver().exists(byId("unarchive"))) << "the sheet closed";
  EXPECT_TRUE(listShown()) << "the empty archive closed itself";
  EXPECT_EQ(cardNames(), (std::vector<std::string>{"Home", "Old"}));
}

TEST_F(ProfilesScreensTest, ArchiveDeleteClearsTheSelectionAndClosesOnceEmpty) {
  auto old = addProfile("Old");
  manager_->select(old);
  toggleArchived(old);
  showList();
  driver().tap(byId("openArchive"));
  driver().tap(byId("menu.delete"));
  driver().tap(byText("localizable_delete").ofKind(NodeKind::button));
  EXPECT_EQ(manager_->selectedUser(), nullptr);
  EXPECT_EQ(manager_->lastPickedUserID(), std::nullopt);
  EXPECT_TRUE(driver().exists(byText("localizable_archive"))) << "still open until the delete ran";
  clock_.advance(std::chrono::microseconds(1));
  driver().tree();
  EXPECT_TRUE(old->isDeleted());
  EXPECT_TRUE(listShown());
  EXPECT_EQ(storedProfileCount(), 0u);
}

TEST_F(ProfilesScreensTest, ArchiveThatIsEmptyOnArrivalStaysOpen) {
  show([] { return NavigationStack(View(ProfilesArchiveScreen{})); });
  EXPECT_TRUE(driver().exists(byText("localizable_archive")));
}

}  // namespace
}  // namespace brivel
