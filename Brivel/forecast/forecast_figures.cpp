#include "Brivel/forecast/forecast_figures.h"

#include <cmath>
#include <utility>
#include <vector>

#include "Brivel/bills/bill_ordering.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/shell/localized_keys.h"
#include "platform/foundation/text.h"

namespace brivel {

const std::array<std::string_view, 12> kForecastMonthKeys = {
    localizable_january, localizable_february, localizable_march,     localizable_april,
    localizable_may,     localizable_june,     localizable_july,      localizable_august,
    localizable_september, localizable_october, localizable_november, localizable_december,
};

std::optional<int> forecastMonthIndex(std::string_view monthKey) {
  for (std::size_t i = 0; i < kForecastMonthKeys.size(); ++i) {
    if (kForecastMonthKeys[i] == monthKey) return static_cast<int>(i);
  }
  return std::nullopt;
}

namespace {

ForecastMonthValues record(int month, const BillsCost& monthly, const BillsCost& quarterly, const BillsCost& yearly) {
  ForecastMonthValues values;
  values.month = std::string(kForecastMonthKeys[static_cast<std::size_t>(month)]);
  values.cost = (monthly.cost + quarterly.cost) + yearly.cost;
  values.items.reserve(monthly.bills.size() + quarterly.bills.size() + yearly.bills.size());
  values.items.insert(values.items.end(), monthly.bills.begin(), monthly.bills.end());
  values.items.insert(values.items.end(), quarterly.bills.begin(), quarterly.bills.end());
  values.items.insert(values.items.end(), yearly.bills.begin(), yearly.bills.end());
  return values;
}

}  // namespace

std::array<ForecastMonthValues, 12> monthValues(const ProfileEntity& profile) {
  // The profile keeps its year's figures from one walk over its bills.
  std::array<BillsCost, 12> months = profile.monthFigures();
  std::array<ForecastMonthValues, 12> year;
  for (std::size_t m = 0; m < 12; ++m) {
    year[m].month = std::string(kForecastMonthKeys[m]);
    year[m].cost = months[m].cost;
    year[m].items = std::move(months[m].bills);
  }
  return year;
}

std::shared_ptr<const std::array<ForecastMonthValues, 12>> yearRecords(const ProfileEntity& profile) {
  return profile.keptWithFigures<std::array<ForecastMonthValues, 12>>([](const YearFigures& figures) {
    std::array<ForecastMonthValues, 12> year;
    for (std::size_t m = 0; m < 12; ++m) {
      year[m] = record(static_cast<int>(m), figures.monthly, figures.quarterly[m % 3], figures.yearly[m]);
    }
    return year;
  });
}

std::optional<ForecastMonthValues> monthValues(const ProfileEntity& profile, int month) {
  if (month < 0 || month >= static_cast<int>(kForecastMonthKeys.size())) return std::nullopt;
  const auto year = profile.yearFigures();
  return record(month, year->monthly, year->quarterly[static_cast<std::size_t>(month % 3)],
                year->yearly[static_cast<std::size_t>(month)]);
}

BillList occurrenceList(const ProfileEntity& profile, OccurringType occurring) {
  BillList kept;
  for (const auto& bill : profile.bills().value_or(BillList{})) {
    if (bill->occurring() == occurring) kept.push_back(bill);
  }
  return sortedBills(std::move(kept), profile.billSortType());
}

bool hasBills(const ProfileEntity& profile, OccurringType occurring) {
  for (const auto& bill : profile.bills().value_or(BillList{})) {
    if (bill->occurring() == occurring) return true;
  }
  return false;
}

double spendableAmount(const ProfileEntity& profile, const ForecastMonthValues& values) {
  const std::vector<double> salary = profile.salary();
  std::size_t index = 0;
  if (profile.salaryType() == SalaryType::variable) {
    const std::optional<int> month = forecastMonthIndex(values.month);
    if (!month) return 0.0;
    index = static_cast<std::size_t>(*month);
  }
  const double earned = index < salary.size() ? salary[index] : 0.0;
  return earned - values.cost;
}

std::string amountText(double amount) {
  if (std::signbit(amount)) {
    // "-$0.00" for -0.0 or -0.001: an amount that shows as zero once its sign is gone is zero.
    const std::string zero = platform::formatCurrency(0.0);
    if (platform::formatCurrency(-amount) == zero) return zero;
  }
  return platform::formatCurrency(amount);
}

}  // namespace brivel
