#include "Brivel/model/category_entity.h"

#include "Brivel/model/bill_entity.h"
#include "Brivel/model/internal/entity_defaults.h"
#include "Brivel/model/profile_entity.h"

namespace brivel {

using platform::AttributeType;
using platform::PropertyDescription;

const platform::EntityDescription& CategoryEntity::entityDescription() {
  static const platform::EntityDescription description = [] {
    using namespace model_internal;
    platform::EntityDescription d;
    d.name = "CategoryEntity";
    d.properties = {
        PropertyDescription::attribute("id", AttributeType::Uuid, false, newUUID()),
        PropertyDescription::attribute("name", AttributeType::String, false, textDefault("")),
        PropertyDescription::attribute("color", AttributeType::String, false,
                                       textDefault("appleIndigo")),
        PropertyDescription::toOne("profile", &ProfileEntity::entityDescription, "categories"),
        PropertyDescription::toMany(
            "bills", &BillEntity::entityDescription, "category",
            platform::RelationshipOptions{platform::DeleteRule::NoAction, 0, 0, "category"}),
        PropertyDescription::attribute("timestamp", AttributeType::Date, false, currentDate()),
    };
    d.ownerRelationship = "profile";
    d.makeEmpty = [] { return std::make_shared<CategoryEntity>(); };
    return d;
  }();
  return description;
}

CategoryEntity::CategoryEntity() : PersistentModel(entityDescription()) {}

std::shared_ptr<CategoryEntity> CategoryEntity::make(platform::UUID id, std::string name,
                                                     std::string color,
                                                     std::shared_ptr<ProfileEntity> profile,
                                                     std::optional<BillList> bills,
                                                     platform::Date timestamp) {
  auto category = std::make_shared<CategoryEntity>();
  category->setId(id);
  category->setName(std::move(name));
  category->setColor(std::move(color));
  category->setProfile(profile);
  category->setBills(bills);
  category->setTimestamp(timestamp);
  return category;
}

platform::UUID CategoryEntity::id() const { return attribute<platform::UUID>(Field::id); }
void CategoryEntity::setId(platform::UUID value) { setValue(Field::id, value); }
std::string CategoryEntity::name() const { return attribute<std::string>(Field::name); }
void CategoryEntity::setName(std::string value) { setValue(Field::name, std::move(value)); }
std::string CategoryEntity::color() const { return attribute<std::string>(Field::color); }
void CategoryEntity::setColor(std::string value) { setValue(Field::color, std::move(value)); }
std::shared_ptr<ProfileEntity> CategoryEntity::profile() const {
  return toOne<ProfileEntity>(Field::profile);
}
void CategoryEntity::setProfile(const std::shared_ptr<ProfileEntity>& value) {
  setRelated(Field::profile, value);
}
std::optional<BillList> CategoryEntity::bills() const { return toMany<BillEntity>(Field::bills); }
void CategoryEntity::setBills(const std::optional<BillList>& value) {
  setToMany(Field::bills, value);
}
platform::Date CategoryEntity::timestamp() const {
  return attribute<platform::Date>(Field::timestamp);
}
void CategoryEntity::setTimestamp(platform::Date value) { setValue(Field::timestamp, value); }

}  // namespace brivel
