// The forecast's plain figures over a real store: month records, bill lists, spendable
// amounts, amount texts, the checklist's moves and groups, and the salary form.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "Brivel/forecast/forecast_figures.h"
#include "Brivel/forecast/left_to_pay.h"
#include "Brivel/forecast/salary_form.h"
#include "forecast_test_support.h"

namespace brivel {
namespace {

using testing::ForecastTest;

class ForecastLogicTest : public ForecastTest {};

TEST_F(ForecastLogicTest, MonthRecordsFollowEachBillsPeriod) {
  auto profile = addProfile();
  auto y = addBill(profile, "Y", 120, OccurringType::yearly, std::nullopt, YearlyType::december);
  auto q = addBill(profile, "Q", 30, OccurringType::quarterly, QuarterType::quarter2);
  auto m = addBill(profile, "M", 10);
  auto qLoose = addBill(profile, "Q'", 5, OccurringType::quarterly);
  auto yLoose = addBill(profile, "Y'", 7, OccurringType::yearly);

  const auto year = monthValues(*profile);
  for (int i = 0; i < 12; ++i) {
    const auto& month = year[static_cast<std::size_t>(i)];
    EXPECT_EQ(month.month, std::string(kForecastMonthKeys[static_cast<std::size_t>(i)]));
    const bool quarterMonth = i % 3 == 1;
    const double expected = i == 11 ? 130.0 : quarterMonth ? 40.0 : 10.0;
    EXPECT_DOUBLE_EQ(month.cost, expected) << month.month;
    BillList items{m};
    if (quarterMonth) items.push_back(q);
    if (i == 11) items.push_back(y);
    EXPECT_EQ(month.items, items) << month.month << ": monthly, then quarterly, then yearly";
  }
  EXPECT_EQ(monthValues(*profile, 4)->items, year[4].items);
  EXPECT_EQ(monthValues(*profile, 11)->cost, 130.0);
  EXPECT_FALSE(monthValues(*profile, -1).has_value()) << "no month before January";
  EXPECT_FALSE(monthValues(*profile, 12).has_value()) << "none after December";

  EXPECT_EQ(occurrenceList(*profile, OccurringType::quarterly), (BillList{q, qLoose}));
  EXPECT_EQ(occurrenceList(*profile, OccurringType::yearly), (BillList{y, yLoose}));
  EXPECT_EQ(occurrenceList(*profile, OccurringType::monthly), (BillList{m}));
}

TEST_F(ForecastLogicTest, NoBillsGiveTwelveEmptyMonthsAndNoKind) {
  for (auto bills : {std::optional<BillList>(BillList{}), std::optional<BillList>()}) {
    auto profile = addProfile("Empty", bills);
    for (const auto& month : monthValues(*profile)) {
      EXPECT_EQ(month.cost, 0.0);
      EXPECT_TRUE(month.items.empty());
    }
    for (auto kind : {OccurringType::monthly, OccurringType::quarterly, OccurringType::yearly}) {
      EXPECT_FALSE(hasBills(*profile, kind));
      EXPECT_TRUE(occurrenceList(*profile, kind).empty());
    }
  }
}

TEST_F(ForecastLogicTest, OccurrenceListsSortStablyInTheProfilesOrder) {
  auto profile = addProfile();
  auto beta = addBill(profile, "Beta", 5, OccurringType::monthly, std::nullopt, std::nullopt, nullptr, 30);
  auto alpha = addBill(profile, "alpha", 5, OccurringType::monthly, std::nullopt, std::nullopt, nullptr, 20);
  auto alpha2 = addBill(profile, "Alpha", 9, OccurringType::monthly, std::nullopt, std::nullopt, nullptr, 10);
  struct Case {
    BillSortType sort;
    BillList expected;
  } cases[] = {
      {BillSortType::name, {alpha, alpha2, beta}},
      {BillSortType::nameReversed, {beta, alpha, alpha2}},
      {BillSortType::cost, {beta, alpha, alpha2}},
      {BillSortType::costReversed, {alpha2, beta, alpha}},
      {BillSortType::timestamp, {beta, alpha, alpha2}},
      {BillSortType::timestampReversed, {alpha2, alpha, beta}},
  };
  for (const auto& c : cases) {
    profile->setBillSortType(c.sort);
    EXPECT_EQ(names(occurrenceList(*profile, OccurringType::monthly)), names(c.expected)) << rawValue(c.sort);
  }
}

TEST_F(ForecastLogicTest, SpendableAmountByTypeMonthAndShortSalaries) {
  auto profile = addProfile();
  ForecastMonthValues december{"localizable_december", 130.0, {}};
  ForecastMonthValues march{"localizable_march", 10.0, {}};
  ForecastMonthValues unknown{"localizable_salary", 10.0, {}};
  std::vector<double> months(12, 100.0);
  months[11] = 500.0;
  struct Case {
    SalaryType type;
    std::vector<double> salary;
    const ForecastMonthValues* values;
    double expected;
  } cases[] = {
      {SalaryType::fixed, {2000}, &december, 1870},
      {SalaryType::fixed, {2000}, &march, 1990},
      {SalaryType::fixed, {}, &march, -10},  // no value: 0.0 earned
      {SalaryType::variable, months, &december, 370},
      {SalaryType::variable, months, &march, 90},
      {SalaryType::variable, {100, 100, 100}, &december, -130},  // December missing
      {SalaryType::variable, months, &unknown, 0},
      {SalaryType::fixed, {130}, &december, 0},
  };
  for (const auto& c : cases) {
    profile->setSalaryType(c.type);
    profile->setSalary(c.salary);
    EXPECT_DOUBLE_EQ(spendableAmount(*profile, *c.values), c.expected) << c.values->month << " " << c.salary.size();
  }
}

TEST_F(ForecastLogicTest, AmountTextsFollowTheLocaleAndNeverShowNegativeZero) {
  EXPECT_EQ(amountText(40), "$40.00");
  EXPECT_EQ(amountText(-1), "-$1.00");
  EXPECT_EQ(amountText(-0.0), "$0.00");
  EXPECT_EQ(amountText(-0.001), "$0.00");
  EXPECT_EQ(amountText(0.3 - (0.1 + 0.2)), "$0.00") << "a salary of 0.3 less bills of 0.1 and 0.2";
  platform::Locale::setCurrent("de_DE");
  EXPECT_EQ(amountText(1234.5), "1.234,50\u00A0€");
  EXPECT_EQ(amountText(-0.001), "0,00\u00A0€");
  platform::Locale::setCurrent("ja_JP");
  EXPECT_EQ(amountText(-0.4), "￥0") << "rounds to zero in a currency without cents";
  platform::Locale::setCurrent("en");
  EXPECT_EQ(amountText(12), "$12.00") << "a locale without a currency shows USD";
}

// ----- The checklist -----

class LeftToPayLogicTest : public ForecastTest {
 protected:
  void SetUp() override {
    ForecastTest::SetUp();
    profile = addProfile();
    acc1 = addAccount(profile, "111");
    acc2 = addAccount(profile, "222");
    profile->setBankAccounts(BankAccountList{acc2, acc1});
    a = addBill(profile, "A", 10, OccurringType::monthly, std::nullopt, std::nullopt, acc1);
    b = addBill(profile, "B", 5);
    c = addBill(profile, "C", 2.5, OccurringType::monthly, std::nullopt, std::nullopt, acc2);
    state = LeftToPayState{"localizable_may", 17.5, {a, b, c}, {}};
  }
  std::shared_ptr<ProfileEntity> profile;
  std::shared_ptr<BankAccountEntity> acc1, acc2;
  std::shared_ptr<BillEntity> a, b, c;
  LeftToPayState state;
};

TEST_F(LeftToPayLogicTest, GroupsFollowTheProfilesAccountOrder) {
  auto groups = leftToPayGroups(*profile, state.items).accounts;
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].account, acc2);
  EXPECT_EQ(*groups[0].bills, (BillList{c}));
  EXPECT_EQ(groups[1].account, acc1);
  EXPECT_DOUBLE_EQ(groups[1].cost, 10);
  EXPECT_EQ(*leftToPayGroups(*profile, state.items).uncategorized.bills, (BillList{b}));

