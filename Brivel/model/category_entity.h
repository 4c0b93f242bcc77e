// CategoryEntity: a category of a profile, which groups bills. Its `bills` list is the
// inverse of BillEntity::category; deleting a category leaves its bills in place and clears
// their link. Identity is the record itself. Main thread only.
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

// The properties of a CategoryEntity, numbered once: the order here is the declared and stored
// order, and the entity's description keys each property by its enumerator.
struct CategoryField {
  enum : std::size_t {
    id,
    name,
    color,
    profile,
    bills,
    timestamp,
    count
  };
};

extern template class EntityRecord<CategoryField>;

// Every accessor of a category is EntityRecord's: id, name, colour, profile, bills, timestamp.
class CategoryEntity : public EntityRecord<CategoryField> {
 public:
  // At the declared initial values: a new random id, "", "appleIndigo", no profile, an
  // empty bill list, now.
  CategoryEntity();

  // Every field of a new category, named and in declared order; a field left out takes
  // its declared initial value. Each is set through its setter, so linked records list the
  // new category: `make({.name = "Housing", .profile = home})`.
  struct Values {
    platform::UUID id = platform::UUID::random();
    std::string name{};
    std::string color = "appleIndigo";
    std::shared_ptr<ProfileEntity> profile{};
    std::optional<BillList> bills = BillList{};
    platform::Date timestamp = platform::Date::now();
  };
  static std::shared_ptr<CategoryEntity> make(Values values);

  static const platform::EntityDescription& entityDescription();

};

}  // namespace brivel
