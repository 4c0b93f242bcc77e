// The forecast screens at tree level in the app's environment over a real store, with the
// virtual clock: the forecast tab and its toolbar and sheets, the month cards, the month
// screen and the left-to-pay checklist.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "Brivel/bills/bill_list_model.h"
#include "Brivel/bills/collection_list_screen.h"
#include "Brivel/bills/neighbour_screens.h"
#include "Brivel/collections/bank_account_screens.h"
#include "Brivel/collections/category_screens.h"
#include "Brivel/collections/note_screens.h"
#include "Brivel/forecast/forecast_month_item_screen.h"
#include "Brivel/forecast/forecast_month_left_to_pay_screen.h"
#include "Brivel/forecast/forecast_screen.h"
#include "Brivel/forecast/salary_list_screen.h"
#include "Brivel/shell/root_screen.h"
#include "Brivel/shell/review_handler.h"
#include "Brivel/shell/tips.h"
#include "forecast_test_support.h"
#include "platform/dispatch/clock.h"
#include "platform/foundation/defaults.h"

namespace brivel {
namespace {

using namespace platform::ui;
using namespace platform::ui::testing;
using testing::ForecastTest;

class ForecastScreensTest : public ForecastTest {
 protected:
  void showForecast(const std::shared_ptr<ProfileEntity>& profile) {
    show([profile] { return View(ForecastScreen{profile}); });
  }
  // The texts of each month card, top to bottom.
  std::vector<std::vector<std::string>> monthCards() {
    std::vector<std::vector<std::string>> out;
    for (const Node* row : driver().findAll(byId("monthRow"))) out.push_back(textsIn(*row));
    return out;
  }
  std::vector<std::string> billRowNames() {
    std::vector<std::string> out;
    for (const Node* row : driver().findAll(byId("billRow"))) out.push_back(textsIn(*row).front());
    return out;
  }
  void choose(const std::string& segment) {
    driver().tap(byText(segment).ofKind(NodeKind::pickerOption));
  }
  // The texts of the first node with this id.
  std::vector<std::string> textsOf(const std::string& id) { return textsIn(driver().get(byId(id))); }

  // The image of the spendable menu's label.
  std::string menuLabelSymbol() {
    const auto& label = driver().get(byId("spendableMenu")).slot("label");
    return label.empty() ? std::string() : label.front().string(Attr::systemName);
  }

  platform::VirtualClock clock_;
};

// ----- The forecast tab -----

TEST_F(ForecastScreensTest, YearOverviewShowsTwelveMonthCardsWithTheirFigures) {
  auto profile = addProfile();
  addBill(profile, "M", 10);
  addBill(profile, "Q", 30, OccurringType::quarterly, QuarterType::quarter2);
  addBill(profile, "Y", 120, OccurringType::yearly, std::nullopt, YearlyType::december);
  addBill(profile, "Q'", 5, OccurringType::quarterly);
  addBill(profile, "Y'", 7, OccurringType::yearly);
  profile->setSalary({2000});
  showForecast(profile);

  const auto cards = monthCards();
  ASSERT_EQ(cards.size(), 12u);
  EXPECT_EQ(cards[0], (std::vector<std::string>{"localizable_january", "%lld", "$1,990.00", "$10.00", "localizable_leftToPay"}));
  EXPECT_EQ(cards[1], (std::vector<std::string>{"localizable_february", "%lld", "$1,960.00", "$40.00", "localizable_leftToPay"}));
  EXPECT_EQ(cards[11], (std::vector<std::string>{"localizable_december", "%lld", "$1,870.00", "$130.00", "localizable_leftToPay"}));
  const Node& december = *driver().findAll(byId("monthRow"))[11];
  EXPECT_EQ(december.slot("contextMenu").size(), 1u);
  EXPECT_FALSE(driver().exists(byId("emptyOccurrence")));
  EXPECT_TRUE(driver().exists(byId("spendableMenu")));
  EXPECT_FALSE(driver().exists(byId("sortMenu")));

  choose("localizable_quarter");
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Q", "Q'"}));
  EXPECT_TRUE(driver().exists(byId("sortMenu"))) << "the lists sort; the year overview shows the spendable menu";
  EXPECT_FALSE(driver().exists(byId("spendableMenu")));
  choose("localizable_year");
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Y", "Y'"}));
  choose("localizable_month");
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"M"}));
}

