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

CategoryEntity::CategoryEntity() : EntityRecord(entityDescription()) {}

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


}  // namespace brivel
