// The bills screens' plain logic over a real store: cost text, period mapping, the orders and
// the sort toggle, grouping, search, the list's states and the delete walk.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Brivel/bills/bill_deletion.h"
#include "Brivel/bills/bill_input.h"
#include "Brivel/bills/bill_list_model.h"
#include "Brivel/bills/bill_ordering.h"
#include "Brivel/bills/bill_sections.h"
#include "bills_test_support.h"
#include "platform/ui/observable.h"

namespace brivel {
namespace {

using testing::BillsTest;

// ----- Input -----

TEST(BillInput, CostTextReadsOneCLocaleNumberOrGivesZero) {
  struct Case {
    std::string text;
    double cost;
  };
  const std::vector<Case> cases{
      {"12,5", 12.5},     {"12.5", 12.5},   {"", 0.0},        {" 12.5", 0.0},     {"12.5 ", 0.0},
      {"\t1", 0.0},       {"1.234,50", 0.0}, {"1e3", 1000.0}, {"-4", -4.0},       {"+3", 3.0},
      {"0x10", 16.0},     {"abc", 0.0},     {"12abc", 0.0},   {"nan", 0.0},       {"-inf", 0.0},
      {"infinity", 0.0},  {"1e999", 0.0},   {"1e308", 0.0},   {"-1e308", 0.0},    {"1e15", 1e15},
      {"1e16", 0.0},   {std::string("1\0", 2), 0.0},         {"12,50", 12.5},
  };
  for (const auto& c : cases) EXPECT_EQ(costFromText(c.text), c.cost) << "text: \"" << c.text << "\"";

  // The process's own locale never changes how the text is read.
  platform::Locale::setCurrent("de_DE");
  EXPECT_EQ(costFromText("12.5"), 12.5);
  platform::Locale::setCurrent("");
}

TEST(BillInput, StoredCostShowsAsShortestTextWithPoint) {
  EXPECT_EQ(costFieldText(10), "10.0");
  EXPECT_EQ(costFieldText(12.5), "12.5");
  EXPECT_EQ(costFieldText(0.1), "0.1");
}

TEST(BillInput, PickerIndicesMapToOneUsedPeriod) {
  struct Case {
    std::int64_t occurring, quarter, month;
    BillPeriod period;
  };
  const std::vector<Case> cases{
      {0, 2, 5, {OccurringType::monthly, std::nullopt, std::nullopt}},
      {1, 2, 5, {OccurringType::quarterly, QuarterType::quarter3, std::nullopt}},
      {1, 1, 0, {OccurringType::quarterly, QuarterType::quarter2, std::nullopt}},
      {1, 7, 0, {OccurringType::quarterly, QuarterType::quarter1, std::nullopt}},
      {2, 2, 11, {OccurringType::yearly, std::nullopt, YearlyType::december}},
      {2, 2, 12, {OccurringType::yearly, std::nullopt, YearlyType::january}},
      {2, 0, -1, {OccurringType::yearly, std::nullopt, YearlyType::january}},
      {7, 1, 3, {OccurringType::monthly, std::nullopt, std::nullopt}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(billPeriodFromIndices(c.occurring, c.quarter, c.month), c.period)
        << c.occurring << "/" << c.quarter << "/" << c.month;
  }
}

TEST(BillInput, NoteIsKeptTrimmedOnlyWhileSwitchedOnAndNotBlank) {
  EXPECT_EQ(noteFromInput(true, "  hi \n"), "hi");
  EXPECT_EQ(noteFromInput(true, " \n  "), std::nullopt);
  EXPECT_EQ(noteFromInput(false, "hi"), std::nullopt);
  EXPECT_TRUE(isBlankName(" \n "));
  EXPECT_FALSE(isBlankName(" Rent"));
}

// ----- Orders -----

class BillOrderTest : public BillsTest {};

TEST_F(BillOrderTest, EachBillOrderIsStableForEqualKeysInBothDirections) {
  auto profile = addProfile();
  // Stored order: rent, Rent, car, bike; rent/Rent equal by name, car/Rent equal by cost.
  addBill(profile, "rent", 10, nullptr, nullptr, 30);
  addBill(profile, "Rent", 20, nullptr, nullptr, 20);
  addBill(profile, "car", 20, nullptr, nullptr, 40);
  addBill(profile, "bike", 5, nullptr, nullptr, 10);
  struct Case {
    BillSortType sort;
    std::vector<std::string> order;
  };
  const std::vector<Case> cases{
      {BillSortType::name, {"bike", "car", "rent", "Rent"}},
      {BillSortType::nameReversed, {"rent", "Rent", "car", "bike"}},
      {BillSortType::cost, {"bike", "rent", "Rent", "car"}},
      {BillSortType::costReversed, {"Rent", "car", "rent", "bike"}},
      {BillSortType::timestamp, {"car", "rent", "Rent", "bike"}},
      {BillSortType::timestampReversed, {"bike", "Rent", "rent", "car"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(names(sortedBills(*profile->bills(), c.sort)), c.order) << "sort " << rawValue(c.sort);
    // The predicate agrees with the sort.
    profile->setBillSortType(c.sort);
    auto sorted = sortedBills(*profile->bills(), c.sort);
    for (std::size_t i = 1; i < sorted.size(); ++i) EXPECT_FALSE(billOrder(*sorted[i], *sorted[i - 1], *profile));
  }
}

TEST_F(BillOrderTest, AccountsSortColoursAndNumbersAsPlainText) {
  auto profile = addProfile();
  auto nine = addAccount(profile, "b", "sonicBlue", "9");
  auto ten = addAccount(profile, "A", "appleRed", "10");
  auto same = addAccount(profile, "c", "sonicBlue", "9");
  auto accountNames = [](const BankAccountList& list) {
    std::vector<std::string> out;
    for (const auto& a : list) out.push_back(a->name());
    return out;
  };
  const auto accounts = *profile->bankAccounts();
  EXPECT_EQ(accountNames(sortedBankAccounts(accounts, BankAccountSortType::color)), (std::vector<std::string>{"A", "b", "c"}));
  EXPECT_EQ(accountNames(sortedBankAccounts(accounts, BankAccountSortType::colorReversed)),
            (std::vector<std::string>{"b", "c", "A"}));
  EXPECT_EQ(accountNames(sortedBankAccounts(accounts, BankAccountSortType::number)), (std::vector<std::string>{"A", "b", "c"}));
  EXPECT_EQ(accountNames(sortedBankAccounts(accounts, BankAccountSortType::numberReversed)),
            (std::vector<std::string>{"b", "c", "A"}));
  EXPECT_EQ(accountNames(bankAccountChoices(accounts)), (std::vector<std::string>{"A", "b", "c"}));
  profile->setBankAccountSortType(BankAccountSortType::number);
  EXPECT_TRUE(bankAccountOrder(*ten, *nine, *profile));
  EXPECT_FALSE(bankAccountOrder(*nine, *same, *profile));
  EXPECT_FALSE(bankAccountOrder(*same, *nine, *profile));
}

TEST_F(BillOrderTest, CategoryChoicesKeepStoredOrderOfEqualNames) {
  auto profile = addProfile();
  addCategory(profile, "beta");
  auto upper = addCategory(profile, "Alpha");
  auto lower = addCategory(profile, "alpha");
  auto choices = categoryChoices(profile->categories());
  ASSERT_EQ(choices.size(), 3u);
  EXPECT_EQ(choices[0], upper);
  EXPECT_EQ(choices[1], lower);
  EXPECT_TRUE(categoryChoices(std::nullopt).empty());
}

TEST(SortMenuRules, ToggleReversesTheActiveKeyAndStartsOthersAscending) {
  EXPECT_EQ(nextSortValue(BillSortType::name, BillSortType::name), BillSortType::nameReversed);
  EXPECT_EQ(nextSortValue(BillSortType::nameReversed, BillSortType::name), BillSortType::name);
  EXPECT_EQ(nextSortValue(BillSortType::nameReversed, BillSortType::cost), BillSortType::cost);
  EXPECT_EQ(nextSortValue(BankAccountSortType::timestamp, BankAccountSortType::timestamp),
            BankAccountSortType::timestampReversed);
  EXPECT_EQ(sortEntryImage("envelope", BillSortType::name, BillSortType::name), "envelope.badge.arrow.up");
  EXPECT_EQ(sortEntryImage("envelope", BillSortType::nameReversed, BillSortType::name), "envelope.badge.arrow.down");
  EXPECT_EQ(sortEntryImage("clock", BillSortType::nameReversed, BillSortType::timestamp), "clock");
  EXPECT_EQ(sortEntryImage("clock", BillSortType::cost, BillSortType::name), "clock") << "cost is not nameReversed";
}

// ----- Sections and search -----

class BillSectionsTest : public BillsTest {};

TEST_F(BillSectionsTest, ListStateFollowsSelectionAndBillList) {
  EXPECT_EQ(collectionListState(nullptr), CollectionListState::noProfile);
  auto empty = addProfile("Empty");
  EXPECT_EQ(collectionListState(empty), CollectionListState::emptyProfile);
  auto absent = addProfile("Absent", std::nullopt);
  EXPECT_EQ(collectionListState(absent), CollectionListState::filledProfile);
  addBill(empty, "Rent", 1);
  EXPECT_EQ(collectionListState(empty), CollectionListState::filledProfile);
}

TEST_F(BillSectionsTest, BankAccountGroupingKeepsAccountsWithBillsAndClosesWithUncategorized) {
  auto profile = addProfile();
  auto giro = addAccount(profile, "Giro");
  addAccount(profile, "Empty");
  auto savings = addAccount(profile, "Savings");
  addBill(profile, "Rent", 900, nullptr, giro);
  addBill(profile, "Car", 100, nullptr, savings);
  addBill(profile, "Bike", 10, nullptr, giro);
  addBill(profile, "Tax", 50);
  profile->setCollectionFilterType(CollectionFilterType::bankAccount);
  profile->setBankAccountSortType(BankAccountSortType::nameReversed);

  auto content = buildBillListContent(*profile, "");
  ASSERT_EQ(content.layout, BillListLayout::bankAccountSections);
  ASSERT_EQ(content.sections.size(), 3u);
  EXPECT_EQ(content.sections[0].bankAccount, savings);
  EXPECT_EQ(content.sections[1].bankAccount, giro);
  EXPECT_EQ(names(content.sections[1].bills), (std::vector<std::string>{"Bike", "Rent"}));
  EXPECT_TRUE(content.sections[2].isUncategorized);
  EXPECT_EQ(names(content.sections[2].bills), (std::vector<std::string>{"Tax"}));

  // Every bill linked: no uncategorized section.
  profile->setBills(BillList{content.sections[0].bills[0], content.sections[1].bills[0]});
  content = buildBillListContent(*profile, "");
  EXPECT_FALSE(content.sections.back().isUncategorized);
}

TEST_F(BillSectionsTest, CategoryGroupingWithoutLinksHasOnlyUncategorizedAndOffHasRowsOnly) {
  auto profile = addProfile();
  addCategory(profile, "Home");
  addBill(profile, "b", 1);
  addBill(profile, "a", 2);
  profile->setCollectionFilterType(CollectionFilterType::category);
  auto content = buildBillListContent(*profile, "");
  ASSERT_EQ(content.sections.size(), 1u) << "a category whose bill list is empty gets no section";
  EXPECT_TRUE(content.sections[0].isUncategorized);

  profile->setCollectionFilterType(CollectionFilterType::off);
  content = buildBillListContent(*profile, "");
  EXPECT_EQ(content.layout, BillListLayout::allBills);
  EXPECT_TRUE(content.sections.empty());
  EXPECT_EQ(names(content.rows), (std::vector<std::string>{"a", "b"}));
}

TEST_F(BillSectionsTest, SearchMatchesUntrimmedTextCaseInsensitivelyInBillOrder) {
  auto profile = addProfile();
  addBill(profile, "Rent", 900);
  addBill(profile, "Car rental", 50);
  addBill(profile, "Café", 5);
  profile->setCollectionFilterType(CollectionFilterType::category);
  profile->setBillSortType(BillSortType::costReversed);
  struct Case {
    std::string text;
    std::vector<std::string> found;
  };
  const std::vector<Case> cases{
      {"RENT", {"Rent", "Car rental"}},
      {" rent", {"Car rental"}},
      {"cafe", {}},
      {"café", {"Café"}},
  };
  for (const auto& c : cases) {
    auto content = buildBillListContent(*profile, c.text);
    EXPECT_EQ(content.layout, BillListLayout::searchResults) << c.text;
    EXPECT_EQ(names(content.rows), c.found) << "search \"" << c.text << "\"";
  }
  EXPECT_FALSE(isSearching("  \n"));
  EXPECT_EQ(buildBillListContent(*profile, "   ").layout, BillListLayout::categorySections);
}

// The kept list model answers what buildBillListContent answers, before and after each kind
// of change it must notice, and tells the screens to render again when it drops its content.
TEST_F(BillSectionsTest, KeptListModelFollowsEveryChangeTheListDependsOn) {
  auto profile = addProfile();
  auto car = std::make_shared<CategoryEntity>();
  car->setName("Car");
  auto flat = std::make_shared<CategoryEntity>();
  flat->setName("Flat");
  profile->setCategories(CategoryList{flat, car});
  auto rent = addBill(profile, "Rent", 900, flat);
  auto fuel = addBill(profile, "fuel", 60, car);
  addBill(profile, "Gym", 20);
  addBill(profile, "Äpfel", 5, car);
  profile->setCollectionFilterType(CollectionFilterType::category);
  BillListModel model;
  int notices = 0;
  auto token = platform::ui::addAnyChangeObserver([&] { ++notices; });

  // Sections as names, each section's rows as names, for one search text.
  auto shape = [this](const BillListContent& content, const std::vector<BillList>& rows) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const auto& section = i < content.sections.size() ? content.sections[i] : BillSection{};
      out.push_back(section.isUncategorized ? "-" : section.category ? section.category->name() : "rows");
      for (const auto& name : names(rows[i])) out.push_back(name);
    }
    return out;
  };
  auto expectSame = [&](const std::string& search, const char* after) {
    auto kept = model.content(profile, search);
    std::vector<BillList> keptRows;
    for (const auto& group : kept->groups) keptRows.push_back(group.allBills());
    const auto fresh = buildBillListContent(*profile, search);
    std::vector<BillList> freshRows;
    if (fresh.sections.empty()) {
      freshRows.push_back(fresh.rows);
    } else {
      for (const auto& section : fresh.sections) freshRows.push_back(section.bills);
    }
    EXPECT_EQ(kept->content.layout, fresh.layout) << after;
    EXPECT_EQ(shape(kept->content, keptRows), shape(fresh, freshRows)) << after << ", search \"" << search << "\"";
    for (std::size_t i = 0; i < kept->groups.size(); ++i) EXPECT_EQ(kept->groups[i].allKeys(), billRowKeys(keptRows[i]));
    EXPECT_EQ(model.listState(profile), collectionListState(profile)) << after;
  };
  auto check = [&](const char* after) {
    for (const std::string search : {"", "e", "F", "äp"}) expectSame(search, after);
  };

  check("first");
  const auto first = model.content(profile, "");
  EXPECT_EQ(model.content(profile, ""), first) << "kept while nothing changed";

  struct Change {
    const char* what;
    std::function<void()> apply;
  };
  const std::vector<Change> changes{
      {"a bill renamed", [&] { fuel->setName("Zest"); }},
      {"a bill moved to another category", [&] { rent->setCategory(car); }},
      {"a cost changed under the cost order", [&] {
         profile->setBillSortType(BillSortType::costReversed);
         fuel->setCost(1000);
       }},
      {"the order reversed", [&] { profile->setBillSortType(BillSortType::nameReversed); }},
      {"a category renamed under the name order", [&] { car->setName("Boat"); }},
      {"the grouping switched off", [&] { profile->setCollectionFilterType(CollectionFilterType::off); }},
      {"a bill added", [&] { addBill(profile, "Bread", 3, flat); }},
      {"a bill given another id right after a computation", [&] {
         fuel->setCost(61);
         model.content(profile, "");
         fuel->setId(platform::UUID::random());
       }},
      {"a bill removed", [&] {
         BillList bills = *profile->bills();
         bills.erase(bills.begin());
         profile->setBills(bills);
       }},
  };
  for (const auto& change : changes) {
    const int before = notices;
    model.content(profile, "");
    change.apply();
    EXPECT_GT(notices, before) << change.what << ": the screens hear of it";
    check(change.what);
  }
  platform::Locale::setCurrent("sv_SE");  // "Ä" sorts after "Z" in Swedish
  check("the locale changed");
  {
    const int before = notices;
    profile->setBills(BillList{});
    EXPECT_GT(notices, before) << "emptied: the screens hear of it";
    check("the bills all removed");
  }
  platform::ui::removeAnyChangeObserver(token);
}

TEST(BillRowKeys, RepeatedKeysGetOwnIdentities) {
  EXPECT_EQ(uniqueKeys({"a", "b", "a", "a"}), (std::vector<std::string>{"a", "b", "a#2", "a#3"}));
}

// ----- Deleting -----

class BillDeletionTest : public BillsTest {};

TEST_F(BillDeletionTest, WalkUnlinksFromEveryListAndTheSaveDeletesTheRecord) {
  auto profile = addProfile();
  auto home = addCategory(profile, "Home");
  auto giro = addAccount(profile, "Giro");
  auto before = addBill(profile, "Water", 10, home, giro);
  auto doomed = addBill(profile, "Rent", 900, home, giro);
  auto after = addBill(profile, "Power", 20, home, giro);
  ASSERT_TRUE(context().save().ok());

  ASSERT_TRUE(scheduleBillDeletion(doomed, container_));
  EXPECT_EQ(profile->bills()->size(), 3u) << "the walk waits for the next turn of the main loop";
  platform::MainLoop::drain();

  EXPECT_EQ(names(*profile->bills()), (std::vector<std::string>{"Water", "Power"}));
  EXPECT_EQ(names(*home->bills()), (std::vector<std::string>{"Water", "Power"}));
  EXPECT_EQ(names(*giro->bills()), (std::vector<std::string>{"Water", "Power"}));
  EXPECT_FALSE(context().hasChanges()) << "the delete saved";
  for (const auto& stored : context().fetch<BillEntity>()) EXPECT_NE(stored, doomed);
  EXPECT_EQ(context().fetch<BillEntity>().size(), 2u);
}

TEST_F(BillDeletionTest, BillWithoutProfileIsLeftAloneAndAbsentListsAreSkipped) {
  auto profile = addProfile();
  auto orphan = std::make_shared<BillEntity>();
  EXPECT_FALSE(scheduleBillDeletion(orphan, container_));

  auto bill = addBill(profile, "Rent", 1);
  profile->setCategories(std::nullopt);
  profile->setBankAccounts(std::nullopt);
  removeBillFromProfileLists(*bill, *profile);
  EXPECT_TRUE(profile->bills()->empty());
}

TEST_F(BillDeletionTest, FailedSavePrintsOneLineAndKeepsTheRemoval) {
  auto profile = addProfile();
  auto bill = addBill(profile, "Rent", 1);
  ASSERT_TRUE(context().save().ok());
  context().setSaveFaultInjection([](platform::SaveStep step) { return step == platform::SaveStep::Commit; });
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(scheduleBillDeletion(bill, container_));
  platform::MainLoop::drain();
  const std::string printed = ::testing::internal::GetCapturedStdout();
  context().setSaveFaultInjection({});
  EXPECT_EQ(printed.rfind("Error saving: ", 0), 0u) << printed;
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1);
  EXPECT_TRUE(profile->bills()->empty());
}

}  // namespace
}  // namespace brivel