TEST_F(ForecastScreensTest, HiddenBehindTheBillsTabItIsNotBuiltAgainUntilShown) {
  auto profile = addProfile();
  auto rent = addBill(profile, "Rent", 900);
  addBill(profile, "Fee", 12, OccurringType::quarterly, QuarterType::quarter3);
  ASSERT_TRUE(context().save().ok());
  manager_->select(profile);
  auto builds = std::make_shared<int>(0);
  RootScreen root;
  root.collectionTab = [] { return View(CollectionListScreen{}); };
  root.forecastTab = [builds](const std::shared_ptr<ProfileEntity>& shown) {
    return View(Closure("countedForecast", [builds, shown](Context&) {
      ++*builds;
      return View(ForecastScreen{shown});
    }));
  };
  show([root] { return View(root); });
  ASSERT_TRUE(driver().exists(byText("localizable_forecast").ofKind(NodeKind::tab)));

  // The bills tab opens and closes its settings sheet, and renders again for nothing: the
  // forecast behind it reads none of that.
  const int hidden = *builds;
  driver().tap(byId("settings"));
  ASSERT_TRUE(driver().exists(byKind(NodeKind::sheet)));
  driver().runtime().invalidate();
  driver().tree();
  EXPECT_EQ(*builds, hidden);

  // A bill it shows changes: hidden, it waits to be shown.
  rent->setCost(950);
  driver().tree();
  EXPECT_EQ(*builds, hidden);

  // Shown, it has the new figure and its picker still works.
  driver().tap(byText("localizable_forecast").ofKind(NodeKind::tab));
  const auto january = monthCards().front();
  EXPECT_NE(std::find(january.begin(), january.end(), "$950.00"), january.end());
  choose("localizable_quarter");
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Fee"}));
}

TEST_F(ForecastScreensTest, EachEmptyKindShowsItsEmptyStateButTheYearNever) {
  auto profile = addProfile("Home", std::nullopt);
  showForecast(profile);
  EXPECT_EQ(monthCards().size(), 12u);
  EXPECT_FALSE(driver().exists(byId("emptyOccurrence")));
  struct Case {
    const char* segment;
    const char* title;
  } cases[] = {{"localizable_month", "localizable_noMonthlyBills"},
               {"localizable_quarter", "localizable_noQuarterlyBills"},
               {"localizable_year", "localizable_noYearlyBills"}};
  for (const auto& c : cases) {
    choose(c.segment);
    EXPECT_TRUE(driver().exists(byText(c.title))) << c.segment;
    EXPECT_TRUE(driver().exists(bySymbol("envelope.circle.fill.badge.checkmark")));
  }
  choose("localizable_quarter");
  driver().tap(byKind(NodeKind::pickerOption));  // the year overview
  EXPECT_FALSE(driver().exists(byId("emptyOccurrence")));
}

