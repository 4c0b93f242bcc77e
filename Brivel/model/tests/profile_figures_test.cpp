#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

#include "Brivel/model/bill_entity.h"
#include "Brivel/model/profile_entity.h"
#include "platform/data/model_context.h"
#include "platform/observation/observation.h"

namespace brivel {
namespace {

std::shared_ptr<BillEntity> addBill(const std::shared_ptr<ProfileEntity>& profile,
                                    const std::string& name, OccurringType occurring, double cost,
                                    std::optional<QuarterType> quarter = std::nullopt,
                                    std::optional<YearlyType> month = std::nullopt) {
  return BillEntity::make({.name = name,
                           .cost = cost,
                           .occurring = occurring,
                           .quarterly = quarter,
                           .yearly = month,
                           .profile = profile});
}

std::vector<std::string> names(const BillList& bills) {
  std::vector<std::string> result;
  for (const auto& bill : bills) result.push_back(bill->name());
  return result;
}

TEST(ProfileFiguresTest, IncomePerYear) {
  struct Case {
    SalaryType type;
    std::vector<double> salary;
    double expected;
  };
  const Case cases[] = {
      {SalaryType::fixed, {2500.0, 9.0}, 30000.0},
      {SalaryType::fixed, {}, 0.0},
      {SalaryType::fixed, {0.0}, 0.0},
      {SalaryType::variable, std::vector<double>(12, 100.0), 1200.0},
      {SalaryType::variable, {1.0, 2.0, 3.0}, 6.0},
      {SalaryType::variable, {}, 0.0},
  };
  for (const Case& c : cases) {
    auto profile = std::make_shared<ProfileEntity>();
    profile->setSalaryType(c.type);
    profile->setSalary(c.salary);
    EXPECT_EQ(profile->incomePerYear(), c.expected)
        << rawValue(c.type) << " with " << c.salary.size() << " values";
  }
}

// One bill of each kind and a quarterly one without a quarter month.
std::shared_ptr<ProfileEntity> mixedProfile() {
  auto profile = std::make_shared<ProfileEntity>();
  addBill(profile, "monthly", OccurringType::monthly, 10.0);
  addBill(profile, "quarterly", OccurringType::quarterly, 30.0, QuarterType::quarter2);
  addBill(profile, "yearly", OccurringType::yearly, 120.0, std::nullopt, YearlyType::march);
  addBill(profile, "no quarter", OccurringType::quarterly, 5.0);
  return profile;
}

TEST(ProfileFiguresTest, MixedBills) {
  auto profile = mixedProfile();

  EXPECT_EQ(profile->billsPerYear(), 21);
  EXPECT_EQ(profile->costPerYear(), 380.0);

  BillsCost monthly = profile->monthlyBillsCost();
  EXPECT_EQ(monthly.cost, 10.0);
  EXPECT_EQ(names(monthly.bills), std::vector<std::string>{"monthly"});

  BillsCost second = profile->quarterlyBillsCost(QuarterType::quarter2);
  EXPECT_EQ(second.cost, 30.0);
  EXPECT_EQ(names(second.bills), std::vector<std::string>{"quarterly"});
  BillsCost first = profile->quarterlyBillsCost(QuarterType::quarter1);
  EXPECT_EQ(first.cost, 0.0);
  EXPECT_TRUE(first.bills.empty());

  EXPECT_EQ(profile->yearlyBillsCost(YearlyType::march).cost, 120.0);
  EXPECT_EQ(profile->yearlyBillsCost(YearlyType::april).cost, 0.0);
  EXPECT_TRUE(profile->yearlyBillsCost(YearlyType::april).bills.empty());
}

TEST(ProfileFiguresTest, SelectionsGoByOccurrenceOnly) {
  auto profile = std::make_shared<ProfileEntity>();
  // A monthly bill carrying a month and a quarter, and a quarterly one carrying a month.
  addBill(profile, "m", OccurringType::monthly, 7.0, QuarterType::quarter1, YearlyType::january);
  addBill(profile, "q", OccurringType::quarterly, 25.0, QuarterType::quarter1, YearlyType::january);
  EXPECT_EQ(names(profile->monthlyBillsCost().bills), std::vector<std::string>{"m"});
  EXPECT_EQ(names(profile->quarterlyBillsCost(QuarterType::quarter1).bills),
            std::vector<std::string>{"q"});
  EXPECT_TRUE(profile->yearlyBillsCost(YearlyType::january).bills.empty());
  EXPECT_EQ(profile->costPerYear(), 7.0 * 12 + 25.0 * 4);
}

TEST(ProfileFiguresTest, AbsentAndEmptyBillsGiveZeroEverywhere) {
  auto absent = std::make_shared<ProfileEntity>();
  absent->setBills(std::nullopt);
  auto empty = std::make_shared<ProfileEntity>();
  for (const auto& profile : {absent, empty}) {
    EXPECT_EQ(profile->billsPerYear(), 0);
    EXPECT_EQ(profile->costPerYear(), 0.0);
    EXPECT_EQ(profile->monthlyBillsCost().cost, 0.0);
    EXPECT_TRUE(profile->monthlyBillsCost().bills.empty());
    EXPECT_TRUE(profile->quarterlyBillsCost(QuarterType::quarter3).bills.empty());
    EXPECT_TRUE(profile->yearlyBillsCost(YearlyType::december).bills.empty());
  }
}

TEST(ProfileFiguresTest, SelectionsKeepListOrderAndSumInIt) {
  auto profile = std::make_shared<ProfileEntity>();
  auto a = addBill(profile, "a", OccurringType::yearly, 0.1, std::nullopt, YearlyType::may);
  auto b = addBill(profile, "b", OccurringType::yearly, 0.2, std::nullopt, YearlyType::may);
  auto c = addBill(profile, "c", OccurringType::yearly, 0.3, std::nullopt, YearlyType::may);
  profile->setBills(BillList{c, a, b});
  BillsCost may = profile->yearlyBillsCost(YearlyType::may);
  EXPECT_EQ(names(may.bills), (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_EQ(may.cost, (0.3 + 0.1) + 0.2);  // plain additions in list order, no rounding
}

TEST(ProfileFiguresTest, BillCostPerYearAndKeys) {
  struct Case {
    OccurringType occurring;
    std::optional<QuarterType> quarter;
    double costPerYear;
    const char* occurringKey;
  };
  const Case cases[] = {
      {OccurringType::monthly, std::nullopt, 300.0, "localizable_monthly"},
      {OccurringType::quarterly, std::nullopt, 100.0, "localizable_quarterly"},
      {OccurringType::quarterly, QuarterType::quarter3, 100.0, "localizable_quarterly"},
      {OccurringType::yearly, QuarterType::quarter2, 25.0, "localizable_yearly"},
  };
  for (const Case& c : cases) {
    auto bill = BillEntity::make(
        {.name = "x", .cost = 25.0, .occurring = c.occurring, .quarterly = c.quarter});
    EXPECT_EQ(bill->costPerYear(), c.costPerYear);
    EXPECT_EQ(bill->occurringLocalizedKey(), c.occurringKey);
  }

  auto bill = std::make_shared<BillEntity>();
  EXPECT_EQ(bill->quarterlyLocalizedKey(), "localizable_quarter01");
  EXPECT_EQ(bill->yearlyLocalizedKey(), "localizable_january");
  // The same key object is handed out each time.
  EXPECT_EQ(&bill->yearlyLocalizedKey(), &bill->yearlyLocalizedKey());
  bill->setQuarterly(QuarterType::quarter3);
  bill->setYearly(YearlyType::december);
  EXPECT_EQ(bill->quarterlyLocalizedKey(), "localizable_quarter03");
  EXPECT_EQ(bill->yearlyLocalizedKey(), "localizable_december");
  bill->setYearly(YearlyType::september);
  EXPECT_EQ(bill->yearlyLocalizedKey(), "localizable_september");
}

// The figures are kept between reads; every change they depend on must show in the next one.
TEST(ProfileFiguresTest, KeptFiguresFollowEveryChange) {
  auto profile = std::make_shared<ProfileEntity>();
  auto other = std::make_shared<ProfileEntity>();
  auto rent = addBill(profile, "rent", OccurringType::monthly, 10.0);
  auto tax = addBill(profile, "tax", OccurringType::yearly, 120.0, std::nullopt, YearlyType::march);
  platform::ModelContext context;
  context.insert(profile);
  context.insert(other);

  struct Step {
    const char* change;
    std::function<void()> apply;
    double costPerYear;
    std::int64_t billsPerYear;
  };
  const Step steps[] = {
      {"cost", [&] { rent->setCost(20.0); }, 20.0 * 12 + 120.0, 13},
      {"occurrence", [&] { rent->setOccurring(OccurringType::quarterly); }, 20.0 * 4 + 120.0, 5},
      {"quarter month", [&] { rent->setQuarterly(QuarterType::quarter2); }, 20.0 * 4 + 120.0, 5},
      {"month", [&] { tax->setYearly(YearlyType::april); }, 20.0 * 4 + 120.0, 5},
      {"bill moved away", [&] { tax->setProfile(other); }, 20.0 * 4, 4},
      {"bill added", [&] { addBill(profile, "gym", OccurringType::monthly, 1.0); }, 20.0 * 4 + 12.0, 16},
      {"list replaced", [&] { profile->setBills(BillList{rent}); }, 20.0 * 4, 4},
      {"bill deleted", [&] { context.deleteModel(rent); }, 0.0, 0},
  };
  for (const Step& step : steps) {
    profile->costPerYear();  // the figures are kept now
    step.apply();
    EXPECT_EQ(profile->costPerYear(), step.costPerYear) << step.change;
    EXPECT_EQ(profile->billsPerYear(), step.billsPerYear) << step.change;
  }
  EXPECT_EQ(names(other->yearlyBillsCost(YearlyType::april).bills), std::vector<std::string>{"tax"});

  // The selections come from the same walk: a month or quarter month moved shows there.
  EXPECT_TRUE(other->yearlyBillsCost(YearlyType::may).bills.empty());
  tax->setYearly(YearlyType::may);
  EXPECT_EQ(names(other->yearlyBillsCost(YearlyType::may).bills), std::vector<std::string>{"tax"});
  tax->setOccurring(OccurringType::quarterly);
  tax->setQuarterly(QuarterType::quarter3);
  EXPECT_TRUE(other->yearlyBillsCost(YearlyType::may).bills.empty());
  EXPECT_EQ(other->quarterlyBillsCost(QuarterType::quarter3).cost, 120.0);
}

// Bills added at the end of the list are taken into the kept figures: the sums must come out
// as a walk over the whole list adds them (in list order), and figures handed out before
// stay as they were.
TEST(ProfileFiguresTest, BillsAddedAtTheEndJoinTheKeptFiguresAsANewWalkWould) {
  struct Bill {
    const char* name;
    OccurringType occurring;
    double cost;
    std::optional<QuarterType> quarter;
    std::optional<YearlyType> month;
  };
  const Bill first[] = {{"a", OccurringType::monthly, 0.1, {}, {}},
                        {"b", OccurringType::quarterly, 0.2, QuarterType::quarter2, {}},
                        {"c", OccurringType::yearly, 0.7, {}, YearlyType::march}};
  const Bill added[] = {{"d", OccurringType::monthly, 0.3, {}, {}},
                        {"e", OccurringType::quarterly, 1e16, {}, {}},  // in no quarter month
                        {"f", OccurringType::yearly, 0.1, {}, YearlyType::march},
                        {"g", OccurringType::quarterly, 0.6, QuarterType::quarter2, {}}};
  auto add = [](const std::shared_ptr<ProfileEntity>& profile, const Bill& bill) {
    addBill(profile, bill.name, bill.occurring, bill.cost, bill.quarter, bill.month);
  };
  auto profile = std::make_shared<ProfileEntity>();
  auto walked = std::make_shared<ProfileEntity>();
  for (const Bill& bill : first) add(profile, bill);
  const auto before = profile->yearFigures();
  const double costBefore = before->costPerYear;
  for (const Bill& bill : added) {
    add(profile, bill);
    profile->costPerYear();  // each one taken in on its own
  }
  for (const Bill& bill : first) add(walked, bill);
  for (const Bill& bill : added) add(walked, bill);

  const auto now = profile->yearFigures();
  const auto expected = walked->yearFigures();
  EXPECT_EQ(now->costPerYear, expected->costPerYear);
  EXPECT_EQ(now->billsPerYear, expected->billsPerYear);
  EXPECT_EQ(now->monthly.cost, expected->monthly.cost);
  EXPECT_EQ(names(now->monthly.bills), names(expected->monthly.bills));
  EXPECT_EQ(now->quarterly[1].cost, expected->quarterly[1].cost);
  EXPECT_EQ(names(now->quarterly[1].bills), (std::vector<std::string>{"b", "g"}));
  EXPECT_EQ(names(now->yearly[2].bills), (std::vector<std::string>{"c", "f"}));
  EXPECT_EQ(now->yearly[2].cost, expected->yearly[2].cost);

  EXPECT_EQ(before->costPerYear, costBefore) << "figures handed out before stay as they were";
  EXPECT_EQ(names(before->monthly.bills), std::vector<std::string>{"a"});
}

// The profile counts every edit of a bill that orders, keys or places it, and names the bills
// of the recent ones; a bill of another profile, a note or a list change is not counted.
TEST(ProfileFiguresTest, BillEditsNameTheRecentlyEditedBills) {
  auto profile = std::make_shared<ProfileEntity>();
  auto other = std::make_shared<ProfileEntity>();
  auto rent = addBill(profile, "rent", OccurringType::monthly, 10.0);
  auto gym = addBill(profile, "gym", OccurringType::monthly, 5.0);
  auto far = addBill(other, "far", OccurringType::monthly, 1.0);
  const std::uint64_t start = profile->billEdits();

  const std::function<void()> counted[] = {
      [&] { rent->setName("Rent"); },
      [&] { gym->setCost(6.0); },
      [&] { rent->setTimestamp(platform::Date::now()); },
      [&] { gym->setId(platform::UUID::random()); },
      [&] { rent->setOccurring(OccurringType::yearly); },
      [&] { rent->setYearly(YearlyType::may); },
      [&] { gym->setQuarterly(QuarterType::quarter2); },
  };
  for (const auto& edit : counted) edit();
  EXPECT_EQ(profile->billEdits(), start + std::size(counted));
  EXPECT_EQ(profile->billsEditedSince(start), (std::vector<const BillEntity*>{rent.get(), gym.get()}));
  EXPECT_EQ(profile->billsEditedSince(start + 6), (std::vector<const BillEntity*>{gym.get()}));
  EXPECT_EQ(profile->billsEditedSince(profile->billEdits()), std::vector<const BillEntity*>{});

  const std::uint64_t now = profile->billEdits();
  rent->setNote("paid by card");
  far->setName("Far");
  auto added = addBill(profile, "new", OccurringType::monthly, 2.0);  // its date is set once it joined
  EXPECT_EQ(profile->billsEditedSince(now), (std::vector<const BillEntity*>{added.get()}));

  for (std::size_t i = 1; i < ProfileEntity::kRememberedEdits; ++i) gym->setCost(static_cast<double>(i));
  EXPECT_EQ(profile->billsEditedSince(now), (std::vector<const BillEntity*>{added.get(), gym.get()}));
  gym->setCost(100.0);
  EXPECT_EQ(profile->billsEditedSince(now), std::nullopt) << "more edits than it remembers";
  EXPECT_EQ(profile->billsEditedSince(profile->billEdits() + 1), std::nullopt);
}

// A view showing a figure is redrawn when a bill it counts changes, also when the figure was
// kept from an earlier read; a field the figure does not depend on leaves it alone.
TEST(ProfileFiguresTest, KeptFiguresStillRegisterTheirReads) {
  auto profile = std::make_shared<ProfileEntity>();
  auto rent = addBill(profile, "rent", OccurringType::monthly, 10.0);
  auto tax = addBill(profile, "tax", OccurringType::yearly, 120.0, std::nullopt, YearlyType::march);
  profile->monthlyBillsCost();  // kept before anyone tracks

  int changes = 0;
  auto track = [&](const std::function<void()>& read) {
    return platform::withObservationTracking(read, [&] { ++changes; });
  };
  auto tracking = track([&] { profile->monthlyBillsCost(); });
  tax->setName("renamed");
  EXPECT_EQ(changes, 0);
  rent->setCost(11.0);
  EXPECT_EQ(changes, 1);

  tracking = track([&] { profile->yearlyBillsCost(YearlyType::march); });
  tax->setCost(130.0);
  EXPECT_EQ(changes, 2);

  tracking = track([&] { profile->costPerYear(); });
  addBill(profile, "gym", OccurringType::monthly, 1.0);
  EXPECT_EQ(changes, 3);
  tracking.cancel();
}

TEST(ProfileFiguresTest, MonthFiguresBuildEachMonthFromTheSelections) {
  auto profile = mixedProfile();
  addBill(profile, "no month", OccurringType::yearly, 5.0);
  auto months = profile->monthFigures();
  for (std::size_t m = 0; m < 12; ++m) {
    auto quarterly = profile->quarterlyBillsCost(static_cast<QuarterType>(m % 3));
    auto yearly = profile->yearlyBillsCost(static_cast<YearlyType>(m));
    EXPECT_EQ(months[m].cost, (10.0 + quarterly.cost) + yearly.cost) << m;
  }
  EXPECT_EQ(names(months[1].bills), (std::vector<std::string>{"monthly", "quarterly"}));
  EXPECT_EQ(names(months[2].bills), (std::vector<std::string>{"monthly", "yearly"}));
  EXPECT_EQ(names(months[0].bills), std::vector<std::string>{"monthly"});
  auto year = profile->yearFigures();
  EXPECT_EQ(year->costPerYear, profile->costPerYear());
  EXPECT_EQ(year->billsPerYear, 21 + 1);
}

}  // namespace
}  // namespace brivel
