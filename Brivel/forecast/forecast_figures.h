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
#include <cstddef>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Brivel/model/profile_entity.h"

namespace brivel {

// The bills of one month, read like a list of them: the profile's monthly bills, then its
// quarterly bills of the month's place in the quarter, then its yearly bills of the month,
// each part shared with the profile's figures rather than copied (twelve months hold each
// monthly bill twelve times). A copy shares the parts too; list() makes a list of its own.
class MonthBills {
 public:
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::shared_ptr<BillEntity>;
    using difference_type = std::ptrdiff_t;
    using pointer = const value_type*;
    using reference = const value_type&;

    const_iterator() = default;
    reference operator*() const { return (*of_->parts_[part_])[index_]; }
    pointer operator->() const { return &**this; }
    const_iterator& operator++() {
      ++index_;
      settle();
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator was = *this;
      ++*this;
      return was;
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) {
      return a.part_ == b.part_ && a.index_ == b.index_;
    }

   private:
    friend class MonthBills;
    const_iterator(const MonthBills* of, std::size_t part) : of_(of), part_(part) { settle(); }
    // Steps over ended and empty parts.
    void settle() {
      while (part_ < kParts && index_ >= of_->parts_[part_]->size()) {
        ++part_;
        index_ = 0;
      }
    }
    const MonthBills* of_ = nullptr;
    std::size_t part_ = kParts;
    std::size_t index_ = 0;
  };
  using iterator = const_iterator;
  using value_type = std::shared_ptr<BillEntity>;

  MonthBills();
  // A month of the given bills (a list of its own).
  MonthBills(BillList bills);  // NOLINT: reads as the list it holds
  // Month m (0 = January) of the figures.
  MonthBills(std::shared_ptr<const YearFigures> figures, int month);

  std::size_t size() const;
  bool empty() const { return size() == 0; }
  const std::shared_ptr<BillEntity>& operator[](std::size_t i) const;
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(); }
  // The bills as a list of their own.
  BillList list() const;
  // Part k (0: monthly, 1: quarterly, 2: yearly) of a month of the figures; a month of given
  // bills has them all in part 0.
  const BillList& part(std::size_t k) const { return *parts_[k]; }
  static constexpr std::size_t kParts = 3;

  friend bool operator==(const MonthBills& a, const MonthBills& b);
  friend bool operator==(const MonthBills& a, const BillList& b);

 private:
  std::shared_ptr<const void> owner_;  // keeps the parts
  std::array<const BillList*, kParts> parts_;
};

// One month of the forecast.
struct ForecastMonthValues {
  std::string month;  // "localizable_january" ... "localizable_december"
  double cost = 0.0;
  MonthBills items;
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