TEST_F(ForecastScreensTest, ProfileMenuListsTheNameTheFavouriteAndTheGeneralEntries) {
  auto profile = addProfile("Household");
  showForecast(profile);
  struct Case {
    FavoriteQuickAction action;
    const char* title;
    const char* symbol;
  } cases[] = {{FavoriteQuickAction::openBankAccounts, "localizable_bankAccounts", "creditcard"},
               {FavoriteQuickAction::openCategories, "localizable_categories", "personalhotspot"},
               {FavoriteQuickAction::openNotes, "localizable_notes", "paperclip"},
               {FavoriteQuickAction::openSalary, "localizable_salary", "centsign"}};
  for (const auto& c : cases) {
    profile->setFavoriteQuickAction(c.action);
    const Node& menu = driver().get(byId("profileMenu"));
    std::vector<std::string> entries;
    for (const auto& child : menu.children) {
      entries.push_back(child.kind == NodeKind::divider ? "---" : textsIn(child).front());
    }
    EXPECT_EQ(entries, (std::vector<std::string>{"Household", c.title, "---", "localizable_profiles",
                                                 "localizable_settings"}));
    EXPECT_TRUE(driver().exists(bySymbol(c.symbol)));
  }
  profile->setName("Renamed");
  EXPECT_EQ(textsIn(driver().get(byId("editProfile"))).front(), "Renamed");
}

TEST_F(ForecastScreensTest, EverySheetClosesByItsOwnButton) {
  auto profile = addProfile();
  // The side lists as the program installs them: each brings its own close button.
  show([profile] {
    using Profile = std::shared_ptr<ProfileEntity>;
    BillsNeighbourScreens sheets = BillsNeighbourScreensKey::defaultValue();
    sheets.bankAccounts = [](const Profile& p, DismissAction) {
      return View(BankAccountsListScreen{.profile = p, .presentedInSheet = true});
    };
    sheets.categories = [](const Profile& p, DismissAction) {
      return View(CategoriesListScreen{.profile = p, .presentedInSheet = true});
    };
    sheets.notes = [](const Profile& p, DismissAction) {
      return View(NotesListScreen{.profile = p, .presentedInSheet = true});
    };
    sheets.salary = salarySheetScreen;
    return View(ForecastScreen{profile}).environment<BillsNeighbourScreensKey>(sheets);
  });
  struct Case {
    FavoriteQuickAction favourite;
    const char* entry;
    const char* sizing;
  } cases[] = {
      {FavoriteQuickAction::openBankAccounts, "quickAction", "page"},
      {FavoriteQuickAction::openCategories, "quickAction", "page"},
      {FavoriteQuickAction::openNotes, "quickAction", "page"},
      {FavoriteQuickAction::openSalary, "quickAction", "page"},
      {FavoriteQuickAction::openSalary, "editProfile", "page"},
      {FavoriteQuickAction::openSalary, "profiles", "page"},
      {FavoriteQuickAction::openSalary, "settings", "form"},
  };
  for (const auto& c : cases) {
    profile->setFavoriteQuickAction(c.favourite);
    driver().tap(byId(c.entry));
    const Node* sheet = driver().find(byKind(NodeKind::sheet));
    ASSERT_NE(sheet, nullptr) << c.entry << " " << rawValue(c.favourite);
    EXPECT_EQ(sheet->string(Attr::sizing), c.sizing);
    ASSERT_TRUE(driver().exists(byId("close"))) << c.entry;
    driver().tap(byId("close"));
    EXPECT_FALSE(driver().exists(byKind(NodeKind::sheet))) << c.entry << " " << rawValue(c.favourite) << " stays open";
  }
}