  payBill(state, c);
  groups = leftToPayGroups(*profile, state.items).accounts;
  ASSERT_EQ(groups.size(), 1u) << "an account without unpaid bills has no group";
  EXPECT_EQ(groups[0].account, acc1);

  auto foreign = BankAccountEntity::make({.name = "other", .color = "appleRed", .number = "999"});
  b->setBankAccount(foreign);
  EXPECT_TRUE(leftToPayGroups(*profile, state.items).uncategorized.bills->empty());
  EXPECT_EQ(leftToPayGroups(*profile, state.items).accounts.size(), 1u) << "an account outside the profile's list has no group";
}

TEST_F(LeftToPayLogicTest, MovesAreIncrementalOrderedAndIdempotent) {
  // The same moves whether or not the caller knows that the bills' ids differ (then a move
  // looks for the bill's own object first).
  for (const bool idsDiffer : {false, true}) {
    SCOPED_TRACE(idsDiffer ? "ids known to differ" : "ids not known to differ");
    state = LeftToPayState{"localizable_may", 17.5, {a, b, c}, {}};
    EXPECT_TRUE(payBill(state, a, idsDiffer));
    EXPECT_TRUE(payBill(state, c, idsDiffer));
    EXPECT_DOUBLE_EQ(state.cost, 5);
    EXPECT_EQ(state.items, (BillList{b}));
    EXPECT_EQ(state.payedBills, (BillList{a, c}));
    EXPECT_DOUBLE_EQ(payedBillsCost(state), 12.5);

    // A double tap or a stale post changes nothing.
    EXPECT_FALSE(payBill(state, a, idsDiffer));
    EXPECT_FALSE(unpayBill(state, b, idsDiffer));
    EXPECT_DOUBLE_EQ(state.cost, 5);
    EXPECT_EQ(state.payedBills, (BillList{a, c}));

    EXPECT_TRUE(unpayBill(state, a, idsDiffer));
    EXPECT_EQ(state.items, (BillList{b, a})) << "an unpaid bill returns at the end";
    EXPECT_DOUBLE_EQ(state.cost, 15);
    EXPECT_FALSE(unpayBill(state, a, idsDiffer));

    // Another object of the same id is the same bill.
    auto twin = BillEntity::make({.id = b->id(), .name = "B", .cost = 5});
    EXPECT_TRUE(payBill(state, twin, idsDiffer));
    EXPECT_EQ(state.items, (BillList{a}));
    EXPECT_TRUE(unpayBill(state, b, idsDiffer));
    EXPECT_EQ(state.items, (BillList{a, b}));

    payBill(state, b, idsDiffer);
    resetPayedBills(state);
    EXPECT_EQ(state.items, (BillList{a, c, b})) << "reset unpays in payment order";
    EXPECT_TRUE(state.payedBills.empty());
    EXPECT_DOUBLE_EQ(state.cost, 17.5);
    EXPECT_DOUBLE_EQ(payedBillsCost(state), 0.0);
  }
}

