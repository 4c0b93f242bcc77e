// BankAccountEntity: a bank account of a profile, which says where bills are paid from. Its
// `bills` list is the inverse of BillEntity::bankAccount; deleting an account leaves its
// bills in place and clears their link. `note` absent and `note` empty are distinct values.
// Identity is the record itself. Main thread only.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "Brivel/model/entities_fwd.h"
#include "Brivel/model/entity_record.h"
#include "platform/data/persistent_model.h"
#include "platform/foundation/date.h"
#include "platform/foundation/uuid.h"

namespace brivel {

// The properties of a BankAccountEntity, numbered once: the order here is the declared and stored
// order, and the entity's description keys each property by its enumerator.
struct BankAccountField {
  enum : std::size_t {
    id,
    name,
    color,
    number,
    note,
    profile,
    bills,
    timestamp,
    count
  };
};

extern template class EntityRecord<BankAccountField>;

// Its id, name, colour, profile, bills and timestamp are EntityRecord's.
class BankAccountEntity : public EntityRecord<BankAccountField> {
 public:
  // At the declared initial values: a new random id, "", "appleYellow", "", no note, no
  // profile, an empty bill list, now.
  BankAccountEntity();

  // Every field of a new bank account, named and in declared order; a field left out takes
  // its declared initial value. Each is set through its setter, so linked records list the
  // new bank account: `make({.name = "Checking", .profile = home})`.
  struct Values {
    platform::UUID id = platform::UUID::random();
    std::string name{};
    std::string color = "appleYellow";
    std::string number{};
    std::optional<std::string> note{};
    std::shared_ptr<ProfileEntity> profile{};
    std::optional<BillList> bills = BillList{};
    platform::Date timestamp = platform::Date::now();
  };
  static std::shared_ptr<BankAccountEntity> make(Values values);

  static const platform::EntityDescription& entityDescription();

  std::string number() const;
  void setNumber(std::string value);
  std::optional<std::string> note() const;
  void setNote(std::optional<std::string> value);
};

}  // namespace brivel