TEST_F(ForecastScreensTest, SpendableSwitchAndSortMenuWriteTheProfile) {
  auto profile = addProfile();
  addBill(profile, "Cheap", 1);
  addBill(profile, "Dear", 100);
  showForecast(profile);
  ASSERT_TRUE(profile->showSpendable());
  EXPECT_TRUE(driver().exists(byId("spendable")));
  EXPECT_TRUE(driver().exists(byText("localizable_hideSpendable")));
  driver().tap(byId("toggleSpendable"));
  EXPECT_FALSE(profile->showSpendable());
  EXPECT_FALSE(driver().exists(byId("spendable")));
  EXPECT_EQ(menuLabelSymbol(), "eyeglasses.slash");
  EXPECT_TRUE(driver().exists(byText("localizable_showSpendable")));
  driver().tap(byId("toggleSpendable"));
  EXPECT_TRUE(profile->showSpendable());
  EXPECT_EQ(menuLabelSymbol(), "eyeglasses");

  choose("localizable_month");
  EXPECT_TRUE(driver().exists(bySymbol("clock")));
  EXPECT_TRUE(driver().exists(bySymbol("envelope.badge.arrow.up")));
  profile->setBillSortType(BillSortType::cost);
  driver().tap(byId("sortBills.localizable_cost"));
  EXPECT_EQ(profile->billSortType(), BillSortType::costReversed);
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Dear", "Cheap"}));
  EXPECT_TRUE(driver().exists(bySymbol("centsign.circle.badge.arrow.down")));
  driver().tap(byId("sortBills.localizable_cost"));
  EXPECT_EQ(profile->billSortType(), BillSortType::cost);
  profile->setBillSortType(BillSortType::costReversed);
  driver().tap(byId("sortBills.localizable_name"));
  EXPECT_EQ(profile->billSortType(), BillSortType::name);
  driver().tap(byId("sortBills.localizable_dateAdded"));
  EXPECT_EQ(profile->billSortType(), BillSortType::timestamp);
  EXPECT_TRUE(driver().exists(bySymbol("calendar.badge.arrow.up")));
  driver().tap(byId("sortBills.localizable_dateAdded"));
  EXPECT_TRUE(driver().exists(bySymbol("calendar.badge.arrow.down")));
}

TEST_F(ForecastScreensTest, DeletingTheShownProfileFromItsProfilesSheetRemovesTheTab) {
  auto profile = addProfile("Doomed");
  manager_->select(profile);
  show([] {
    RootScreen root;
    root.forecastTab = [](const std::shared_ptr<ProfileEntity>& p) { return View(ForecastScreen{p}); };
    return View(root);
  });
  driver().tap(byText("localizable_forecast").ofKind(NodeKind::tab));
  driver().tap(byId("profiles"));
  ASSERT_TRUE(driver().exists(byId("profileCard")));
  driver().tap(byId("menu.delete"));
  driver().tap(byText("localizable_delete").ofKind(NodeKind::button));
  clock_.advance(std::chrono::microseconds(1));
  driver().tree();
  EXPECT_TRUE(profile->isDeleted() || profile->modelContext() == nullptr);
  EXPECT_EQ(manager_->selectedUser(), nullptr);
  EXPECT_FALSE(driver().exists(byText("localizable_forecast").ofKind(NodeKind::tab)));
  EXPECT_FALSE(driver().exists(byId("monthRow")));
}

// ----- The month card -----

TEST_F(ForecastScreensTest, MonthCardSpendableFollowsTheSalary) {
  auto profile = addProfile();
  addBill(profile, "Rent", 130, OccurringType::yearly, std::nullopt, YearlyType::december);
  showForecast(profile);
  auto december = [&] { return driver().findAll(byId("spendable"))[11]; };
  auto spendableOf = [&] { return textsIn(*december()).front(); };
  auto colourOf = [&](const Node& row) {
    const Color* colour = row.children.front().color(Attr::foregroundStyle);
    return colour ? colour->name : std::string();
  };
  struct Case {
    SalaryType type;
    std::vector<double> salary;
    const char* december;
    const char* colour;
  } cases[] = {
      {SalaryType::fixed, {2000}, "$1,870.00", "appleGreen"},
      {SalaryType::fixed, {130}, "$0.00", "appleRed"},  // exactly 0 is not green
      {SalaryType::variable, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 500}, "$370.00", "appleGreen"},
      {SalaryType::variable, {1000}, "-$130.00", "appleRed"},  // too short: December's value counts as 0
      {SalaryType::fixed, {}, "-$130.00", "appleRed"},
      {SalaryType::fixed, {130.001}, "$0.00", "appleGreen"},
  };
  for (const auto& c : cases) {
    profile->setSalaryType(c.type);
    profile->setSalary(c.salary);
    EXPECT_EQ(spendableOf(), c.december) << c.salary.size();
    EXPECT_EQ(colourOf(*december()), c.colour) << c.december;
  }
  profile->setSalaryType(SalaryType::fixed);
  profile->setSalary({129.999});
  EXPECT_EQ(spendableOf(), "$0.00") << "never a negative zero";

  platform::Locale::setCurrent("de_DE");
  profile->setSalary({2000});
  EXPECT_EQ(spendableOf(), "1.870,00\u00A0€");
  platform::Locale::setCurrent("en");
  profile->setSalary({2001});
  EXPECT_EQ(spendableOf(), "$1,871.00") << "a locale without a currency shows USD";
}

