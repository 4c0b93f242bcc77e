#include "Brivel/model/note_entity.h"

#include "Brivel/model/internal/entity_defaults.h"
#include "Brivel/model/profile_entity.h"

namespace brivel {

using platform::AttributeType;
using platform::PropertyDescription;

const platform::EntityDescription& NoteEntity::entityDescription() {
  static const platform::EntityDescription description = [] {
    using namespace model_internal;
    platform::EntityDescription d;
    d.name = "NoteEntity";
    d.properties = platform::declareProperties(
        Field::count,
        {
            idProperty(Field::id),
            textProperty(Field::name, "name", ""),
            textProperty(Field::color, "color", "appleYellow"),
            textProperty(Field::text, "text", ""),
            {Field::profile,
             PropertyDescription::toOne("profile", &ProfileEntity::entityDescription, "notes")},
            timestampProperty(Field::timestamp),
        });
    d.ownerRelationship = "profile";
    d.makeEmpty = [] { return std::make_shared<NoteEntity>(); };
    return d;
  }();
  return description;
}

NoteEntity::NoteEntity() : PersistentModel(entityDescription(), propertySlots()) {}

std::shared_ptr<NoteEntity> NoteEntity::make(Values values) {
  auto note = std::make_shared<NoteEntity>();
  note->setId(values.id);
  note->setName(std::move(values.name));
  note->setColor(std::move(values.color));
  note->setText(std::move(values.text));
  note->setProfile(values.profile);
  note->setTimestamp(values.timestamp);
  return note;
}

platform::UUID NoteEntity::id() const { return attribute<platform::UUID>(Field::id); }
void NoteEntity::setId(platform::UUID value) { setValue(Field::id, value); }
std::string NoteEntity::name() const { return attribute<std::string>(Field::name); }
void NoteEntity::setName(std::string value) { setValue(Field::name, std::move(value)); }
std::string NoteEntity::color() const { return attribute<std::string>(Field::color); }
void NoteEntity::setColor(std::string value) { setValue(Field::color, std::move(value)); }
std::string NoteEntity::text() const { return attribute<std::string>(Field::text); }
void NoteEntity::setText(std::string value) { setValue(Field::text, std::move(value)); }
std::shared_ptr<ProfileEntity> NoteEntity::profile() const {
  return toOne<ProfileEntity>(Field::profile);
}
void NoteEntity::setProfile(const std::shared_ptr<ProfileEntity>& value) {
  setRelated(Field::profile, value);
}
platform::Date NoteEntity::timestamp() const {
  return attribute<platform::Date>(Field::timestamp);
}
void NoteEntity::setTimestamp(platform::Date value) { setValue(Field::timestamp, value); }

}  // namespace brivel
