// The bills screens at tree level in the app's environment over a real store: the list and
// its empty states, sort menu and search; the card; the new-bill editor; the detail screen.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Brivel/bills/bill_entity_add_screen.h"
#include "Brivel/bills/bill_entity_item_screen.h"
#include "Brivel/collections/bill_entity_small_list_view.h"
#include "Brivel/bills/bill_entity_view.h"
#include "Brivel/bills/collection_list_screen.h"
#include "Brivel/bills/neighbour_screens.h"
#include "Brivel/collections/category_screens.h"
#include "Brivel/shell/palette.h"
#include "bills_test_support.h"
#include "platform/data/save_reporter.h"
#include "platform/dispatch/clock.h"
#include "platform/foundation/data_notices.h"

namespace brivel {
namespace {

using namespace platform::ui;
using namespace platform::ui::testing;
using testing::BillsTest;

class BillsScreensTest : public BillsTest {
 protected:
  void showList() {
    show([] { return View(CollectionListScreen{}); });
  }
  // The names of the cards shown, top to bottom.
  std::vector<std::string> cardNames() {
    std::vector<std::string> out;
    for (const Node* link : driver().findAll(byId("billRow"))) {
      auto texts = textsIn(*link);
      if (!texts.empty()) out.push_back(texts.front());
    }
    return out;
  }
  std::vector<std::string> sectionTitles() {
    std::vector<std::string> out;
    for (const Node* section : driver().findAll(byKind(NodeKind::section))) {
      auto header = section->slots.find("header");
      if (header != section->slots.end() && !header->second.empty()) out.push_back(textsIn(header->second.front()).front());
    }
    return out;
  }
  // Opens the new-bill editor from the list's add button.
  void openEditor() {
    driver().tap(byId("addBill"));
    ASSERT_TRUE(driver().exists(byText("localizable_newBill")));
  }
  void chooseOption(const std::string& pickerId, const std::string& option) {
    const Node& picker = driver().get(byId(pickerId));
    for (const Node* candidate : driver().findAll(byKind(NodeKind::pickerOption))) {
      auto texts = textsIn(*candidate);
      if (!texts.empty() && texts.front() == option && isInside(picker, *candidate)) {
        driver().runtime().dispatch(ActionEvent{candidate->actionId, EventKind::tap, {}});
        driver().tree();
        return;
      }
    }
    FAIL() << "no option " << option << " in " << pickerId;
  }
  static bool isInside(const Node& parent, const Node& child) {
    if (&parent == &child) return true;
    for (const auto& c : parent.children) {
      if (isInside(c, child)) return true;
    }
    for (const auto& [name, slot] : parent.slots) {
      for (const auto& c : slot) {
        if (isInside(c, child)) return true;
      }
    }
    return false;
  }