// ----- The month screen -----

TEST_F(ForecastScreensTest, EmptyMonthShowsItsEmptyStateAndNoCard) {
  auto profile = addProfile();
  show([profile] { return NavigationStack(View(ForecastMonthItemScreen{profile, std::make_shared<const ForecastMonthValues>(*monthValues(*profile, 3))})); });
  EXPECT_TRUE(driver().exists(byText("localizable_noBillsThisMonth")));
  EXPECT_FALSE(driver().exists(byId("monthSummary")));
  EXPECT_FALSE(driver().exists(byKind(NodeKind::popoverTip)));
  EXPECT_FALSE(driver().exists(byId("billRow")));
  EXPECT_EQ(driver().get(byKind(NodeKind::list)).string(Attr::scrollBounceBehavior), "basedOnSize");
  EXPECT_EQ(driver().get(byKind(NodeKind::navigationPage)).textContent(Attr::title)->key, "localizable_april");
}

TEST_F(ForecastScreensTest, MonthCardPushesTheMonthWhoseSummaryOpensTheChecklistOnce) {
  auto profile = addProfile();
  auto rent = addBill(profile, "Rent", 900);
  addBill(profile, "Fee", 12, OccurringType::quarterly, QuarterType::quarter3);
  showForecast(profile);
  driver().tap(byId("monthRow").nth(2));  // March
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Fee", "Rent"}));
  EXPECT_TRUE(driver().exists(byKind(NodeKind::popoverTip)));
  EXPECT_EQ(textsOf("monthSummary"), (std::vector<std::string>{"%lld", "$912.00"}));

  driver().tap(byId("monthSummary"));
  EXPECT_EQ(hapticCount("selection"), 1u);
  ASSERT_TRUE(driver().exists(byKind(NodeKind::sheet)));
  EXPECT_TRUE(driver().exists(byText("localizable_totalLeftToPay")));
  EXPECT_FALSE(Tips::shouldDisplay(LeftToPayTip().id()));
  driver().tap(byId("close"));
  EXPECT_FALSE(driver().exists(byKind(NodeKind::sheet)));
  EXPECT_FALSE(driver().exists(byKind(NodeKind::popoverTip))) << "the tip is retired for good";

  // An edit made meanwhile shows at once on the month screen.
  rent->setCost(1000);
  EXPECT_EQ(textsOf("monthSummary"), (std::vector<std::string>{"%lld", "$1,012.00"}));
  auto bills = *profile->bills();
  bills.erase(bills.begin());
  profile->setBills(bills);
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Fee"}));
  EXPECT_EQ(textsOf("monthSummary"), (std::vector<std::string>{"%lld", "$12.00"}));

  // The month screen's sort menu changes the profile's order.
  driver().tap(byId("sortBills.localizable_cost"));
  EXPECT_EQ(profile->billSortType(), BillSortType::cost);
}

