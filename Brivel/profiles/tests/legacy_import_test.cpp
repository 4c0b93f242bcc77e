// The import's steps on their own: legacy value mapping, rings to categories, bills with their
// category links, the salary, and saving (or failing to save) the imported profile.
#include "Brivel/profiles/legacy_import.h"

#include <gtest/gtest.h>

#include <limits>

#include <cmath>

#include <optional>
#include <tuple>
#include <vector>

#include "profiles_test_support.h"

namespace brivel {
namespace {

Bill legacyBill(std::string title, double amount, std::optional<std::string> ring = std::nullopt, std::string note = "",
                std::int64_t occurring = 0, std::int64_t startingMonth = 0, std::int64_t startingMonthYearly = 0) {
  Bill bill;
  bill.title = std::move(title);
  bill.amount = amount;
  bill.note = std::move(note);
  bill.occurring = occurring;
  bill.startingMonth = startingMonth;
  bill.startingMonthYearly = startingMonthYearly;
  if (ring) bill.ring = Ring{platform::UUID::random(), *ring};
  return bill;
}

TEST(LegacyValueMapping, FollowsTheTablesAndMapsEverythingElseToTheFallback) {
  using Q = std::optional<QuarterType>;
  using Y = std::optional<YearlyType>;
  struct Case {
    std::int64_t occurring, startingMonth, startingMonthYearly;
    OccurringType wantOccurring;
    Q wantQuarter;
    Y wantMonth;
  };
  const std::vector<Case> cases{
      {1, 2, 12, OccurringType::quarterly, QuarterType::quarter3, YearlyType::december},
      {0, 5, 0, OccurringType::monthly, std::nullopt, std::nullopt},
      {2, 0, 1, OccurringType::yearly, QuarterType::quarter1, YearlyType::january},
      {3, -1, 13, OccurringType::monthly, std::nullopt, std::nullopt},
      {-1, 1, -4, OccurringType::monthly, QuarterType::quarter2, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.occurring << "/" << c.startingMonth << "/" << c.startingMonthYearly);
    EXPECT_EQ(occurringFromLegacy(c.occurring), c.wantOccurring);
    EXPECT_EQ(quarterFromLegacy(c.startingMonth), c.wantQuarter);
    EXPECT_EQ(monthFromLegacy(c.startingMonthYearly), c.wantMonth);
  }
}

class LegacyImportTest : public testing::ProfilesTest {};

TEST_F(LegacyImportTest, RingsBecomeLowerCasedCategoriesAndEachBillIsListedOnceInTheFirstMatch) {
  auto profile = makeNewProfile("Home", "appleRed");
  importRings(profile, {Ring{platform::UUID::random(), "Food"}, Ring{platform::UUID::random(), "food"},
                        Ring{platform::UUID::random(), "Ärger"}});
  importBills(profile, {legacyBill("Groceries", 50, "FOOD", "", 1, 2, 12), legacyBill("Snacks", 5, "food", " "),
                        legacyBill("Rent", 900, std::nullopt), legacyBill("Gym", 30, "Sport"),
                        legacyBill("Fine", 10, "ärger")});

  const auto categories = *profile->categories();
  ASSERT_EQ(categories.size(), 3u);
  EXPECT_EQ(categories[0]->name(), "food");
  EXPECT_EQ(categories[1]->name(), "food");
  EXPECT_EQ(categories[2]->name(), "ärger");
  EXPECT_EQ(categories[0]->color(), "appleIndigo");

  const auto bills = *profile->bills();
  ASSERT_EQ(bills.size(), 5u);
  EXPECT_EQ(bills[0]->category(), categories[0]);
  EXPECT_EQ(bills[1]->category(), categories[0]);
  EXPECT_EQ(bills[2]->category(), nullptr);
  EXPECT_EQ(bills[3]->category(), nullptr);
  EXPECT_EQ(bills[4]->category(), categories[2]);
  EXPECT_EQ(categories[0]->bills()->size(), 2u) << "each bill is listed once, not once per end of the link";
  EXPECT_TRUE(categories[1]->bills()->empty());
  EXPECT_EQ(categories[2]->bills()->size(), 1u);

  EXPECT_EQ(bills[0]->occurring(), OccurringType::quarterly);
  EXPECT_EQ(bills[0]->quarterly(), QuarterType::quarter3);
  EXPECT_EQ(bills[0]->yearly(), YearlyType::december);
  EXPECT_EQ(bills[0]->note(), std::nullopt) << "an empty note is no note";
  EXPECT_EQ(bills[1]->note(), std::optional<std::string>(" "));
  EXPECT_EQ(bills[0]->bankAccount(), nullptr);
  EXPECT_EQ(bills[2]->profile(), profile);

  // Saved and read back, the links and the lists keep their shape.
  ASSERT_TRUE(insertAndSaveProfile(context(), profile).ok());
  openObjects();
  auto stored = context().fetch<ProfileEntity>();
  ASSERT_EQ(stored.size(), 1u);
  const auto reread = *stored[0]->categories();
  ASSERT_EQ(reread.size(), 3u);
  ASSERT_EQ(reread[0]->bills()->size(), 2u);
  EXPECT_EQ((*reread[0]->bills())[0]->name(), "Groceries");
  EXPECT_EQ(stored[0]->bills()->size(), 5u);
}

TEST_F(LegacyImportTest, AmountsThatAreNotFiniteNumbersAreImportedAsZero) {
  auto profile = makeNewProfile("Home", "appleRed");
  const double inf = std::numeric_limits<double>::infinity();
  importBills(profile, {legacyBill("NaN", std::nan(""), std::nullopt), legacyBill("Inf", inf, std::nullopt),
                        legacyBill("MinusInf", -inf, std::nullopt), legacyBill("Fine", 12.5, std::nullopt)});
  std::vector<double> costs;
  const auto bills = *profile->bills();
  for (const auto& bill : bills) costs.push_back(bill->cost());
  EXPECT_EQ(costs, (std::vector<double>{0.0, 0.0, 0.0, 12.5}));
  EXPECT_EQ(profile->costPerYear(), 12.5 * 12);
}

TEST_F(LegacyImportTest, SalaryIsVariableOnlyForIndexOne) {
  const std::vector<double> months{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  settings_->setNettoSalary(2500.0);
  settings_->setNettoSalaryJanuary(1);
  settings_->setNettoSalaryFebruary(2);
  settings_->setNettoSalaryMarch(3);
  settings_->setNettoSalaryApril(4);
  settings_->setNettoSalaryMay(5);
  settings_->setNettoSalaryJune(6);
  settings_->setNettoSalaryJuly(7);
  settings_->setNettoSalaryAugust(8);
  settings_->setNettoSalarySeptember(9);
  settings_->setNettoSalaryOctober(10);
  settings_->setNettoSalaryNovember(11);
  settings_->setNettoSalaryDecember(12);
  for (const auto& [index, type, salary] :
       std::vector<std::tuple<std::int64_t, SalaryType, std::vector<double>>>{
           {1, SalaryType::variable, months}, {0, SalaryType::fixed, {2500.0}}, {2, SalaryType::fixed, {2500.0}}}) {
    settings_->setPickOccurringIndex(index);
    auto profile = makeNewProfile("Home", "appleRed");
    importSalary(*profile, *settings_);
    EXPECT_EQ(profile->salaryType(), type) << index;
    EXPECT_EQ(profile->salary(), salary) << index;
  }
}

TEST_F(LegacyImportTest, FailedSaveTakesTheProfileBackOutSoNothingOfItIsWrittenLater) {
  auto profile = makeNewProfile("Home", "appleRed");
  importRings(profile, {Ring{platform::UUID::random(), "Food"}});
  importBills(profile, {legacyBill("Groceries", 50, "Food")});

  context().setSaveFaultInjection([](platform::SaveStep step) { return step == platform::SaveStep::Commit; });
  EXPECT_FALSE(insertAndSaveProfile(context(), profile).ok());
  EXPECT_TRUE(profile->isDeleted());
  EXPECT_EQ(storedProfileCount(), 0u);

  context().setSaveFaultInjection({});
  EXPECT_TRUE(context().save().ok());
  openObjects();
  EXPECT_EQ(storedProfileCount(), 0u);
  EXPECT_TRUE(context().fetch<BillEntity>().empty());
  EXPECT_TRUE(context().fetch<CategoryEntity>().empty());
}

}  // namespace
}  // namespace brivel
