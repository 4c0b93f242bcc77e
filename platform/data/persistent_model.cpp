#include "platform/data/persistent_model.h"

#include <algorithm>
#include <atomic>
#include <unordered_set>

#include "platform/data/internal/model_access.h"
#include "platform/data/model_context.h"
#include "platform/foundation/error.h"

namespace platform {

namespace {

std::atomic<std::int64_t> lastTemporaryKey{0};

// Set while the store materialises rows: initial values are skipped, as the stored values
// replace every one of them at once.
thread_local bool materializing = false;

void requireKind(const EntityDescription& entity, std::size_t property, PropertyKind kind) {
  if (property >= entity.properties.size() || entity.properties[property].kind != kind) {
    throw Exception(kInvalidArgumentException,
                    "Property " + std::to_string(property) + " of " + entity.name +
                        " is not of the kind this access needs.");
  }
}

void requireDestination(const PropertyDescription& property, const PersistentModel& target) {
  if (&target.entity() != &property.destination()) {
    throw Exception(kInvalidArgumentException, "Cannot link " + target.entity().name +
                                                   " through " + property.name + ", which holds " +
                                                   property.destination().name + ".");
  }
}

}  // namespace

PersistentModel::PersistentModel(const EntityDescription& entity, std::span<PropertySlot> slots)
    : entity_(&entity), slots_(slots.data()) {
  if (slots.size() != entity.properties.size()) {
    throw Exception(kInternalInconsistencyException,
                    entity.name + " holds " + std::to_string(slots.size()) + " slots for " +
                        std::to_string(entity.properties.size()) + " properties.");
  }
  startSlots();
}

PersistentModel::PersistentModel(const EntityDescription& entity)
    : entity_(&entity),
      slots_(nullptr),
      ownSlots_(std::make_unique<PropertySlot[]>(entity.properties.size())) {
  slots_ = ownSlots_.get();
  startSlots();
}

void PersistentModel::startSlots() {
  // Loaded objects take their row key instead; only new ones need a temporary one.
  if (!materializing) {
    temporaryKey_ = --lastTemporaryKey;
  }
  for (std::size_t i = 0; i < entity_->properties.size(); ++i) {
    const PropertyDescription& property = entity_->properties[i];
    PropertySlot& slot = slots_[i];
    if (property.kind == PropertyKind::Attribute) {
      if (!materializing) {
        slot.value() = property.defaultValue.make();
      }
    } else {
      slot.setKind(property.kind);
      if (property.kind == PropertyKind::ToMany) {
        slot.listPresent() = property.defaultValue.kind() != PropertyDefault::Kind::None;
      }
    }
  }
}

PersistentModel::~PersistentModel() = default;

namespace data_internal {
MaterializingScope::MaterializingScope() : previous_(materializing) { materializing = true; }
MaterializingScope::~MaterializingScope() { materializing = previous_; }
}  // namespace data_internal

PersistentIdentifier PersistentModel::persistentModelID() const {
  if (primaryKey_ != 0) {
    return {entity_->name, primaryKey_, false};
  }
  return {entity_->name, temporaryKey_, true};
}

bool PersistentModel::hasChanges() const {
  return context_ != nullptr && context_->changed_.count(const_cast<PersistentModel*>(this)) != 0;
}

AttributeValue PersistentModel::value(std::size_t property) const {
  requireKind(*entity_, property, PropertyKind::Attribute);
  registrar_.access(property);
  return slots_[property].value();
}

void PersistentModel::setValue(std::size_t property, AttributeValue value) {
  requireKind(*entity_, property, PropertyKind::Attribute);
  PropertySlot& slot = slots_[property];
  bool differs = slot.value() != value;
  slot.value() = std::move(value);
  didChange(property);
  if (differs) {
    noteUpdated();
  }
}

std::shared_ptr<PersistentModel> PersistentModel::related(std::size_t property) const {
  requireKind(*entity_, property, PropertyKind::ToOne);
  registrar_.access(property);
  return slots_[property].target().lock();
}

std::optional<PersistentModel::ModelList> PersistentModel::relatedList(
    std::size_t property) const {
  requireKind(*entity_, property, PropertyKind::ToMany);
  registrar_.access(property);
  const PropertySlot& slot = slots_[property];
  if (!slot.listPresent()) {
    return std::nullopt;
  }
  return slot.list();
}

std::size_t PersistentModel::inverseIndex(std::size_t property) const {
  const PropertyDescription& description = entity_->properties[property];
  std::optional<std::size_t> index = description.destination().indexOf(description.inverse);
  if (!index) {
    throw Exception(kInternalInconsistencyException,
                    entity_->name + "." + description.name + " names no inverse on " +
                        description.destination().name + ".");
  }
  return *index;
}

void PersistentModel::noteUpdated() {
  if (context_ != nullptr) {
    context_->noteChanged(this);
  }
}

void PersistentModel::noteListChanged(std::size_t property) {
  if (context_ != nullptr) {
    context_->noteListChanged(this, property);
  }
}

void PersistentModel::adoptIntoContextOf(PersistentModel& other) {
  if (context_ != nullptr && other.context_ == nullptr) {
    context_->insert(other.shared_from_this());
  } else if (context_ == nullptr && other.context_ != nullptr) {
    other.context_->insert(shared_from_this());
  }
}

void PersistentModel::detachFromInverseList(std::size_t inverseOnTarget, PersistentModel* target) {
  // `target` holds this object in its list `inverseOnTarget`; take it out.
  PropertySlot& slot = target->slots_[inverseOnTarget];
  auto it = std::find_if(slot.list().begin(), slot.list().end(),
                         [this](const auto& member) { return member.get() == this; });
  if (it == slot.list().end()) {
    return;
  }
  // Keep this object alive while its last strong holder lets go of it.
  std::shared_ptr<PersistentModel> keep = *it;
  slot.list().erase(it);
  target->didChange(inverseOnTarget);
  target->noteListChanged(inverseOnTarget);
}

void PersistentModel::clearToOneSilently(std::size_t property) {
  slots_[property].target().reset();
  didChange(property);
  noteUpdated();
}

void PersistentModel::linkInverse(std::size_t property, PersistentModel* oldTarget,
                                  const std::shared_ptr<PersistentModel>& newTarget) {
  std::size_t inverse = inverseIndex(property);
  const PropertyDescription& inverseDescription = entity_->properties[property].destination()
                                                      .properties[inverse];
  bool inverseIsList = inverseDescription.kind == PropertyKind::ToMany;

  if (oldTarget != nullptr) {
    if (inverseIsList) {
      detachFromInverseList(inverse, oldTarget);
    } else if (oldTarget->slots_[inverse].target().lock().get() == this) {
      oldTarget->clearToOneSilently(inverse);
    }
  }
  if (!newTarget) {
    return;
  }
  if (inverseIsList) {
    PropertySlot& slot = newTarget->slots_[inverse];
    bool present = std::any_of(slot.list().begin(), slot.list().end(),
                               [this](const auto& member) { return member.get() == this; });
    if (!present) {
      slot.list().push_back(shared_from_this());
      slot.listPresent() = true;
      newTarget->didChange(inverse);
      newTarget->noteListChanged(inverse);
    }
  } else {
    // One-to-one: the target's previous partner loses its link to the target.
    std::shared_ptr<PersistentModel> previous = newTarget->slots_[inverse].target().lock();
    if (previous.get() != this) {
      if (previous) {
        previous->clearToOneSilently(property);
      }
      newTarget->slots_[inverse].target() = weak_from_this();
      newTarget->didChange(inverse);
      newTarget->noteUpdated();
    }
  }
}

void PersistentModel::setRelated(std::size_t property,
                                 const std::shared_ptr<PersistentModel>& target) {
  requireKind(*entity_, property, PropertyKind::ToOne);
  const PropertyDescription& description = entity_->properties[property];
  if (target) {
    requireDestination(description, *target);
  }
  PropertySlot& slot = slots_[property];
  std::shared_ptr<PersistentModel> old = slot.target().lock();
  if (old == target) {
    didChange(property);
    return;
  }
  // Hold this object: leaving the old owner's list may drop its last strong reference.
  std::shared_ptr<PersistentModel> self = shared_from_this();
  slot.target() = target;
  didChange(property);
  noteUpdated();
  linkInverse(property, old.get(), target);
  if (target) {
    adoptIntoContextOf(*target);
  }
}

void PersistentModel::setRelatedList(std::size_t property, const std::optional<ModelList>& list) {
  requireKind(*entity_, property, PropertyKind::ToMany);
  const PropertyDescription& description = entity_->properties[property];
  std::size_t inverse = inverseIndex(property);

  ModelList newList;
  std::unordered_set<PersistentModel*> newMembers;
  if (list) {
    newList.reserve(list->size());
    for (const auto& member : *list) {
      if (!member) {
        continue;
      }
      requireDestination(description, *member);
      if (newMembers.insert(member.get()).second) {
        newList.push_back(member);
      }
    }
  }

  PropertySlot& slot = slots_[property];
  ModelList oldList = std::move(slot.list());
  std::unordered_set<PersistentModel*> oldMembers;
  oldMembers.reserve(oldList.size());
  for (const auto& member : oldList) {
    oldMembers.insert(member.get());
  }

  std::shared_ptr<PersistentModel> self = shared_from_this();
  slot.list() = newList;
  slot.listPresent() = list.has_value();
  didChange(property);
  noteListChanged(property);

  for (const auto& member : oldList) {
    if (newMembers.count(member.get()) == 0 &&
        member->slots_[inverse].target().lock().get() == this) {
      member->clearToOneSilently(inverse);
    }
  }
  for (const auto& member : newList) {
    if (oldMembers.count(member.get()) != 0) {
      continue;
    }
    std::shared_ptr<PersistentModel> previousOwner = member->slots_[inverse].target().lock();
    if (previousOwner.get() != this) {
      if (previousOwner) {
        member->detachFromInverseList(property, previousOwner.get());
      }
      member->slots_[inverse].target() = self;
      member->didChange(inverse);
      member->noteUpdated();
    }
    adoptIntoContextOf(*member);
  }
}

}  // namespace platform
