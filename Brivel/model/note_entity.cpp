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

NoteEntity::NoteEntity() : EntityRecord(entityDescription()) {}

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

std::string NoteEntity::text() const { return attribute<std::string>(Field::text); }
void NoteEntity::setText(std::string value) { setValue(Field::text, std::move(value)); }

}  // namespace brivel