// The kept groups against a fresh grouping of the same unpaid list: the same groups, bills
// and order, and sums that show the same.
void expectFreshGroups(KeptLeftToPayGroups& kept, const ProfileEntity& profile, const BillList& items) {
  const LeftToPayGroups& got = kept.groups(profile, items);
  const LeftToPayGroups fresh = leftToPayGroups(profile, items);
  auto expectSame = [](const LeftToPayGroup& group, const LeftToPayGroup& want) {
    EXPECT_EQ(group.account, want.account);
    EXPECT_EQ(*group.bills, *want.bills);
    EXPECT_NEAR(group.cost, want.cost, 1e-9);
    EXPECT_EQ(amountText(group.cost), amountText(want.cost));
  };
  ASSERT_EQ(got.accounts.size(), fresh.accounts.size());
  for (std::size_t i = 0; i < got.accounts.size(); ++i) expectSame(got.accounts[i], fresh.accounts[i]);
  expectSame(got.uncategorized, fresh.uncategorized);
}

TEST_F(LeftToPayLogicTest, KeptGroupsFollowEveryMoveAsAFreshGrouping) {
  auto acc3 = addAccount(profile, "333");
  auto foreign = BankAccountEntity::make({.name = "other", .color = "appleRed", .number = "999"});
  const std::shared_ptr<BankAccountEntity> links[] = {acc1, acc2, acc3, nullptr, foreign};
  state = LeftToPayState{"localizable_may", 0.0, {a, b, c}, {}};
  for (int i = 0; i < 25; ++i) {
    auto bill = addBill(profile, "bill " + std::to_string(i), 0.1 * (i + 1) + 0.07, OccurringType::monthly,
                        std::nullopt, std::nullopt, links[i % 5]);
    state.items.push_back(bill);
  }
  const BillList all = state.items;
  KeptLeftToPayGroups kept;
  expectFreshGroups(kept, *profile, state.items);
  auto move = [&](const std::shared_ptr<BillEntity>& bill) {
    if (payBill(state, bill, true)) {
      kept.paid(bill);
    } else if (unpayBill(state, bill, true)) {
      kept.unpaid(bill);
    }
    expectFreshGroups(kept, *profile, state.items);
  };

  // An account's group goes when its last bill is paid and comes back in its place.
  for (const auto& bill : all) {
    if (bill->bankAccount() == acc2) move(bill);
  }
  ASSERT_EQ(kept.groups(*profile, state.items).accounts.size(), 2u);
  move(c);
  EXPECT_EQ(kept.groups(*profile, state.items).accounts.front().account, acc2);
  // The uncategorized group emptied; a bill of the foreign account (in no group) moved.
  for (const auto& bill : all) {
    if (!bill->bankAccount()) move(bill);
  }
  EXPECT_TRUE(kept.groups(*profile, state.items).uncategorized.bills->empty());
  move(all[7]);
  // Then ticks and unticks in a scrambled order, twice over every bill.
  for (std::size_t step = 0; step < 2 * all.size(); ++step) move(all[(step * 7 + 3) % all.size()]);
}