  platform::VirtualClock clock_;
};

// ----- The list -----

TEST_F(BillsScreensTest, NoProfileShowsItsEmptyStateAndOnlyTheGeneralMenuEntries) {
  showList();
  EXPECT_TRUE(driver().exists(byText("localizable_noProfileSelected")));
  EXPECT_TRUE(driver().exists(byText("localizable_collection")));
  EXPECT_TRUE(driver().exists(byKind(NodeKind::searchField))) << "the search field is attached without a profile";
  EXPECT_FALSE(driver().exists(byId("sortMenu")));
  EXPECT_FALSE(driver().exists(byId("addBill")));
  EXPECT_FALSE(driver().exists(byId("editProfile")));
  EXPECT_FALSE(driver().exists(byId("quickAction")));
  EXPECT_TRUE(driver().exists(byId("profiles")));

  driver().tap(byText("localizable_selectProfile"));
  EXPECT_TRUE(driver().exists(byKind(NodeKind::sheet))) << "the profiles list opens";
}

TEST_F(BillsScreensTest, EmptyProfileHasNoSearchAndItsAddOpensTheEditor) {
  manager_->select(addProfile("Home"));
  showList();
  EXPECT_TRUE(driver().exists(byText("localizable_noBillsAvailable")));
  EXPECT_TRUE(driver().exists(byText("Home")));
  EXPECT_FALSE(driver().exists(byKind(NodeKind::searchField)));
  EXPECT_TRUE(driver().exists(byId("sortMenu")));
  driver().tap(byText("localizable_add").ofKind(NodeKind::button));
  EXPECT_TRUE(driver().exists(byText("localizable_newBill")));
}

TEST_F(BillsScreensTest, AbsentBillListCountsAsFilled) {
  manager_->select(addProfile("Home", std::nullopt));
  showList();
  EXPECT_FALSE(driver().exists(byText("localizable_noBillsAvailable")));
  EXPECT_TRUE(driver().exists(byKind(NodeKind::searchField)));
}

TEST_F(BillsScreensTest, QuickActionFollowsTheProfileChoiceAndOpensItsSheet) {
  auto profile = addProfile();
  manager_->select(profile);
  showList();
  EXPECT_TRUE(driver().exists(byText("localizable_notes").ofKind(NodeKind::button)));
  profile->setFavoriteQuickAction(FavoriteQuickAction::openSalary);
  EXPECT_TRUE(driver().exists(byText("localizable_salary").ofKind(NodeKind::button)));
  EXPECT_FALSE(driver().exists(byText("localizable_notes").ofKind(NodeKind::button)));
  driver().tap(byId("quickAction"));
  // The salary screen in it, and its close button, are the forecast's (its tests show them here).
  ASSERT_TRUE(driver().exists(byKind(NodeKind::sheet)));
}

TEST_F(BillsScreensTest, SortMenuGroupsAndTogglesOrdersOnTheProfile) {
  auto profile = addProfile();
  auto home = addCategory(profile, "Home", "sonicBlue");
  auto car = addCategory(profile, "Car", "appleRed");
  addBill(profile, "Rent", 900, home);
  addBill(profile, "Fuel", 60, car);
  addBill(profile, "Water", 30, home);
  addBill(profile, "Gym", 20);
  manager_->select(profile);
  showList();
  EXPECT_EQ(cardNames(), (std::vector<std::string>{"Fuel", "Gym", "Rent", "Water"}));
  EXPECT_TRUE(sectionTitles().empty());
  EXPECT_TRUE(driver().exists(bySymbol("envelope.badge.arrow.up")));
  EXPECT_TRUE(driver().get(byId("group.localizable_off")).flag(Attr::disabled));

  driver().tap(byId("group.localizable_category"));
  EXPECT_EQ(profile->collectionFilterType(), CollectionFilterType::category);
  EXPECT_EQ(sectionTitles(), (std::vector<std::string>{"Car", "Home", "localizable_uncategorized"}));
  EXPECT_EQ(cardNames(), (std::vector<std::string>{"Fuel", "Rent", "Water", "Gym"}));
  EXPECT_TRUE(driver().exists(byId("sortCategories.localizable_color")));
  EXPECT_FALSE(driver().exists(byId("sortAccounts.localizable_number")));

  driver().tap(byId("sortCategories.localizable_name"));
  EXPECT_EQ(profile->categorySortType(), CategorySortType::nameReversed);
  EXPECT_EQ(sectionTitles(), (std::vector<std::string>{"Home", "Car", "localizable_uncategorized"}));

  driver().tap(byId("sortBills.localizable_cost"));
  EXPECT_EQ(profile->billSortType(), BillSortType::cost);
  driver().tap(byId("sortBills.localizable_cost"));
  EXPECT_EQ(profile->billSortType(), BillSortType::costReversed);
  EXPECT_TRUE(driver().exists(bySymbol("centsign.circle.badge.arrow.down")));
  EXPECT_TRUE(driver().exists(bySymbol("envelope")));
  EXPECT_EQ(cardNames(), (std::vector<std::string>{"Rent", "Water", "Fuel", "Gym"}));
}

TEST_F(BillsScreensTest, SearchShowsFlatResultsOrTheNoResultsState) {
  auto profile = addProfile();
  auto home = addCategory(profile, "Home");
  addBill(profile, "Rent", 900, home);
  addBill(profile, "Car rental", 50);
  addBill(profile, "Water", 30, home);
  profile->setCollectionFilterType(CollectionFilterType::category);
  manager_->select(profile);
  showList();
  driver().type(byKind(NodeKind::searchField), "rent");
  EXPECT_EQ(cardNames(), (std::vector<std::string>{"Car rental", "Rent"}));
  EXPECT_TRUE(sectionTitles().empty());
  driver().type(byKind(NodeKind::searchField), "zzz");
  EXPECT_TRUE(driver().exists(byText("localizable_noBillsFound")));
  EXPECT_TRUE(cardNames().empty());
  driver().type(byKind(NodeKind::searchField), "   ");
  EXPECT_EQ(sectionTitles(), (std::vector<std::string>{"Home", "localizable_uncategorized"}));
}

// A bill's row is the same row in search results and in its section: repeated from its copy
// (same identity, same stamp) while nothing it shows changed, built again when something did.
TEST_F(BillsScreensTest, RowsAreRepeatedAcrossASearchAndBuiltAgainWhenWhatTheyShowChanges) {
  auto profile = addProfile();
  auto home = addCategory(profile, "Home");
  auto giro = addAccount(profile, "Giro", "appleRed", "DE-123");
  auto rent = addBill(profile, "Rent", 900, home, giro);
  addBill(profile, "Water", 30, home);
  profile->setCollectionFilterType(CollectionFilterType::category);
  manager_->select(profile);
  showList();
  auto rentRow = [&] {
    for (const Node* link : driver().findAll(byId("billRow"))) {
      auto texts = textsIn(*link);
      if (!texts.empty() && texts.front() == "Rent") return std::pair(link->identity, link->memoStamp);
    }
    return std::pair(std::string(), std::uint64_t{0});
  };
  const auto shown = rentRow();
  ASSERT_NE(shown.second, 0u);
  driver().type(byKind(NodeKind::searchField), "ren");
  EXPECT_EQ(rentRow(), shown) << "in the search results";
  driver().type(byKind(NodeKind::searchField), "");
  EXPECT_EQ(rentRow(), shown) << "back in its section";

  struct Case {
    const char* what;
    std::function<void()> change;
    const char* shows;
  };
  const std::vector<Case> cases{
      {"an edit", [&] { rent->setCost(950); }, "$950.00"},
      {"its account's number", [&] { giro->setNumber("DE-456"); }, "DE-456"},
      {"another grouping", [&] { profile->setCollectionFilterType(CollectionFilterType::bankAccount); }, "Home"},
      {"another locale", [] { platform::Locale::setCurrent("de_DE"); }, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto before = rentRow();
    c.change();
    driver().pump();
    driver().runtime().invalidate();
    driver().tree();
    const auto after = rentRow();
    EXPECT_EQ(after.first, before.first);
    EXPECT_NE(after.second, before.second) << "built again";
    if (c.shows) {
      EXPECT_TRUE(driver().exists(byText(c.shows)));
    }
  }
  EXPECT_FALSE(driver().exists(byText("$950.00"))) << "the new locale's currency format";
  platform::Locale::setCurrent("");
}

TEST_F(BillsScreensTest, BillsSharingAnIdStillListAsTwoRows) {
  auto profile = addProfile();
  auto first = addBill(profile, "Rent", 1);
  auto twin = addBill(profile, "Rent copy", 2);
  twin->setId(first->id());
  manager_->select(profile);
  showList();
  EXPECT_EQ(cardNames(), (std::vector<std::string>{"Rent", "Rent copy"}));
}

// ----- The card and its delete -----

TEST_F(BillsScreensTest, CardShowsTheCaptionOfTheGroupingAndCopiesAOneSpaceNote) {
  auto profile = addProfile();
  auto home = addCategory(profile, "Home");
  auto giro = addAccount(profile, "Giro", "appleRed", "DE-123");
  auto bill = addBill(profile, "  Rent \n", 900, home, giro);
  bill->setNote(" ");
  bill->setOccurring(OccurringType::quarterly);
  bill->setQuarterly(QuarterType::quarter3);
  auto filter = std::make_shared<CollectionFilterType>(CollectionFilterType::category);
  show([bill, filter] {
    return NavigationStack(View(BillEntityView{.bill = bill,
                                               .collectionFilterType = *filter,
                                               .compactMode = {.isOn = false, .showOccurring = false},
                                               .isDeleteable = true,
                                               .isEditable = false}));
  });
  EXPECT_TRUE(driver().exists(byText("Rent")));
  EXPECT_TRUE(driver().exists(byText("DE-123")));
  EXPECT_FALSE(driver().exists(byText("Home")));
  EXPECT_TRUE(driver().exists(byText("localizable_quarter03")));
  EXPECT_TRUE(driver().exists(byText("$900.00")));

  driver().tap(byId("copyNote"));
  driver().tap(byId("copyNote"));
  EXPECT_EQ(Pasteboard::general().string(), " ");
  EXPECT_EQ(hapticCount("success"), 2u);

  *filter = CollectionFilterType::off;
  show([bill, filter] {
    return NavigationStack(View(BillEntityView{.bill = bill,
                                               .collectionFilterType = *filter,
                                               .compactMode = {.isOn = true, .showOccurring = true},
                                               .isDeleteable = false,
                                               .isEditable = true}));
  });
  EXPECT_TRUE(driver().exists(byText("Home"))) << "the compact layout shows the category";
  EXPECT_FALSE(driver().exists(byText("DE-123")));
  EXPECT_TRUE(driver().exists(byText("localizable_quarter03")));
  EXPECT_FALSE(driver().exists(byText("localizable_quarterly"))) << "no occurrence key in the compact layout";
  EXPECT_FALSE(driver().exists(byId("deleteBill")));
  driver().tap(byId("editBill"));
  EXPECT_TRUE(driver().exists(byText("localizable_details"))) << "editable: the detail screen opens in a sheet";
}

TEST_F(BillsScreensTest, RowDeleteAsksThenUnlinksFromAllListsAndSaves) {
  auto profile = addProfile();
  auto home = addCategory(profile, "Home");
  auto giro = addAccount(profile, "Giro");
  addBill(profile, "Rent", 900, home, giro);
  addBill(profile, "Water", 30, home, giro);
  ASSERT_TRUE(context().save().ok());
  manager_->select(profile);
  showList();

  driver().tap(byId("deleteBill"));
  EXPECT_EQ(hapticCount("warning"), 1u);
  ASSERT_TRUE(driver().exists(byKind(NodeKind::confirmationDialog)));
  driver().tap(byText("localizable_cancel"));
  EXPECT_FALSE(driver().exists(byKind(NodeKind::confirmationDialog)));
  EXPECT_EQ(profile->bills()->size(), 2u);

  driver().tap(byId("deleteBill"));
  driver().tap(byId("confirmDelete"));
  EXPECT_EQ(cardNames(), (std::vector<std::string>{"Water"}));
  EXPECT_EQ(names(*home->bills()), (std::vector<std::string>{"Water"}));
  EXPECT_EQ(names(*giro->bills()), (std::vector<std::string>{"Water"}));
  EXPECT_FALSE(context().hasChanges());
  EXPECT_EQ(context().fetch<BillEntity>().size(), 1u);
}

TEST_F(BillsScreensTest, CompactLineShowsTrimmedNameAndTheLinksItIsGiven) {
  auto profile = addProfile();
  auto giro = addAccount(profile, "Giro", "appleRed", "");
  auto home = addCategory(profile, "Home");
  show([giro, home] { return View(BillEntitySmallListView{"  Rent \n", 12.5, giro, home}); });
  // The cost on the trailing side, then the name with the account's (empty) number and the
  // category under it.
  EXPECT_EQ(driver().visibleTexts(), (std::vector<std::string>{"$12.50", "Rent", "", "Home"}));
}

// ----- The new-bill editor -----

TEST_F(BillsScreensTest, EditorSavesTrimmedBillResetsAndKeepsOpenWithAToast) {
  auto profile = addProfile();
  manager_->select(profile);
  showList();
  openEditor();
  EXPECT_TRUE(driver().get(byId("billName")).flag(Attr::focused));
  EXPECT_TRUE(driver().get(byId("saveBill")).flag(Attr::disabled));
  driver().type(byId("billName"), "  \n");
  EXPECT_TRUE(driver().get(byId("saveBill")).flag(Attr::disabled));

  driver().type(byId("billName"), "  Rent \n");
  driver().submit(byId("billName"));
  EXPECT_TRUE(driver().get(byId("billCost")).flag(Attr::focused));
  driver().type(byId("billCost"), "12,5");
  chooseOption("occurring", "localizable_quarterly");
  chooseOption("quarterPicker", "localizable_quarter03");
  driver().setOn(byId("connectNote"), true);
  EXPECT_TRUE(driver().get(byId("billNote")).flag(Attr::focused));
  driver().type(byId("billNote"), " hi ");
  driver().tap(byId("saveBill"));

  ASSERT_EQ(profile->bills()->size(), 1u);
  auto bill = profile->bills()->front();
  EXPECT_EQ(bill->name(), "Rent");
  EXPECT_EQ(bill->cost(), 12.5);
  EXPECT_EQ(bill->note(), "hi");
  EXPECT_EQ(bill->occurring(), OccurringType::quarterly);
  EXPECT_EQ(bill->quarterly(), QuarterType::quarter3);
  EXPECT_EQ(bill->yearly(), std::nullopt);
  EXPECT_EQ(hapticCount("success"), 1u);
  EXPECT_TRUE(driver().exists(byText("localizable_added"))) << "the toast shows";
  EXPECT_EQ(driver().get(byId("billName")).string(Attr::value), "");
  EXPECT_TRUE(driver().get(byId("billName")).flag(Attr::focused));
  EXPECT_FALSE(driver().exists(byId("quarterPicker"))) << "the form is back to monthly";
  clock_.advance(std::chrono::milliseconds(1700));
  EXPECT_FALSE(driver().exists(byText("localizable_added")));

  // The store's automatic save persists the bill.
  platform::MainLoop::drain();
  EXPECT_FALSE(context().hasChanges());

  // While saves fail, a save plays no success haptic and shows no toast; the next one that
  // is saved does both again.
  platform::DataNotices::shared().set(platform::kSaveFailureNoticeKey, "Your latest changes are not saved yet.", false);
  driver().type(byId("billName"), "Water");
  driver().tap(byId("saveBill"));
  EXPECT_EQ(profile->bills()->size(), 2u);
  EXPECT_EQ(hapticCount("success"), 1u);
  EXPECT_FALSE(driver().exists(byText("localizable_added")));
  platform::DataNotices::shared().clear(platform::kSaveFailureNoticeKey);
  clock_.advance(std::chrono::milliseconds(1700));
  driver().tree();
  EXPECT_EQ(hapticCount("success"), 1u) << "the missed haptic is not played late";
  driver().type(byId("billName"), "Power");
  driver().tap(byId("saveBill"));
  EXPECT_EQ(hapticCount("success"), 2u);
}

TEST_F(BillsScreensTest, EditorCreatesTheMissingBillListAndClosesWhenSetTo) {
  auto profile = addProfile("Home", std::nullopt);
  settings_->setPopViewAfterSaveAndUpdate(true);
  showInSheet([profile](Binding<bool> flag) { return View(BillEntityAddScreen{flag, profile}); });
  driver().type(byId("billName"), "Rent");
  driver().tap(byId("saveBill"));
  ASSERT_TRUE(profile->bills().has_value()) << "a new bill is never lost";
  EXPECT_EQ(names(*profile->bills()), (std::vector<std::string>{"Rent"}));
  EXPECT_FALSE(*presented_);
}

TEST_F(BillsScreensTest, EditorLinksPickFirstByNameAndCreateInPlace) {
  auto profile = addProfile();
  addAccount(profile, "b");
  auto a = addAccount(profile, "A");
  addAccount(profile, "c");
  // The app's create form for categories, as the program plugs it in.
  BillsNeighbourScreens screens = BillsNeighbourScreensKey::defaultValue();
  screens.categoryAdd = [](Binding<bool> dismiss, const std::shared_ptr<ProfileEntity>& owner, bool dismissAfterSave,
                           std::function<void(const std::shared_ptr<CategoryEntity>&)> completion) {
    return View(CategoriesAddScreen{std::move(dismiss), owner, dismissAfterSave, std::move(completion)});
  };
  showInSheet([profile, screens](Binding<bool> flag) {
    return View(BillEntityAddScreen{flag, profile}).environment<BillsNeighbourScreensKey>(screens);
  });
  driver().setOn(byId("connectBankAccount"), true);
  auto accountOptions = textsIn(driver().get(byId("bankAccountPicker")));
  EXPECT_EQ(accountOptions, (std::vector<std::string>{"A", "b", "c"}));
  chooseOption("bankAccountPicker", "c");
  driver().setOn(byId("connectBankAccount"), false);
  driver().setOn(byId("connectBankAccount"), true);

  // No categories yet: the text, then a category created in place is picked.
  driver().setOn(byId("connectCategory"), true);
  EXPECT_TRUE(driver().exists(byText("localizable_noCategoriesAvailable")));
  driver().tap(byId("createCategory"));
  driver().type(byId("categoryName"), "  Home ");
  driver().tap(byId("saveCategory"));
  EXPECT_FALSE(driver().exists(byId("categoryName"))) << "the create sheet closed";
  ASSERT_EQ(profile->categories()->size(), 1u);

  driver().type(byId("billName"), "Rent");
  driver().tap(byId("saveBill"));
  auto bill = profile->bills()->front();
  EXPECT_EQ(bill->bankAccount(), a) << "switching on again picks the first account again";
  ASSERT_NE(bill->category(), nullptr);
  EXPECT_EQ(bill->category()->name(), "home");
  EXPECT_EQ(names(*bill->category()->bills()), (std::vector<std::string>{"Rent"}));
}

TEST_F(BillsScreensTest, EditorLimitsTypedTextAndDropsLinksSwitchedOff) {
  auto profile = addProfile();
  addCategory(profile, "Home");
  showInSheet([profile](Binding<bool> flag) { return View(BillEntityAddScreen{flag, profile}); });
  driver().type(byId("billName"), std::string(31, 'x'));
  EXPECT_EQ(driver().get(byId("billName")).string(Attr::value), std::string(30, 'x'));
  driver().type(byId("billCost"), "12.345");
  EXPECT_EQ(driver().get(byId("billCost")).string(Attr::value), "12.34");
  driver().setOn(byId("connectCategory"), true);
  driver().setOn(byId("connectCategory"), false);
  driver().setOn(byId("connectNote"), true);
  driver().type(byId("billNote"), "kept out");
  driver().setOn(byId("connectNote"), false);
  driver().tap(byId("saveBill"));
  auto bill = profile->bills()->front();
  EXPECT_EQ(bill->category(), nullptr);
  EXPECT_EQ(bill->note(), std::nullopt);
  EXPECT_EQ(bill->cost(), 12.34);
}

// ----- The detail screen -----

TEST_F(BillsScreensTest, DetailFillsFromTheBillWithoutChangingIt) {
  auto profile = addProfile();
  auto home = addCategory(profile, "Home", "sonicGreen");
  auto giro = addAccount(profile, "Giro", "sonicPurple");
  const std::string longName(35, 'n');
  auto bill = addBill(profile, longName, 10.125, home, giro);
  bill->setNote("Pay early");
  bill->setOccurring(OccurringType::yearly);
  bill->setYearly(std::nullopt);
  show([bill] { return NavigationStack(View(BillEntityItemScreen{.bill = bill, .shownInSheet = false})); });

  EXPECT_EQ(driver().get(byId("billName")).string(Attr::value), longName);
  EXPECT_EQ(driver().get(byId("billCost")).string(Attr::value), "10.125");
  EXPECT_EQ(driver().get(byId("billNote")).string(Attr::value), "Pay early");
  EXPECT_TRUE(driver().exists(byText("localizable_january")));
  EXPECT_EQ(textsIn(driver().get(byId("costPerYear"))).front(), platform::formatCurrency(10.125))
      << "cost per year of a yearly bill";
  EXPECT_TRUE(driver().get(byId("connectBankAccount")).flag(Attr::isOn));
  ASSERT_NE(driver().get(byId("bankAccountPicker")).color(Attr::tint), nullptr);
  EXPECT_EQ(*driver().get(byId("bankAccountPicker")).color(Attr::tint), colorFromAssetName("sonicPurple").withGradient());

  // An update without typing writes the stored values back unchanged.
  driver().tap(byId("updateBill"));
  EXPECT_EQ(bill->name(), longName);
  EXPECT_EQ(bill->cost(), 10.125);
  EXPECT_EQ(bill->yearly(), YearlyType::january);
  // What the user types is limited.
  driver().type(byId("billCost"), "10.1256");
  EXPECT_EQ(driver().get(byId("billCost")).string(Attr::value), "10.12");
}

TEST_F(BillsScreensTest, DetailUpdateWritesTheFormAndStaysWithAToastWhenPushed) {
  auto profile = addProfile();
  auto home = addCategory(profile, "Home");
  auto bill = addBill(profile, "Rent", 25, home);
  bill->setOccurring(OccurringType::quarterly);
  bill->setQuarterly(QuarterType::quarter2);
  bill->setNote("old");
  show([bill] { return NavigationStack(View(BillEntityItemScreen{.bill = bill, .shownInSheet = false})); });
  EXPECT_TRUE(driver().exists(byText("$100.00"))) << "quarterly cost per year";
  EXPECT_FALSE(driver().exists(byId("close")));

  driver().type(byId("billName"), " Rent 2 ");
  driver().type(byId("billCost"), "12,5");
  EXPECT_TRUE(driver().exists(byText("$100.00"))) << "the figure follows the stored bill, not the typing";
  chooseOption("occurring", "localizable_yearly");
  chooseOption("monthPicker", "localizable_october");
  driver().type(byId("billNote"), "   ");
  driver().setOn(byId("connectCategory"), false);
  driver().tap(byId("updateBill"));

  EXPECT_EQ(bill->name(), "Rent 2");
  EXPECT_EQ(bill->cost(), 12.5);
  EXPECT_EQ(bill->note(), std::nullopt);
  EXPECT_EQ(bill->occurring(), OccurringType::yearly);
  EXPECT_EQ(bill->yearly(), YearlyType::october);
  EXPECT_EQ(bill->quarterly(), std::nullopt);
  EXPECT_EQ(bill->category(), nullptr);
  EXPECT_TRUE(home->bills()->empty());
  EXPECT_TRUE(driver().exists(byText("localizable_saved")));
  EXPECT_TRUE(driver().exists(byText("$12.50")));
}

TEST_F(BillsScreensTest, DetailInASheetClosesOnUpdate) {
  auto profile = addProfile();
  auto bill = addBill(profile, "Rent", 25);
  showInSheet([bill](Binding<bool>) { return View(BillEntityItemScreen{.bill = bill, .shownInSheet = true}); });
  EXPECT_TRUE(driver().exists(byId("close")));
  driver().type(byId("billCost"), "abc");
  driver().tap(byId("updateBill"));
  EXPECT_EQ(bill->cost(), 0.0);
  EXPECT_FALSE(driver().exists(byId("updateBill")));
  EXPECT_FALSE(driver().exists(byText("localizable_saved")));
}

TEST_F(BillsScreensTest, DetailDeleteUnlinksEverywhereClosesAndDeletesTheRecord) {
  auto profile = addProfile();
  auto home = addCategory(profile, "Home");
  auto giro = addAccount(profile, "Giro");
  auto bill = addBill(profile, "Rent", 25, home, giro);
  addBill(profile, "Water", 5, home, giro);
  ASSERT_TRUE(context().save().ok());
  showInSheet([bill](Binding<bool>) { return View(BillEntityItemScreen{.bill = bill, .shownInSheet = true}); });

  driver().tap(byId("deleteRow"));
  EXPECT_EQ(hapticCount("warning"), 1u);
  driver().tap(byId("confirmDelete"));
  EXPECT_FALSE(driver().exists(byId("deleteRow"))) << "the screen closed";
  EXPECT_EQ(names(*profile->bills()), (std::vector<std::string>{"Water"}));
  EXPECT_EQ(names(*home->bills()), (std::vector<std::string>{"Water"}));
  EXPECT_EQ(names(*giro->bills()), (std::vector<std::string>{"Water"}));
  EXPECT_FALSE(context().hasChanges());
  EXPECT_EQ(context().fetch<BillEntity>().size(), 1u);
}

}  // namespace
}  // namespace brivel
