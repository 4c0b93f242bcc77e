// BillEntity: the stored record of one recurring bill of a profile: its name, what it costs
// each time it falls due, how often (monthly; quarterly in one month of the quarter; yearly
// in one month), an optional note, and optional links to a category and a bank account.
//
// The links are the to-one ends of ProfileEntity::bills, CategoryEntity::bills and
// BankAccountEntity::bills: setting one puts the bill into that record's list and takes it
// out of the previous one's. Deleting the profile deletes the bill; deleting its category or
// bank account only clears the link.
//
// Identity is the record itself, never the `id` value. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Brivel/model/entities_fwd.h"
#include "Brivel/model/enums.h"
#include "platform/data/persistent_model.h"
#include "platform/foundation/date.h"
#include "platform/foundation/uuid.h"

namespace brivel {

// The properties of a BillEntity, numbered once: the order here is the declared and stored
// order, and the entity's description keys each property by its enumerator.
struct BillField {
  enum : std::size_t {
    id,
    name,
    cost,
    note,
    occurring,
    quarterly,
    yearly,
    profile,
    category,
    bankAccount,
    timestamp,
    count
  };
};

class BillEntity : private platform::PropertyStorage<BillField::count>,
                   public platform::PersistentModel {
 public:
  using Field = BillField;

  // A new detached bill at the declared initial values (a new random id, "", 0.0, no note,
  // monthly, no quarter, no month, no links, now).
  BillEntity();

  // Every field of a new bill, named and in declared order; a field left out takes
  // its declared initial value. Each is set through its setter, so linked records list the
  // new bill: `make({.name = "Rent", .profile = home})`.
  struct Values {
    platform::UUID id = platform::UUID::random();
    std::string name{};
    double cost = 0.0;
    std::optional<std::string> note{};
    OccurringType occurring = OccurringType::monthly;
    std::optional<QuarterType> quarterly{};
    std::optional<YearlyType> yearly{};
    std::shared_ptr<ProfileEntity> profile{};
    std::shared_ptr<CategoryEntity> category{};
    std::shared_ptr<BankAccountEntity> bankAccount{};
    platform::Date timestamp = platform::Date::now();
  };
  static std::shared_ptr<BillEntity> make(Values values);

  static const platform::EntityDescription& entityDescription();

  platform::UUID id() const;
  void setId(platform::UUID value);
  std::string name() const;
  void setName(std::string value);
  double cost() const;
  void setCost(double value);
  std::optional<std::string> note() const;
  void setNote(std::optional<std::string> value);
  OccurringType occurring() const;
  void setOccurring(OccurringType value);
  std::optional<QuarterType> quarterly() const;
  void setQuarterly(std::optional<QuarterType> value);
  std::optional<YearlyType> yearly() const;
  void setYearly(std::optional<YearlyType> value);
  std::shared_ptr<ProfileEntity> profile() const;
  void setProfile(const std::shared_ptr<ProfileEntity>& value);
  std::shared_ptr<CategoryEntity> category() const;
  void setCategory(const std::shared_ptr<CategoryEntity>& value);
  std::shared_ptr<BankAccountEntity> bankAccount() const;
  void setBankAccount(const std::shared_ptr<BankAccountEntity>& value);
  platform::Date timestamp() const;
  void setTimestamp(platform::Date value);

  // What the bill costs in a year: monthly x12, quarterly x4, yearly x1.
  double costPerYear() const;
  // Text keys naming the recurrence, the month of the quarter (absent: the first) and the
  // month (absent: January).
  const std::string& occurringLocalizedKey() const;
  const std::string& quarterlyLocalizedKey() const;
  const std::string& yearlyLocalizedKey() const;

 protected:
  void propertyDidChange(std::size_t property) override;

 private:
  friend class ProfileEntity;

  // What the profile's figures need of a bill, read without observation access and kept
  // compact beside the bill until one of those fields changes (the figures walk thousands of
  // bills; this keeps each to one cache line). `quarterly` and `yearly` are -1 when absent.
  struct Timing {
    double cost = 0.0;
    OccurringType occurring = OccurringType::monthly;
    std::int8_t quarterly = -1;
    std::int8_t yearly = -1;
  };
  const Timing& timing() const;

  mutable Timing timing_;
  mutable bool timingKnown_ = false;
};

}  // namespace brivel
