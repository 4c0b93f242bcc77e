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
    d.properties = {
        PropertyDescription::attribute("id", AttributeType::Uuid, false, newUUID()),
        PropertyDescription::attribute("name", AttributeType::String, false, textDefault("")),
        PropertyDescription::attribute("color", AttributeType::String, false,
                                       textDefault("appleYellow")),
        PropertyDescription::attribute("text", AttributeType::String, false, textDefault("")),
        PropertyDescription::toOne("profile", &ProfileEntity::entityDescription, "notes"),
        PropertyDescription::attribute("timestamp", AttributeType::Date, false, currentDate()),
    };
    d.ownerRelationship = "profile";
    d.makeEmpty = [] { return std::make_shared<NoteEntity>(); };
    return d;
  }();
  return description;
}

NoteEntity::NoteEntity() : PersistentModel(entityDescription()) {}

std::shared_ptr<NoteEntity> NoteEntity::make(platform::UUID id, std::string name,
                                             std::string color, std::string text,
                                             std::shared_ptr<ProfileEntity> profile,
                                             platform::Date timestamp) {
  auto note = std::make_shared<NoteEntity>();
  note->setId(id);
  note->setName(std::move(name));
  note->setColor(std::move(color));
  note->setText(std::move(text));
  note->setProfile(profile);
  note->setTimestamp(timestamp);
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