// The month's rows are read off the bills list's kept order and kept between renders: they
// follow a rename, another order, a bill that leaves or joins the month; bills of equal names
// keep the month's own order (its monthly bills before its quarterly ones).
TEST_F(ForecastScreensTest, MonthRowsFollowEveryChangeOfTheOrderOrTheMonth) {
  auto profile = addProfile();
  auto fee = addBill(profile, "rent", 12, OccurringType::quarterly, QuarterType::quarter1);
  addBill(profile, "Rent", 900);
  auto water = addBill(profile, "Water", 30);
  showForecast(profile);
  driver().tap(byId("monthRow").nth(0));  // January
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Rent", "rent", "Water"}));
  water->setName("Apples");
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Apples", "Rent", "rent"}));
  profile->setBillSortType(BillSortType::costReversed);
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Rent", "Apples", "rent"}));
  fee->setQuarterly(QuarterType::quarter2);
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Rent", "Apples"}));
  water->setOccurring(OccurringType::yearly);
  water->setYearly(YearlyType::february);
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Rent"}));
  fee->setQuarterly(QuarterType::quarter1);
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Rent", "rent"}));
}

// Bills added while the month is kept are put into its rows where a full read would place
// them: after older bills of equal keys of their part, before the quarterly ones of equal
// keys; those of other months stay out; a bill edited since, or one whose id a row has, reads
// the whole month again.
TEST_F(ForecastScreensTest, MonthRowsTakeInAddedBillsInTheirPlaces) {
  auto profile = addProfile();
  addBill(profile, "rent", 12, OccurringType::quarterly, QuarterType::quarter1);
  auto first = addBill(profile, "Rent", 900);
  addBill(profile, "Water", 30);
  showForecast(profile);
  driver().tap(byId("monthRow").nth(0));  // January
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Rent", "rent", "Water"}));

  auto second = addBill(profile, "RENT", 5);
  addBill(profile, "Apples", 7, OccurringType::yearly, std::nullopt, YearlyType::january);
  addBill(profile, "Bread", 3, OccurringType::yearly, std::nullopt, YearlyType::march);
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Apples", "Rent", "RENT", "rent", "Water"}));
  EXPECT_EQ(textsOf("monthSummary"), (std::vector<std::string>{"%lld", "$954.00"}));

  // A new bill, then an edit of an older one.
  auto zoo = addBill(profile, "Zoo", 1);
  second->setName("Cars");
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Apples", "Cars", "Rent", "rent", "Water", "Zoo"}));

  // A bill sharing a row's id: each keeps a row of its own.
  auto twin = addBill(profile, "Twin", 2);
  twin->setId(first->id());
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Apples", "Cars", "Rent", "rent", "Twin", "Water", "Zoo"}));
  auto late = addBill(profile, "Late", 4);
  late->setId(zoo->id());
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Apples", "Cars", "Late", "Rent", "rent", "Twin", "Water", "Zoo"}));
  std::vector<std::string> keys;
  for (const Node* row : driver().findAll(byId("billRow"))) keys.push_back(row->identity);
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end()) << "every row has a key of its own";

  profile->setBillSortType(BillSortType::cost);
  addBill(profile, "Cheap", 0.5);
  EXPECT_EQ(billRowNames(),
            (std::vector<std::string>{"Cheap", "Zoo", "Twin", "Late", "Cars", "Apples", "rent", "Water", "Rent"}));
}

// Two bills of another month sharing an id give the whole list keys of text; a bill put into
// the month with the id of one of its rows still gets a row and a key of its own.
TEST_F(ForecastScreensTest, MonthRowsKeepKeysApartWhenAnotherMonthSharesAnId) {
  auto profile = addProfile();
  auto rent = addBill(profile, "Rent", 900);
  auto tax = addBill(profile, "Tax", 50, OccurringType::yearly, std::nullopt, YearlyType::march);
  addBill(profile, "Fee", 5, OccurringType::yearly, std::nullopt, YearlyType::march)->setId(tax->id());
  (void)BillListModel::shared().monthRows(profile, 2);  // March's rows: the shared id is known
  showForecast(profile);
  driver().tap(byId("monthRow").nth(0));  // January
  EXPECT_EQ(billRowNames(), std::vector<std::string>{"Rent"});

  addBill(profile, "Twin", 2)->setId(rent->id());
  EXPECT_EQ(billRowNames(), (std::vector<std::string>{"Rent", "Twin"}));
  std::vector<std::string> keys;
  for (const Node* row : driver().findAll(byId("billRow"))) keys.push_back(row->identity);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_NE(keys[0], keys[1]);
}

