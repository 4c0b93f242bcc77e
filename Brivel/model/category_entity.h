// CategoryEntity: a category of a profile, which groups bills. Its `bills` list is the
// inverse of BillEntity::category; deleting a category leaves its bills in place and clears
// their link. Identity is the record itself. Main thread only.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "Brivel/model/entities_fwd.h"
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

class CategoryEntity : private platform::PropertyStorage<CategoryField::count>,
                       public platform::PersistentModel {
 public:
  using Field = CategoryField;

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

  platform::UUID id() const;
  void setId(platform::UUID value);
  std::string name() const;
  void setName(std::string value);
  std::string color() const;
  void setColor(std::string value);
  std::shared_ptr<ProfileEntity> profile() const;
  void setProfile(const std::shared_ptr<ProfileEntity>& value);
  std::optional<BillList> bills() const;
  // The number of bills; std::nullopt when the list is absent. Observed like bills().
  std::optional<std::size_t> billCount() const;
  void setBills(const std::optional<BillList>& value);
  platform::Date timestamp() const;
  void setTimestamp(platform::Date value);
};

}  // namespace brivel
