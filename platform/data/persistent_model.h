// PersistentModel: the base class of every stored entity.
//
// An entity class derives from PersistentModel, publishes an EntityDescription, and gives
// each property a typed getter and setter built on the protected helpers below. The base
// class keeps the property values (the object's backing data), registers an observation
// access on every read and notifies that property's observers on every write, keeps both
// ends of each relationship in step, and tells its ModelContext what changed.
//
// Ownership: objects are held by std::shared_ptr. A context holds every object registered
// in it; a to-many list holds its members; a to-one link is a weak reference (the owner of
// a link is always the other end's list or the context), so object graphs have no cycles of
// strong references. Create objects through std::make_shared (or an entity's `make`).
//
// Identity: two references are the same record exactly when they point at the same object;
// no property value takes part in equality. `persistentModelID()` names the record in its
// store.
//
// Threads: an object belongs to the thread of its context (the main thread for the main
// context) and has no locks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "platform/observation/observation.h"
#include "platform/data/schema.h"

namespace platform {

class ModelContext;

// The store's name for one record: its entity and its row key. Objects that are in no
// context yet carry a temporary identifier (isTemporary, a negative key unique in the
// process).
struct PersistentIdentifier {
  std::string entityName;
  std::int64_t primaryKey = 0;
  bool isTemporary = true;
  friend bool operator==(const PersistentIdentifier&, const PersistentIdentifier&) = default;
};

namespace data_internal {
struct ModelAccess;
}

// One property's backing data: an attribute's value, a to-one link, or a to-many list. Only
// the part of the property's kind is held (objects are loaded by the ten thousand, so their
// size is much of what loading costs). Entities hold their slots inline through
// PropertyStorage, so that an object and its data are one allocation.
class PropertySlot {
 public:
  struct Link {
    std::weak_ptr<PersistentModel> target;
    std::int64_t position = 0;  // to-one whose inverse is a list: place in it
  };
  struct List {
    std::vector<std::shared_ptr<PersistentModel>> members;
    bool present = true;
  };

  // An attribute slot, absent; `setKind` makes it hold a link or a list instead.
  PropertySlot() = default;
  void setKind(PropertyKind kind) {
    if (kind == PropertyKind::ToOne) {
      data_.emplace<Link>();
    } else if (kind == PropertyKind::ToMany) {
      data_.emplace<List>();
    }
  }
  AttributeValue& value() { return *std::get_if<AttributeValue>(&data_); }
  const AttributeValue& value() const { return *std::get_if<AttributeValue>(&data_); }
  std::weak_ptr<PersistentModel>& target() { return std::get_if<Link>(&data_)->target; }
  const std::weak_ptr<PersistentModel>& target() const {
    return std::get_if<Link>(&data_)->target;
  }
  std::int64_t& position() { return std::get_if<Link>(&data_)->position; }
  std::vector<std::shared_ptr<PersistentModel>>& list() {
    return std::get_if<List>(&data_)->members;
  }
  const std::vector<std::shared_ptr<PersistentModel>>& list() const {
    return std::get_if<List>(&data_)->members;
  }
  bool& listPresent() { return std::get_if<List>(&data_)->present; }
  bool listPresent() const { return std::get_if<List>(&data_)->present; }

 private:
  std::variant<AttributeValue, Link, List> data_;
};

// The slots of an entity's `count` properties, held inside the object. An entity class lists
// it as a base before PersistentModel (bases are built in order, so the slots exist when
// PersistentModel fills them) and hands `propertySlots()` to PersistentModel's constructor:
//
//   class Note : private PropertyStorage<NoteField::count>, public PersistentModel {
//     Note() : PersistentModel(entityDescription(), propertySlots()) {}
template <std::size_t count>
class PropertyStorage {
 protected:
  std::span<PropertySlot> propertySlots() { return slots_; }

 private:
  std::array<PropertySlot, count> slots_;
};

class PersistentModel : public std::enable_shared_from_this<PersistentModel> {
 public:
  using ModelList = std::vector<std::shared_ptr<PersistentModel>>;

  virtual ~PersistentModel();
  PersistentModel(const PersistentModel&) = delete;
  PersistentModel& operator=(const PersistentModel&) = delete;

  const EntityDescription& entity() const { return *entity_; }
  PersistentIdentifier persistentModelID() const;
  // The context the object is registered in, or nullptr while detached.
  ModelContext* modelContext() const { return context_; }
  // Deleted in its context and not yet saved.
  bool isDeleted() const { return isDeleted_; }
  // Inserted, changed or deleted since the context last saved.
  bool hasChanges() const;
  const ObservationRegistrar& observationRegistrar() const { return registrar_; }

  // Access by property index, observed like the typed accessors (key-path access).
  AttributeValue value(std::size_t property) const;
  void setValue(std::size_t property, AttributeValue value);
  std::shared_ptr<PersistentModel> related(std::size_t property) const;
  void setRelated(std::size_t property, const std::shared_ptr<PersistentModel>& target);
  // A to-many list in its stored order; std::nullopt when it was set absent.
  std::optional<ModelList> relatedList(std::size_t property) const;
  // Replaces a to-many list. A member listed twice is kept at its first place; the
  // members' inverse links move to this object (leaving any list they were in before), and
  // members that are no longer listed lose their link to it.
  void setRelatedList(std::size_t property, const std::optional<ModelList>& list);

