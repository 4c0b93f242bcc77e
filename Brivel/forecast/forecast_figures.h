// The figures of the forecast: the twelve month records of a profile, the lists of its
// monthly, quarterly and yearly bills, each month's spendable amount, and how the forecast
// screens write an amount of money.
//
// A month record holds the month's text key, the bills that fall due in it and their cost.
// Month m (0 = January) holds every monthly bill, the quarterly bills due in month m mod 3 of
// their quarter and the yearly bills of month m, in that order, each part in the profile's
// stored order; its cost is (monthly + quarterly) + yearly. A quarterly bill without its
// month of the quarter, or a yearly bill without its month, falls in no month, so the twelve
// costs need not add up to the profile's yearly cost.
//
//   auto year = monthValues(*profile);                 // January first
//   double left = spendableAmount(*profile, year[11]);
//   Verbatim(amountText(left));
//
// monthValues() computes the records on each call from the profile's current bills;
// yearRecords() are kept with the profile's figures until one of its bill figures changes.
// Main thread: the functions read entity properties.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Brivel/model/profile_entity.h"

namespace brivel {

// One month of the forecast.
struct ForecastMonthValues {
  std::string month;  // "localizable_january" ... "localizable_december"
  double cost = 0.0;
  BillList items;
};

// The month text keys in calendar order.
extern const std::array<std::string_view, 12> kForecastMonthKeys;

// The position (0 = January) of a month key; absent for any other text.
std::optional<int> forecastMonthIndex(std::string_view monthKey);

// The twelve month records of the profile, January first.
std::array<ForecastMonthValues, 12> monthValues(const ProfileEntity& profile);
// The same twelve records, shared and unchanging: made once from the profile's figures and
// handed out again until a bill figure changes (reading them registers the figures' reads, so
// a view showing them redraws on such a change).
std::shared_ptr<const std::array<ForecastMonthValues, 12>> yearRecords(const ProfileEntity& profile);
// The record of month `month` alone; none for a month outside 0..11.
std::optional<ForecastMonthValues> monthValues(const ProfileEntity& profile, int month);

// The profile's bills of one occurrence, in stored order, then sorted stably in the
// profile's bill order.
BillList occurrenceList(const ProfileEntity& profile, OccurringType occurring);
// Whether the profile has any bill of that occurrence (an absent list has none).
bool hasBills(const ProfileEntity& profile, OccurringType occurring);

// What is left of the month's salary once the month's bills are paid. A fixed salary gives
// its one value whatever the month; a variable one the value of the record's month. A value
// the stored salary lacks (a list shorter than its type needs) counts as 0.0, and so does a
// record whose month key is none of the twelve.
double spendableAmount(const ProfileEntity& profile, const ForecastMonthValues& values);

// An amount in the current locale's currency ("USD" when the locale has none). An amount
// that rounds to zero in that currency shows as zero, never as a negative zero.
std::string amountText(double amount);

}  // namespace brivel
