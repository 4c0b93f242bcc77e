// ProfileEntity: the stored record of one profile, a separate budget with its own name and
// colour, its salary, its bills, bank accounts, categories and notes, and its display
// preferences. It owns its bills, bank accounts, categories and notes: deleting a profile
// deletes them.
//
// Besides its fields it computes the figures the profile screens show (yearly income, yearly
// number of bill payments, yearly bill cost) and the three selections from which the forecast
// builds each month. The bill figures are made together in one walk over the bills and kept
// until a bill's cost or timing (occurrence, quarter month, month) changes or the bill list
// does; bills added at the end of the list are taken into the kept figures (as the walk would
// have added them) rather than walking the list again. A read registers observation access to the bill list and to the figures as a whole
// (one index the profile tells whenever it drops them), so a view showing a figure redraws
// when a bill is added, removed or changed, without observing each bill.
//
//   auto profile = ProfileEntity::make({.name = "Home", .color = "appleRed"});
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
#include <typeinfo>
#include <vector>

#include "Brivel/model/entities_fwd.h"
#include "Brivel/model/entity_record.h"
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

// The properties of a ProfileEntity, numbered once: the order here is the declared and stored
// order, and the entity's description keys each property by its enumerator.
struct ProfileField {
  enum : std::size_t {
    id,
    name,
    color,
    salaryType,
    salary,
    bills,
    billSortType,
    bankAccounts,
    bankAccountSortType,
    categories,
    categorySortType,
    notes,
    noteSortType,
    collectionFilterType,
    favoriteQuickAction,
    showSpendable,
    isArchived,
    timestamp,
    count
  };
};

extern template class EntityRecord<ProfileField>;

// Its id, name, colour, bills and timestamp are EntityRecord's.
class ProfileEntity : public EntityRecord<ProfileField> {
 public:
  // A new detached profile with every field at its declared initial value (a new random id,
  // "", "appleRed", fixed, [0.0], empty lists, name sorts, timestampReversed for notes, off,
  // openNotes, true, false, now). `make` sets the fields given.
  ProfileEntity();

  // Every field of a new profile, named and in declared order; a field left out takes
  // its declared initial value. Each is set through its setter, so linked records list the
  // new profile: `make({.name = "Home", .salary = {2500.0}})`.
  struct Values {
    platform::UUID id = platform::UUID::random();
    std::string name{};
    std::string color = "appleRed";
    SalaryType salaryType = SalaryType::fixed;
    std::vector<double> salary = {0.0};
    std::optional<BillList> bills = BillList{};
    BillSortType billSortType = BillSortType::name;
    std::optional<BankAccountList> bankAccounts = BankAccountList{};
    BankAccountSortType bankAccountSortType = BankAccountSortType::name;
    std::optional<CategoryList> categories = CategoryList{};
    CategorySortType categorySortType = CategorySortType::name;
    std::optional<NoteList> notes = NoteList{};
    NoteSortType noteSortType = NoteSortType::timestampReversed;
    CollectionFilterType collectionFilterType = CollectionFilterType::off;
    FavoriteQuickAction favoriteQuickAction = FavoriteQuickAction::openNotes;
    bool showSpendable = true;
    bool isArchived = false;
    platform::Date timestamp = platform::Date::now();
  };
  static std::shared_ptr<ProfileEntity> make(Values values);

  static const platform::EntityDescription& entityDescription();

  SalaryType salaryType() const;
  void setSalaryType(SalaryType value);
  // fixed: only the first value counts; variable: one value per month, January first.
  std::vector<double> salary() const;
  void setSalary(std::vector<double> value);
  // The bill list itself, without a copy, for a walk that changes no list meanwhile (its
  // members are BillEntity objects); nullptr when the list is absent. Observed like bills().
  const platform::PersistentModel::ModelList* billsWithoutCopy() const;
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
  // How many times one of the profile's bills changed its id, name, cost, date or timing
  // (changes of the bill list itself are not counted): rows ordered and keyed by those stay
  // in order while it is the same. Registers no access.
  std::uint64_t billEdits() const { return billEdits_; }
  // The bills of the edits after the first `since` (a billEdits() value), each once, in the
  // order of their first such edit; none when more edits were made than the profile
  // remembers (the last kRememberedEdits). The pointers only tell bills apart.
  static constexpr std::size_t kRememberedEdits = 64;
  std::optional<std::vector<const BillEntity*>> billsEditedSince(std::uint64_t since) const;
  // A value made from the bill figures alone (such as a screen's month records), kept with
  // them: `make` runs on the first ask after a bill figure changed, later asks for the same
  // type share its result. One such value is kept at a time. Reading it registers the
  // accesses of every figure.
  template <class T, class Make>
  std::shared_ptr<const T> keptWithFigures(const Make& make) const {
    registerBillReads();
    if (!derived_ || derivedType_ != &typeid(T)) {
      auto made = std::make_shared<const T>(make(figures()));
      derived_ = made;
      derivedType_ = &typeid(T);
      return made;
    }
    return std::static_pointer_cast<const T>(derived_);
  }

 protected:
  void propertyDidChange(std::size_t property) override;

 private:
  friend class BillEntity;

  // The observation index that stands for every bill figure at once: not a stored property,
  // told whenever the kept figures are dropped. A reader of the figures observes it and the
  // bill list, not each bill.
  static constexpr std::size_t kBillFigures = ProfileField::count;
  // Drops the kept figures and tells their readers; the next read makes them anew.
  void billFiguresChanged();
  // Takes the bills added at the end of the list since the figures were made into them; false
  // (changing nothing) when the list changed otherwise.
  bool addedToFigures() const;
  // The kept figures, made first when there are none. Registers no access.
  const YearFigures& figures() const;
  // Registers a read of the figures with the current tracking scope (if any): the bill list
  // and the figures' own index, two observers however many bills there are.
  void registerBillReads() const;

  // Counts an edit of `bill` (see billEdits()).
  void billEdited(const BillEntity* bill);

  std::uint64_t billEdits_ = 0;  // see billEdits()
  // The bill of edit number e (from 1) at (e - 1) % kRememberedEdits.
  std::array<const BillEntity*, kRememberedEdits> recentEdits_{};
  // The walk over the bills the kept figures were made in: its running counts and sums (added
  // to in list order, so that taking in bills added at the end sums as a new walk would) and
  // the bills it took in, held so that none of them is taken for another bill at its address.
  struct FigureWalk {
    std::int64_t monthlyCount = 0;
    std::int64_t quarterlyCount = 0;
    std::int64_t yearlyCount = 0;
    double monthlyPart = 0.0;
    double quarterlyPart = 0.0;
    double yearlyPart = 0.0;
    platform::PersistentModel::ModelList members;

    void add(YearFigures& figures, const std::shared_ptr<platform::PersistentModel>& member);
  };
  mutable std::shared_ptr<YearFigures> figures_;
  mutable bool figuresOutdated_ = false;  // the bill list changed since they were made
  mutable FigureWalk walk_;
  mutable std::shared_ptr<const void> derived_;
  mutable const std::type_info* derivedType_ = nullptr;
};

}  // namespace brivel
