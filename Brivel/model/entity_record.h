// EntityRecord: the bookkeeping the profile and the records it owns (bank accounts,
// categories, notes) share. It holds the record's property slots inside the object and gives
// the accessors of the properties they have in common, each at the index its Field
// enumeration numbers it:
//
// - every one: `id`, `name`, `color` and `timestamp`;
// - a record a profile owns (Field::profile): the `profile` link;
// - a record that lists bills (Field::bills): the `bills` list and its count.
//
// An entity derives from EntityRecord<ItsField> and adds its own properties:
//
//   class NoteEntity : public EntityRecord<NoteField> {
//    public:
//     NoteEntity() : EntityRecord(entityDescription()) {}
//     std::string text() const;
//
// The accessors are defined once, in entity_record.cpp, for the four entities. Main thread
// only, like every entity of the main context.
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

template <class F>
concept OwnedByProfile = requires { F::profile; };
template <class F>
concept ListsBills = requires { F::bills; };

template <class F>
class EntityRecord : private platform::PropertyStorage<F::count>,
                     public platform::PersistentModel {
 public:
  using Field = F;

  platform::UUID id() const;
  void setId(platform::UUID value);
  std::string name() const;
  void setName(std::string value);
  std::string color() const;
  void setColor(std::string value);
  platform::Date timestamp() const;
  void setTimestamp(platform::Date value);

  std::shared_ptr<ProfileEntity> profile() const
    requires OwnedByProfile<F>;
  void setProfile(const std::shared_ptr<ProfileEntity>& value)
    requires OwnedByProfile<F>;

  std::optional<BillList> bills() const
    requires ListsBills<F>;
  // The number of bills; std::nullopt when the list is absent. Observed like bills().
  std::optional<std::size_t> billCount() const
    requires ListsBills<F>;
  void setBills(const std::optional<BillList>& value)
    requires ListsBills<F>;

 protected:
  // Every property at its declared initial value; `description` is the entity's own.
  explicit EntityRecord(const platform::EntityDescription& description)
      : PersistentModel(description, this->propertySlots()) {}
};

}  // namespace brivel
