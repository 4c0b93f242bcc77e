// NoteEntity: a free text kept with a profile. Identity is the record itself. Main thread
// only.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "Brivel/model/entities_fwd.h"
#include "Brivel/model/entity_record.h"
#include "platform/data/persistent_model.h"
#include "platform/foundation/date.h"
#include "platform/foundation/uuid.h"

namespace brivel {

// The properties of a NoteEntity, numbered once: the order here is the declared and stored
// order, and the entity's description keys each property by its enumerator.
struct NoteField {
  enum : std::size_t {
    id,
    name,
    color,
    text,
    profile,
    timestamp,
    count
  };
};

extern template class EntityRecord<NoteField>;

// Its id, name, colour, profile and timestamp are EntityRecord's.
class NoteEntity : public EntityRecord<NoteField> {
 public:
  // At the declared initial values: a new random id, "", "appleYellow", "", no profile, now.
  NoteEntity();

  // Every field of a new note, named and in declared order; a field left out takes
  // its declared initial value. Each is set through its setter, so linked records list the
  // new note: `make({.name = "Plans", .profile = home})`.
  struct Values {
    platform::UUID id = platform::UUID::random();
    std::string name{};
    std::string color = "appleYellow";
    std::string text{};
    std::shared_ptr<ProfileEntity> profile{};
    platform::Date timestamp = platform::Date::now();
  };
  static std::shared_ptr<NoteEntity> make(Values values);

  static const platform::EntityDescription& entityDescription();

  std::string text() const;
  void setText(std::string value);
};

}  // namespace brivel
