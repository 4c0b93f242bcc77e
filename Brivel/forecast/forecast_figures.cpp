#include "Brivel/forecast/forecast_figures.h"

#include <algorithm>
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

const BillList& noBills() {
  static const BillList none;
  return none;
}

// Month m's record, its bills shared with the figures.
ForecastMonthValues record(const std::shared_ptr<const YearFigures>& figures, int month) {
  const auto m = static_cast<std::size_t>(month);
  ForecastMonthValues values;
  values.month = std::string(kForecastMonthKeys[m]);
  values.cost = (figures->monthly.cost + figures->quarterly[m % 3].cost) + figures->yearly[m].cost;
  values.items = MonthBills(figures, month);
  return values;
}

}  // namespace

MonthBills::MonthBills() { parts_.fill(&noBills()); }

MonthBills::MonthBills(BillList bills) {
  auto own = std::make_shared<const BillList>(std::move(bills));
  parts_ = {own.get(), &noBills(), &noBills()};
  owner_ = std::move(own);
}

MonthBills::MonthBills(std::shared_ptr<const YearFigures> figures, int month) {
  const auto m = static_cast<std::size_t>(month);
  parts_ = {&figures->monthly.bills, &figures->quarterly[m % 3].bills, &figures->yearly[m].bills};
  owner_ = std::move(figures);
}

std::size_t MonthBills::size() const { return parts_[0]->size() + parts_[1]->size() + parts_[2]->size(); }

const std::shared_ptr<BillEntity>& MonthBills::operator[](std::size_t i) const {
  for (const BillList* part : parts_) {
    if (i < part->size()) return (*part)[i];
    i -= part->size();
  }
  return (*parts_[kParts - 1])[i];  // out of range, as a list's own operator[] would be
}

BillList MonthBills::list() const {
  BillList bills;
  bills.reserve(size());
  for (const BillList* part : parts_) bills.insert(bills.end(), part->begin(), part->end());
  return bills;
}

bool operator==(const MonthBills& a, const MonthBills& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

bool operator==(const MonthBills& a, const BillList& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

std::array<ForecastMonthValues, 12> monthValues(const ProfileEntity& profile) {
  // The profile keeps its year's figures from one walk over its bills.
  const auto figures = profile.yearFigures();
  std::array<ForecastMonthValues, 12> year;
  for (std::size_t m = 0; m < 12; ++m) year[m] = record(figures, static_cast<int>(m));
  return year;
}

std::shared_ptr<const std::array<ForecastMonthValues, 12>> yearRecords(const ProfileEntity& profile) {
  return profile.keptWithFigures<std::array<ForecastMonthValues, 12>>([&profile](const YearFigures&) {
    // The same figures, shared by the records' bills.
    const auto figures = profile.yearFigures();
    std::array<ForecastMonthValues, 12> year;
    for (std::size_t m = 0; m < 12; ++m) year[m] = record(figures, static_cast<int>(m));
    return year;
  });
}

std::optional<ForecastMonthValues> monthValues(const ProfileEntity& profile, int month) {
  if (month < 0 || month >= static_cast<int>(kForecastMonthKeys.size())) return std::nullopt;
  return record(profile.yearFigures(), month);
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
