#include "platform/data/schema.h"

#include <algorithm>
#include <utility>

#include "platform/foundation/error.h"

namespace platform {

PropertyDefault PropertyDefault::value(AttributeValue value) {
  PropertyDefault result(Kind::Value);
  result.value_ = std::move(value);
  return result;
}

PropertyDefault PropertyDefault::generated(std::function<AttributeValue()> make) {
  PropertyDefault result(Kind::Generated);
  result.generate_ = std::move(make);
  return result;
}

AttributeValue PropertyDefault::make() const {
  switch (kind_) {
    case Kind::Value:
      return value_;
    case Kind::Generated:
      return generate_ ? generate_() : AttributeValue();
    case Kind::None:
    case Kind::EmptyList:
      break;
  }
  return AttributeValue();
}

PropertyDescription PropertyDescription::attribute(std::string name, AttributeType type,
                                                   bool isOptional,
                                                   PropertyDefault defaultValue) {
  PropertyDescription p;
  p.name = std::move(name);
  p.kind = PropertyKind::Attribute;
  p.type = type;
  p.isOptional = isOptional;
  p.defaultValue = std::move(defaultValue);
  return p;
}

PropertyDescription PropertyDescription::toOne(std::string name,
                                               EntityDescriptionGetter destination,
                                               std::string inverse,
                                               std::optional<RelationshipOptions> options) {
  PropertyDescription p;
  p.name = std::move(name);
  p.kind = PropertyKind::ToOne;
  p.isOptional = true;
  p.destination = destination;
  p.inverse = std::move(inverse);
  p.relationship = std::move(options);
  return p;
}

PropertyDescription PropertyDescription::toMany(std::string name,
                                                EntityDescriptionGetter destination,
                                                std::string inverse,
                                                std::optional<RelationshipOptions> options,
                                                PropertyDefault defaultValue) {
  PropertyDescription p;
  p.name = std::move(name);
  p.kind = PropertyKind::ToMany;
  p.isOptional = true;
  p.destination = destination;
  p.inverse = std::move(inverse);
  p.relationship = std::move(options);
  p.defaultValue = std::move(defaultValue);
  return p;
}

std::vector<PropertyDescription> declareProperties(std::size_t count,
                                                   std::vector<DeclaredProperty> declared) {
  std::vector<std::optional<PropertyDescription>> placed(count);
  for (DeclaredProperty& property : declared) {
    if (property.index >= count || placed[property.index]) {
      throw Exception(kInternalInconsistencyException,
                      "Property " + property.description.name + " is declared at index " +
                          std::to_string(property.index) +
                          (property.index >= count ? ", past the last one." : ", which is taken."));
    }
    placed[property.index] = std::move(property.description);
  }
  std::vector<PropertyDescription> properties;
  properties.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (!placed[i]) {
      throw Exception(kInternalInconsistencyException,
                      "No property is declared at index " + std::to_string(i) + ".");
    }
    properties.push_back(std::move(*placed[i]));
  }
  return properties;
}

std::optional<std::size_t> EntityDescription::indexOf(std::string_view propertyName) const {
  for (std::size_t i = 0; i < properties.size(); ++i) {
    if (properties[i].name == propertyName) {
      return i;
    }
  }
  return std::nullopt;
}

std::string SchemaVersion::text() const {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

Schema::Schema(std::vector<const EntityDescription*> entities, SchemaVersion version)
    : version_(version) {
  // The listed entities, then everything their relationships reach, breadth first.
  for (std::size_t i = 0; i < entities.size(); ++i) {
    if (std::find(entities_.begin(), entities_.end(), entities[i]) == entities_.end()) {
      entities_.push_back(entities[i]);
    }
  }
  for (std::size_t i = 0; i < entities_.size(); ++i) {
    for (const auto& property : entities_[i]->properties) {
      if (property.kind == PropertyKind::Attribute || !property.destination) {
        continue;
      }
      const EntityDescription* destination = &property.destination();
      if (std::find(entities_.begin(), entities_.end(), destination) == entities_.end()) {
        entities_.push_back(destination);
      }
    }
  }
}

const EntityDescription* Schema::entity(std::string_view name) const {
  for (const auto* entity : entities_) {
    if (entity->name == name) {
      return entity;
    }
  }
  return nullptr;
}

}  // namespace platform