TEST_F(ForecastScreensTest, MonthCardsContextMenuOpensTheChecklist) {
  auto profile = addProfile();
  addBill(profile, "Rent", 900);
  showForecast(profile);
  driver().tap(byId("leftToPay").nth(4));
  const Node* sheet = driver().find(byKind(NodeKind::sheet));
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet->string(Attr::sizing), "page");
  EXPECT_TRUE(sheet->flag(Attr::interactiveDismissDisabled));
  EXPECT_EQ(driver().get(byKind(NodeKind::navigationPage)).textContent(Attr::title)->key, "localizable_may");
  EXPECT_EQ(driver().dismiss(byKind(NodeKind::sheet)), DispatchStatus::refused) << "it cannot be swiped away";
  driver().tap(byId("close"));
  EXPECT_FALSE(driver().exists(byKind(NodeKind::sheet)));
}

// ----- The checklist -----

class LeftToPayScreenTest : public ForecastScreensTest {
 protected:
  void SetUp() override {
    ForecastScreensTest::SetUp();
    profile = addProfile();
    acc1 = addAccount(profile, "111", "appleBlue");
    acc2 = addAccount(profile, "222", "appleTeal");
    profile->setBankAccounts(BankAccountList{acc2, acc1});
    a = addBill(profile, "a bill", 10, OccurringType::monthly, std::nullopt, std::nullopt, acc1);
    b = addBill(profile, "B bill", 5);
    c = addBill(profile, "C bill", 2.5, OccurringType::monthly, std::nullopt, std::nullopt, acc2);
    ASSERT_TRUE(context().save().ok());
    auto values = *monthValues(*profile, 0);
    showInSheet([this, values](Binding<bool> flag) {
      return View(ForecastMonthLeftToPayScreen{flag, profile, values, {}});
    });
  }
  // Every section as the texts it shows (values before labels, headers last).
  std::vector<std::vector<std::string>> sections() {
    std::vector<std::vector<std::string>> out;
    for (const Node* section : driver().findAll(byKind(NodeKind::section))) out.push_back(textsIn(*section));
    return out;
  }
  void tapBill(const std::string& name) { driver().tap(byText(name).ofKind(NodeKind::button)); }

  std::shared_ptr<ProfileEntity> profile;
  std::shared_ptr<BankAccountEntity> acc1, acc2;
  std::shared_ptr<BillEntity> a, b, c;
};

TEST_F(LeftToPayScreenTest, SectionsFollowTheAccountsThenUncategorized) {
  using V = std::vector<std::string>;
  EXPECT_EQ(sections(), (std::vector<V>{
                            {"$17.50", "%lld", "localizable_totalLeftToPay"},
                            {"%lld", "222", "$2.50", "C bill", "$2.50"},
                            {"%lld", "111", "$10.00", "a bill", "$10.00"},
                            {"%lld", "localizable_uncategorized", "$5.00", "B bill", "$5.00"},
                        }));
  EXPECT_TRUE(driver().get(byId("resetPayedBills")).flag(Attr::disabled));
}