TEST_F(LeftToPayLogicTest, KeptGroupsAreMadeAgainAfterEditsAndLeaveHandedOutListsAlone) {
  KeptLeftToPayGroups kept;
  const auto held = kept.groups(*profile, state.items).accounts[1].bills;  // acc1's: a
  ASSERT_TRUE(payBill(state, a, true));
  kept.paid(a);
  EXPECT_EQ(*held, (BillList{a})) << "a render's rows keep the list they were given";
  ASSERT_TRUE(unpayBill(state, a, true));
  kept.unpaid(a);
  expectFreshGroups(kept, *profile, state.items);

  const std::vector<std::pair<std::string, std::function<void()>>> edits = {
      {"a bill linked to another account", [&] { a->setBankAccount(acc2); }},
      {"a bill's link removed", [&] { c->setBankAccount(nullptr); }},
      {"an uncategorized bill linked", [&] { b->setBankAccount(acc1); }},
      {"a cost changed", [&] { a->setCost(12.25); }},
      {"the accounts reordered", [&] { profile->setBankAccounts(BankAccountList{acc1, acc2}); }},
      {"an account taken off the list", [&] { profile->setBankAccounts(BankAccountList{acc2}); }},
      {"a bill moved from the account off the list to one on it", [&] { b->setBankAccount(acc2); }},
      {"the account back on the list", [&] { profile->setBankAccounts(BankAccountList{acc2, acc1}); }},
  };
  for (const auto& [edit, apply] : edits) {
    SCOPED_TRACE(edit);
    apply();
    expectFreshGroups(kept, *profile, state.items);
    const auto first = state.items.front();
    ASSERT_TRUE(payBill(state, first, true));
    kept.paid(first);
    expectFreshGroups(kept, *profile, state.items);
    ASSERT_TRUE(unpayBill(state, first, true));
    kept.unpaid(first);
    expectFreshGroups(kept, *profile, state.items);
  }
  // A change of the unpaid list it is not told of, once dropped.
  resetPayedBills(state);
  payBill(state, b);
  kept.drop();
  expectFreshGroups(kept, *profile, state.items);
}

