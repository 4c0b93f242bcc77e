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
    d.properties = platform::declareProperties(
        Field::count,
        {
            idProperty(Field::id),
            textProperty(Field::name, "name", ""),
            textProperty(Field::color, "color", "appleIndigo"),
            {Field::profile, PropertyDescription::toOne(
                                 "profile", &ProfileEntity::entityDescription, "categories")},
            {Field::bills,
             PropertyDescription::toMany(
                 "bills", &BillEntity::entityDescription, "category",
                 platform::RelationshipOptions{platform::DeleteRule::NoAction, 0, 0, "category"})},
            timestampProperty(Field::timestamp),
        });
    d.ownerRelationship = "profile";
    d.makeEmpty = [] { return std::make_shared<CategoryEntity>(); };
    return d;
  }();
  return description;
}

CategoryEntity::CategoryEntity() : PersistentModel(entityDescription(), propertySlots()) {}

std::shared_ptr<CategoryEntity> CategoryEntity::make(Values values) {
  auto category = std::make_shared<CategoryEntity>();
  category->setId(values.id);
  category->setName(std::move(values.name));
  category->setColor(std::move(values.color));
  category->setProfile(values.profile);
  category->setBills(values.bills);
  category->setTimestamp(values.timestamp);
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
std::optional<std::size_t> CategoryEntity::billCount() const {
  return listSize(Field::bills);
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
