// ProfileEntity: the stored record of one profile, a separate budget with its own name and
// colour, its salary, its bills, bank accounts, categories and notes, and its display
// preferences. It owns its bills, bank accounts, categories and notes: deleting a profile
// deletes them.
//
// Besides its fields it computes the figures the profile screens show (yearly income, yearly
// number of bill payments, yearly bill cost) and the three selections from which the forecast
// builds each month. The bill figures are made together in one walk over the bills and kept
// until a bill's cost or timing (occurrence, quarter month, month) changes or the bill list
// does. A read still registers observation access to the bill list and to every bill field
// the figure depends on, so a view showing a figure redraws when a bill is added, removed or
// changed.
//
//   auto profile = ProfileEntity::make(UUID::random(), "Home", "appleRed", ...);
//   context.insert(profile);
//   auto [sum, bills] = profile->monthlyBillsCost();
//
// Identity is the record itself: two profiles with the same `id` value are different records.
// Main thread only, like every entity of the main context.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Brivel/model/entities_fwd.h"
#include "Brivel/model/enums.h"
#include "platform/data/persistent_model.h"
#include "platform/foundation/date.h"
#include "platform/foundation/uuid.h"

namespace brivel {

// A cost sum together with the bills that make it up, in the order of the profile's list.
struct BillsCost {
  double cost = 0.0;
  BillList bills;
};

// Every bill figure of a profile's year, made in one walk over its bills: the yearly
// payments and cost, and the three selections from which each month is built.
struct YearFigures {
  std::int64_t billsPerYear = 0;
  double costPerYear = 0.0;
  BillsCost monthly;
  std::array<BillsCost, 3> quarterly;  // by QuarterType
  std::array<BillsCost, 12> yearly;    // by YearlyType
};

class ProfileEntity : public platform::PersistentModel {
 public:
  // Property indices, in declared order (also the store's schema order).
  struct Field {
    static constexpr std::size_t id = 0;
    static constexpr std::size_t name = 1;
    static constexpr std::size_t color = 2;
    static constexpr std::size_t salaryType = 3;
    static constexpr std::size_t salary = 4;
    static constexpr std::size_t bills = 5;
    static constexpr std::size_t billSortType = 6;
    static constexpr std::size_t bankAccounts = 7;
    static constexpr std::size_t bankAccountSortType = 8;
    static constexpr std::size_t categories = 9;
    static constexpr std::size_t categorySortType = 10;
    static constexpr std::size_t notes = 11;
    static constexpr std::size_t noteSortType = 12;
    static constexpr std::size_t collectionFilterType = 13;
    static constexpr std::size_t favoriteQuickAction = 14;
    static constexpr std::size_t showSpendable = 15;
    static constexpr std::size_t isArchived = 16;
    static constexpr std::size_t timestamp = 17;
  };

  // A new detached profile with every field at its declared initial value (a new random id,
  // "", "appleRed", fixed, [0.0], empty lists, name sorts, timestampReversed for notes, off,
  // openNotes, true, false, now). Prefer `make`, which sets every field.
  ProfileEntity();

  // The designated initialiser: every field, in declared order. The profile is in no
  // context until it is inserted into one.
  static std::shared_ptr<ProfileEntity> make(
      platform::UUID id, std::string name, std::string color, SalaryType salaryType,
      std::vector<double> salary, std::optional<BillList> bills, BillSortType billSortType,
      std::optional<BankAccountList> bankAccounts, BankAccountSortType bankAccountSortType,
      std::optional<CategoryList> categories, CategorySortType categorySortType,
      std::optional<NoteList> notes, NoteSortType noteSortType,
      CollectionFilterType collectionFilterType, FavoriteQuickAction favoriteQuickAction,
      bool showSpendable, bool isArchived, platform::Date timestamp);

  static const platform::EntityDescription& entityDescription();

  platform::UUID id() const;
  void setId(platform::UUID value);
  std::string name() const;
  void setName(std::string value);
  std::string color() const;
  void setColor(std::string value);
  SalaryType salaryType() const;
  void setSalaryType(SalaryType value);
  // fixed: only the first value counts; variable: one value per month, January first.
  std::vector<double> salary() const;
  void setSalary(std::vector<double> value);
  std::optional<BillList> bills() const;
  void setBills(const std::optional<BillList>& value);
  BillSortType billSortType() const;
  void setBillSortType(BillSortType value);
  std::optional<BankAccountList> bankAccounts() const;
  void setBankAccounts(const std::optional<BankAccountList>& value);
  BankAccountSortType bankAccountSortType() const;
  void setBankAccountSortType(BankAccountSortType value);
  std::optional<CategoryList> categories() const;
  void setCategories(const std::optional<CategoryList>& value);
  CategorySortType categorySortType() const;
  void setCategorySortType(CategorySortType value);
  std::optional<NoteList> notes() const;
  void setNotes(const std::optional<NoteList>& value);
  NoteSortType noteSortType() const;
  void setNoteSortType(NoteSortType value);
  CollectionFilterType collectionFilterType() const;
  void setCollectionFilterType(CollectionFilterType value);
  FavoriteQuickAction favoriteQuickAction() const;
  void setFavoriteQuickAction(FavoriteQuickAction value);
  bool showSpendable() const;
  void setShowSpendable(bool value);
  bool isArchived() const;
  void setIsArchived(bool value);
  platform::Date timestamp() const;
  void setTimestamp(platform::Date value);

  // The yearly income: variable, the sum of all salary values; fixed, the first value times
  // 12 (0.0 without one).
  double incomePerYear() const;
  // Bill payments in a year: 12 per monthly, 4 per quarterly and 1 per yearly bill.
  std::int64_t billsPerYear() const;
  // The cost of all bills in a year: monthly cost x12, quarterly x4, yearly x1.
  double costPerYear() const;
  // The monthly bills and their cost sum.
  BillsCost monthlyBillsCost() const;
  // The quarterly bills that fall due in month `quarter` of each quarter, and their sum. A
  // quarterly bill without a quarter month matches none.
  BillsCost quarterlyBillsCost(QuarterType quarter) const;
  // The yearly bills that fall due in `month`, and their sum. A yearly bill without a month
  // matches none.
  BillsCost yearlyBillsCost(YearlyType month) const;
  // The twelve months, January first: each month's bills (the monthly ones, then the
  // quarterly ones of its quarter month, then the yearly ones of the month, each part in list
  // order) and their cost, (monthly + quarterly) + yearly.
  std::array<BillsCost, 12> monthFigures() const;
  // All bill figures at once, shared and unchanging; reading it registers the accesses of
  // every figure.
  std::shared_ptr<const YearFigures> yearFigures() const;

 protected:
  void propertyDidChange(std::size_t property) override;

 private:
  friend class BillEntity;

  // Drops the kept figures; the next read makes them anew.
  void billFiguresChanged() { figures_.reset(); }
  // The kept figures, made first when there are none. Registers no access.
  const YearFigures& figures() const;
  // What a figure reads, registered with the current tracking scope (if any): the bill list,
  // every bill's occurrence, and what else of each bill that figure looks at.
  enum class Reads { occurrence, costs, monthly, quarterly, yearly, all };
  void registerBillReads(Reads reads) const;

  mutable std::shared_ptr<const YearFigures> figures_;
};

}  // namespace brivel