// ----- The salary form -----

TEST_F(ForecastLogicTest, SalaryTextsReadByTheCostRule) {
  auto profile = addProfile();
  SalaryListScreenViewModel vm;
  struct Case {
    const char* typed;
    double stored;
  } cases[] = {
      {"1,5", 1.5},   {"1.234,56", 0.0}, {"1,234.56", 0.0}, {" 12", 0.0}, {"12 ", 0.0}, {"", 0.0},
      {"-3", -3.0},   {"inf", 0.0},      {"nan", 0.0},      {"1e999", 0.0}, {"2500", 2500.0},
  };
  for (const auto& c : cases) {
    vm.salaryType = SalaryType::fixed;
    vm.salary = std::string(c.typed);
    writeSalary(vm, *profile);
    ASSERT_EQ(profile->salary().size(), 1u);
    EXPECT_EQ(profile->salary()[0], c.stored) << '"' << c.typed << '"';
    EXPECT_FALSE(std::isnan(profile->salary()[0]));
  }
}

TEST_F(ForecastLogicTest, SalaryFormLoadsWritesAndClearsWholeShapes) {
  auto profile = addProfile();
  SalaryListScreenViewModel vm;
  loadSalary(vm, *profile);
  EXPECT_EQ(vm.salary.get(), "0.0") << "a new profile shows its stored 0.0";

  vm.salaryType = SalaryType::variable;
  vm.salaryMarch = std::string("1,50");
  writeSalary(vm, *profile);
  EXPECT_EQ(profile->salaryType(), SalaryType::variable);
  std::vector<double> expected(12, 0.0);
  expected[2] = 1.5;
  EXPECT_EQ(profile->salary(), expected);

  clearSalaryForm(vm);
  EXPECT_EQ(vm.salaryType.get(), SalaryType::fixed);
  EXPECT_EQ(vm.salaryMarch.get(), "");
  loadSalary(vm, *profile);
  EXPECT_EQ(vm.salaryMarch.get(), "1.5");
  EXPECT_EQ(vm.salary.get(), "") << "the fixed text is not loaded for a variable salary";

  // A stored list shorter than its type needs loads what is there and saves whole again.
  profile->setSalary({1000, 2000});
  clearSalaryForm(vm);
  loadSalary(vm, *profile);
  EXPECT_EQ(vm.salaryFebruary.get(), "2000.0");
  EXPECT_EQ(vm.salaryMarch.get(), "");
  writeSalary(vm, *profile);
  EXPECT_EQ(profile->salary().size(), 12u);
  EXPECT_EQ(profile->salary()[1], 2000.0);

  profile->setSalaryType(SalaryType::fixed);
  profile->setSalary({});
  clearSalaryForm(vm);
  loadSalary(vm, *profile);
  EXPECT_EQ(vm.salary.get(), "");
  writeSalary(vm, *profile);
  EXPECT_EQ(profile->salary(), (std::vector<double>{0.0}));
}

}  // namespace
}  // namespace brivel