 protected:
  // Starts an object with every property at its declared initial value, its properties'
  // data in `slots` (one per property, in declared order; see PropertyStorage).
  PersistentModel(const EntityDescription& entity, std::span<PropertySlot> slots);
  // The same with the data in an array of the object's own (a second allocation).
  explicit PersistentModel(const EntityDescription& entity);

  template <class T>
  T attribute(std::size_t property) const {
    registrar_.access(property);
    const T* held = std::get_if<T>(&slots_[property].value());
    return held ? *held : T{};
  }
  template <class T>
  std::optional<T> optionalAttribute(std::size_t property) const {
    registrar_.access(property);
    const T* held = std::get_if<T>(&slots_[property].value());
    return held ? std::optional<T>(*held) : std::nullopt;
  }
  template <class T>
  void setOptionalAttribute(std::size_t property, const std::optional<T>& value) {
    setValue(property, value ? AttributeValue(*value) : AttributeValue());
  }
  template <class T>
  std::shared_ptr<T> toOne(std::size_t property) const {
    return std::static_pointer_cast<T>(related(property));
  }
  template <class T>
  std::optional<std::vector<std::shared_ptr<T>>> toMany(std::size_t property) const {
    registrar_.access(property);
    const PropertySlot& slot = slots_[property];
    if (!slot.listPresent()) {
      return std::nullopt;
    }
    std::vector<std::shared_ptr<T>> result;
    result.reserve(slot.list().size());
    for (const auto& member : slot.list()) {
      result.push_back(std::static_pointer_cast<T>(member));
    }
    return result;
  }
  // The list itself, without a copy, for read-only walks that must not change it meanwhile;
  // nullptr when the list is absent. Registers an observation access like a read.
  const ModelList* listView(std::size_t property) const {
    registrar_.access(property);
    const PropertySlot& slot = slots_[property];
    return slot.listPresent() ? &slot.list() : nullptr;
  }
  // The number of members of the list; std::nullopt when it is absent. Observed as listView.
  std::optional<std::size_t> listSize(std::size_t property) const {
    const ModelList* list = listView(property);
    return list ? std::optional<std::size_t>(list->size()) : std::nullopt;
  }
  // The value of an attribute without registering an observation access, for derived values
  // that a cache keeps (the cache replays the reads itself when someone tracks them);
  // nullptr when the attribute is absent or holds another type.
  template <class T>
  const T* unobservedAttribute(std::size_t property) const {
    return std::get_if<T>(&slots_[property].value());
  }
  // A to-many list without registering an observation access; nullptr when absent.
  const ModelList* unobservedList(std::size_t property) const {
    const PropertySlot& slot = slots_[property];
    return slot.listPresent() ? &slot.list() : nullptr;
  }
  // The object a to-one link points at, without registering an observation access.
  std::shared_ptr<PersistentModel> unobservedTarget(std::size_t property) const {
    return slots_[property].target().lock();
  }
  // Called after a property of this object changed: through a setter, as the other end of a
  // relationship, or by a delete. Entities that cache values derived from their properties
  // (or from their related objects' properties) drop them here.
  virtual void propertyDidChange(std::size_t property) {}

  template <class T>
  void setToMany(std::size_t property, const std::optional<std::vector<std::shared_ptr<T>>>& list) {
    if (!list) {
      setRelatedList(property, std::nullopt);
      return;
    }
    setRelatedList(property, ModelList(list->begin(), list->end()));
  }

 private:
  friend class ModelContext;
  friend struct data_internal::ModelAccess;

  // Puts every slot at its property's kind and declared initial value.
  void startSlots();
  // The inverse property of a relationship on its destination.
  std::size_t inverseIndex(std::size_t property) const;
  // Relationship bookkeeping without observation of this end.
  void linkInverse(std::size_t property, PersistentModel* oldTarget,
                   const std::shared_ptr<PersistentModel>& newTarget);
  void detachFromInverseList(std::size_t inverseOnTarget, PersistentModel* target);
  void clearToOneSilently(std::size_t property);
  void adoptIntoContextOf(PersistentModel& other);
  void noteUpdated();
  void noteListChanged(std::size_t property);
  // Tells the property's observers and the entity itself that it changed.
  void didChange(std::size_t property) {
    registrar_.didChange(property);
    propertyDidChange(property);
  }

  const EntityDescription* entity_;
  PropertySlot* slots_;
  std::unique_ptr<PropertySlot[]> ownSlots_;
  ObservationRegistrar registrar_;
  ModelContext* context_ = nullptr;
  std::int64_t primaryKey_ = 0;
  std::int64_t temporaryKey_ = 0;
  bool isPersisted_ = false;  // has a row in the store
  bool isDeleted_ = false;
};

}  // namespace platform