TEST_F(LeftToPayScreenTest, PayUnpayAndResetMoveBillsAndAmounts) {
  using V = std::vector<std::string>;
  tapBill("C bill");
  tapBill("a bill");
  EXPECT_EQ(hapticCount("selection"), 2u);
  EXPECT_EQ(sections(), (std::vector<V>{
                            {"$5.00", "%lld", "localizable_totalLeftToPay"},
                            {"%lld", "localizable_uncategorized", "$5.00", "B bill", "$5.00"},
                            {"$12.50", "%lld", "$10.00", "a bill", "$2.50", "C bill", "localizable_totalPaid"},
                        }))
      << "paid bills by name, whatever the order of payment";
  EXPECT_FALSE(driver().get(byId("resetPayedBills")).flag(Attr::disabled));

  // A stale post for a bill that is already paid changes nothing.
  const std::string payA = driver().get(byText("a bill").ofKind(NodeKind::button)).actionId;
  tapBill("a bill");  // unpays it
  EXPECT_EQ(driver().runtime().dispatch(ActionEvent{payA, EventKind::tap, {}}), DispatchStatus::unknownAction);
  driver().tree();
  EXPECT_EQ(hapticCount("selection"), 3u);
  EXPECT_EQ(sections()[0], (V{"$15.00", "%lld", "localizable_totalLeftToPay"}));
  EXPECT_EQ(sections()[2], (V{"%lld", "localizable_uncategorized", "$5.00", "B bill", "$5.00"}));
  EXPECT_EQ(sections()[1], (V{"%lld", "111", "$10.00", "a bill", "$10.00"}));

  tapBill("B bill");
  driver().tap(byId("resetPayedBills"));
  EXPECT_EQ(hapticCount("selection"), 5u) << "one for the pay, one for the reset";
  EXPECT_EQ(sections(), (std::vector<V>{
                            {"$17.50", "%lld", "localizable_totalLeftToPay"},
                            {"%lld", "222", "$2.50", "C bill", "$2.50"},
                            {"%lld", "111", "$10.00", "a bill", "$10.00"},
                            {"%lld", "localizable_uncategorized", "$5.00", "B bill", "$5.00"},
                        }));
  EXPECT_FALSE(profile->hasChanges()) << "the checklist writes nothing";
  EXPECT_EQ(profile->bills()->size(), 3u);
}

TEST_F(LeftToPayScreenTest, GroupsShowEditsMadeWhileOpenAndTicksAfterThem) {
  using V = std::vector<std::string>;
  tapBill("C bill");
  b->setBankAccount(acc1);
  a->setCost(12);  // the bill figures change: the sheet renders again
  EXPECT_EQ(sections(), (std::vector<V>{
                            {"$15.00", "%lld", "localizable_totalLeftToPay"},
                            {"%lld", "111", "$12.00", "a bill", "$5.00", "B bill", "$17.00"},
                            {},  // no bill without an account
                            {"$2.50", "%lld", "$2.50", "C bill", "localizable_totalPaid"},
                        }))
      << "the amount left moves only with ticks";
  tapBill("C bill");
  tapBill("a bill");
  EXPECT_EQ(sections(), (std::vector<V>{
                            {"$5.50", "%lld", "localizable_totalLeftToPay"},
                            {"%lld", "222", "$2.50", "C bill", "$2.50"},
                            {"%lld", "111", "$5.00", "B bill", "$5.00"},
                            {},
                            {"$12.00", "%lld", "$12.00", "a bill", "localizable_totalPaid"},
                        }));
}

TEST_F(LeftToPayScreenTest, AllPaidAsksForOneReviewAndUnpayingBringsTheSummaryBack) {
  auto defaults = platform::UserDefaults::standard();
  const auto before = defaults->integer(ReviewHandler::kAppStartUpsCountKey).value_or(0);
  tapBill("a bill");
  tapBill("B bill");
  tapBill("C bill");
  EXPECT_TRUE(driver().exists(byId("allPayed")));
  EXPECT_FALSE(driver().exists(byText("localizable_totalLeftToPay")));
  driver().tree();
  EXPECT_EQ(defaults->integer(ReviewHandler::kAppStartUpsCountKey).value_or(0), before + 1) << "one review check";
  tapBill("B bill");
  EXPECT_FALSE(driver().exists(byId("allPayed")));
  EXPECT_TRUE(driver().exists(byText("localizable_totalLeftToPay")));
  EXPECT_EQ(defaults->integer(ReviewHandler::kAppStartUpsCountKey).value_or(0), before + 1);
  driver().tap(byId("close"));
  EXPECT_FALSE(*presented_);
}

}  // namespace
}  // namespace brivel
