// The description of a stored model: its entities, their properties and relationships, and
// the schema version the store file is stamped with.
//
// A model's entity classes each publish one EntityDescription (a process-wide constant built
// on first use); a Schema lists them with a version. The store derives its tables, its delete
// rules and the inverse bookkeeping of relationships from these descriptions alone.
//
// Kinds of properties:
//   - attribute: a value of one AttributeType, optional or not;
//   - to-one relationship: a link to one object of the destination entity (or none);
//   - to-many relationship: an ordered list of objects of the destination entity.
// Every relationship names its inverse on the destination entity; the two ends are kept in
// step by the store. A to-many end's inverse must be a to-one (lists are one-to-many).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/uuid.h"

namespace platform {

class PersistentModel;
struct EntityDescription;

// Returns an entity's description; relationships name their destination this way so that
// descriptions can refer to each other before either is built.
using EntityDescriptionGetter = const EntityDescription& (*)();

enum class AttributeType { Integer, Double, Boolean, String, Uuid, Date, DoubleArray };

// The value of one attribute; std::monostate is "absent" (an optional attribute not set).
using AttributeValue = std::variant<std::monostate, std::int64_t, double, bool, std::string, UUID,
                                    Date, std::vector<double>>;

enum class PropertyKind { Attribute, ToOne, ToMany };

// What deleting an object does to the objects on the other end of a relationship.
//   Nullify / NoAction: the other objects stay; their links to the deleted object are
//     cleared (the store never keeps a link to a deleted object).
//   Cascade: the other objects are deleted too.
enum class DeleteRule { Nullify, Cascade, NoAction };

// The relationship options an entity declares on a property. A relationship property
// without declared options still has a destination and an inverse; it takes the default
// rule, Nullify.
struct RelationshipOptions {
  DeleteRule deleteRule = DeleteRule::Nullify;
  int minimumModelCount = 0;  // 0: no bound
  int maximumModelCount = 0;  // 0: no bound
  // The inverse as the entity spells it; std::nullopt when left for the store to infer.
  std::optional<std::string> declaredInverse;
};

// A property's declared initial value.
class PropertyDefault {
 public:
  enum class Kind { None, Value, Generated, EmptyList };

  static PropertyDefault none() { return PropertyDefault(Kind::None); }
  static PropertyDefault value(AttributeValue value);
  // A value made afresh for each new object ("a new random UUID", "the current date").
  static PropertyDefault generated(std::function<AttributeValue()> make);
  static PropertyDefault emptyList() { return PropertyDefault(Kind::EmptyList); }

  Kind kind() const { return kind_; }
  // The value a new object starts with; std::monostate for None and EmptyList.
  AttributeValue make() const;

 private:
  explicit PropertyDefault(Kind kind) : kind_(kind) {}
  Kind kind_;
  AttributeValue value_;
  std::function<AttributeValue()> generate_;
};

struct PropertyDescription {
  std::string name;
  PropertyKind kind = PropertyKind::Attribute;
  // Attributes only.
  AttributeType type = AttributeType::Integer;
  bool isOptional = false;
  PropertyDefault defaultValue = PropertyDefault::none();
  // Relationships only: the destination entity and the inverse property's name.
  EntityDescriptionGetter destination = nullptr;
  std::string inverse;
  std::optional<RelationshipOptions> relationship;

  DeleteRule deleteRule() const {
    return relationship ? relationship->deleteRule : DeleteRule::Nullify;
  }

  static PropertyDescription attribute(std::string name, AttributeType type, bool isOptional,
                                       PropertyDefault defaultValue);
  static PropertyDescription toOne(std::string name, EntityDescriptionGetter destination,
                                   std::string inverse,
                                   std::optional<RelationshipOptions> options = std::nullopt);
  static PropertyDescription toMany(std::string name, EntityDescriptionGetter destination,
                                    std::string inverse,
                                    std::optional<RelationshipOptions> options,
                                    PropertyDefault defaultValue = PropertyDefault::emptyList());
};

// A property together with its index: entities number their properties once, in an
// enumeration whose order is the declared (and stored) order, and key each description by
// its enumerator.
struct DeclaredProperty {
  std::size_t index;
  PropertyDescription description;
};

// The property list in index order, from properties keyed by index. Each of the `count`
// indices must be declared exactly once: an entity whose declarations and enumeration do not
// match is refused when its description is built (an Exception), never stored out of order.
std::vector<PropertyDescription> declareProperties(std::size_t count,
                                                   std::vector<DeclaredProperty> declared);

struct EntityDescription {
  std::string name;
  std::vector<PropertyDescription> properties;
  // The to-one relationship that owns objects of this entity. An object whose owner link is
  // empty when the context saves is deleted then (no orphans are kept). Empty: none.
  std::string ownerRelationship;
  // Makes an object with every property at its declared initial value; the store uses it to
  // materialise stored rows.
  std::function<std::shared_ptr<PersistentModel>()> makeEmpty;

  // The index of the named property; std::nullopt when there is none.
  std::optional<std::size_t> indexOf(std::string_view propertyName) const;
  const PropertyDescription& property(std::size_t index) const { return properties[index]; }
};

struct SchemaVersion {
  int major = 0;
  int minor = 0;
  int patch = 0;
  std::string text() const;  // "1.0.0"
  friend bool operator==(const SchemaVersion&, const SchemaVersion&) = default;
};

// The entities a container stores, under one version. The store also takes in every entity
// reachable through relationships of the listed ones, so only the roots need listing.
class Schema {
 public:
  Schema(std::vector<const EntityDescription*> entities, SchemaVersion version);

  const SchemaVersion& version() const { return version_; }
  // The listed entities first, in order, then those reached through relationships.
  const std::vector<const EntityDescription*>& entities() const { return entities_; }
  const EntityDescription* entity(std::string_view name) const;

 private:
  std::vector<const EntityDescription*> entities_;
  SchemaVersion version_;
};

}  // namespace platform
