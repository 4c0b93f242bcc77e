#include "platform/data/model_context.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

#include "platform/data/internal/model_access.h"
#include "platform/data/internal/sqlite_store.h"
#include "platform/data/model_container.h"
#include "platform/data/save_reporter.h"
#include "platform/dispatch/queue.h"

namespace platform {

using data_internal::ModelAccess;

ModelContext::ModelContext() : alive_(std::make_shared<bool>(true)) {}

ModelContext::ModelContext(std::shared_ptr<data_internal::SqliteStore> store)
    : store_(std::move(store)), alive_(std::make_shared<bool>(true)) {}

ModelContext::~ModelContext() {
  if (autosaveObserver_) {
    if (hasChanges()) {
      if (Status saved = save(); !saved.ok()) {
        std::fprintf(stderr, "Error saving: %s\n", saved.error().localizedDescription().c_str());
      }
    }
    MainLoop::removeTurnEndObserver(*autosaveObserver_);
    autosaveObserver_.reset();
  }
  for (auto& registry : registered_) {
    for (auto& model : registry.models) {
      model->context_ = nullptr;
    }
  }
}

ModelContext::Registry& ModelContext::registry(const EntityDescription& entity) {
  for (Registry& registry : registered_) {
    if (registry.entity == &entity) {
      return registry;
    }
  }
  return registered_.emplace_back(Registry{&entity, {}, 0});
}

const ModelContext::Registry* ModelContext::findRegistry(const EntityDescription& entity) const {
  for (const Registry& registry : registered_) {
    if (registry.entity == &entity) {
      return &registry;
    }
  }
  return nullptr;
}

const std::shared_ptr<PersistentModel>* ModelContext::registered(const EntityDescription& entity,
                                                                 std::int64_t key) const {
  const Registry* found = findRegistry(entity);
  if (found == nullptr) {
    return nullptr;
  }
  auto it = std::lower_bound(found->models.begin(), found->models.end(), key,
                             [](const auto& model, std::int64_t k) { return model->primaryKey_ < k; });
  return it != found->models.end() && (*it)->primaryKey_ == key ? &*it : nullptr;
}

const ObservationRegistrar& ModelContext::membership(const EntityDescription& entity) const {
  for (const Membership& membership : memberships_) {
    if (membership.entity == &entity) {
      return *membership.registrar;
    }
  }
  return *memberships_.emplace_back(Membership{&entity, std::make_unique<ObservationRegistrar>()}).registrar;
}

void ModelContext::membershipChanged(const EntityDescription& entity) const {
  for (const Membership& membership : memberships_) {
    if (membership.entity == &entity) {
      membership.registrar->didChange(0);
      return;
    }
  }
}

void ModelContext::setAutosaveEnabled(bool enabled) {
  if (enabled == autosaveEnabled()) {
    return;
  }
  if (!enabled) {
    MainLoop::removeTurnEndObserver(*autosaveObserver_);
    autosaveObserver_.reset();
    return;
  }
  std::weak_ptr<bool> alive = alive_;
  autosaveObserver_ = MainLoop::addTurnEndObserver([this, alive] {
    if (alive.expired() || !hasChanges()) {
      return;
    }
    Status saved = save();
    if (!saved.ok()) std::fprintf(stderr, "Error saving: %s\n", saved.error().localizedDescription().c_str());
    showSaveOutcome(saved);
  });
}

void ModelContext::registerLoaded(const std::shared_ptr<PersistentModel>& model) {
  model->context_ = this;
  model->isPersisted_ = true;
  std::int64_t key = model->primaryKey_;
  Registry& registry = this->registry(model->entity());
  if (registry.models.empty() || registry.models.back()->primaryKey_ < key) {
    registry.models.push_back(model);  // rows arrive in key order
  } else {
    auto at = std::lower_bound(
        registry.models.begin(), registry.models.end(), key,
        [](const auto& registered, std::int64_t k) { return registered->primaryKey_ < k; });
    if (at != registry.models.end() && (*at)->primaryKey_ == key) {
      *at = model;
    } else {
      registry.models.insert(at, model);
    }
  }
  registry.lastPrimaryKey = std::max(registry.lastPrimaryKey, key);
}

void ModelContext::insert(const std::shared_ptr<PersistentModel>& model) {
  if (!model || model->context_ == this) {
    return;
  }
  if (model->context_ != nullptr) {
    throw Exception(kInvalidArgumentException,
                    "Cannot insert a " + model->entity().name + " that belongs to another context.");
  }
  std::vector<std::shared_ptr<PersistentModel>> pending{model};
  std::vector<const EntityDescription*> touched;
  while (!pending.empty()) {
    std::shared_ptr<PersistentModel> current = std::move(pending.back());
    pending.pop_back();
    if (current->context_ != nullptr) {
      continue;
    }
    const EntityDescription& entity = current->entity();
    // Always a new row, even for an object that once belonged to another context.
    current->context_ = this;
    Registry& registry = this->registry(entity);
    current->primaryKey_ = ++registry.lastPrimaryKey;
    current->isPersisted_ = false;
    current->isDeleted_ = false;
    registry.models.push_back(current);  // the highest key yet
    changed_.insert(current.get());
    if (std::find(touched.begin(), touched.end(), &entity) == touched.end()) {
      touched.push_back(&entity);
    }
    for (std::size_t i = 0; i < entity.properties.size(); ++i) {
      const PropertyDescription& property = entity.properties[i];
      if (property.kind == PropertyKind::ToOne) {
        if (auto target = current->slots_[i].target().lock(); target && !target->context_) {
          pending.push_back(std::move(target));
        }
      } else if (property.kind == PropertyKind::ToMany) {
        if (!current->slots_[i].list().empty()) {
          changedLists_.insert({current.get(), i});
        }
        for (const auto& member : current->slots_[i].list()) {
          if (!member->context_) {
            pending.push_back(member);
          }
        }
      }
    }
  }
  // Told once everything is registered, so an observer that queries sees the whole graph.
  for (const EntityDescription* entity : touched) {
    membershipChanged(*entity);
  }
}

void ModelContext::deleteModel(const std::shared_ptr<PersistentModel>& model) {
  if (!model || model->context_ != this || model->isDeleted_) {
    return;
  }
  model->isDeleted_ = true;
  changed_.insert(model.get());
  const EntityDescription& entity = model->entity();
  for (std::size_t i = 0; i < entity.properties.size(); ++i) {
    const PropertyDescription& property = entity.properties[i];
    if (property.kind == PropertyKind::ToMany) {
      std::size_t inverse = model->inverseIndex(i);
      PersistentModel::ModelList members = model->slots_[i].list();
      if (members.empty()) {
        continue;
      }
      for (const auto& member : members) {
        if (property.deleteRule() == DeleteRule::Cascade) {
          deleteModel(member);
        }
        if (member->slots_[inverse].target().lock() == model) {
          member->clearToOneSilently(inverse);
        }
      }
      model->slots_[i].list().clear();
      model->didChange(i);
    } else if (property.kind == PropertyKind::ToOne) {
      std::shared_ptr<PersistentModel> target = model->slots_[i].target().lock();
      if (!target) {
        continue;
      }
      model->setRelated(i, nullptr);
      if (property.deleteRule() == DeleteRule::Cascade) {
        deleteModel(target);
      }
    }
  }
  changedLists_.erase(changedLists_.lower_bound({model.get(), 0}),
                      changedLists_.upper_bound({model.get(), entity.properties.size()}));
  membershipChanged(entity);
}

std::vector<std::shared_ptr<PersistentModel>> ModelContext::registeredModels(
    const EntityDescription& entity) const {
  std::vector<std::shared_ptr<PersistentModel>> result;
  if (ObservationRegistrar::isTracking()) {
    membership(entity).access(0);
  }
  const Registry* found = findRegistry(entity);
  if (found == nullptr) {
    return result;
  }
  result.reserve(found->models.size());
  for (const auto& model : found->models) {
    if (!model->isDeleted_) {
      result.push_back(model);
    }
  }
  return result;
}

void ModelContext::deleteOrphans() {
  // Only a change can make an orphan (a new object, or one whose owner link was cleared).
  std::vector<std::shared_ptr<PersistentModel>> orphans;
  for (PersistentModel* model : changed_) {
    const EntityDescription& entity = model->entity();
    if (model->isDeleted_ || entity.ownerRelationship.empty()) {
      continue;
    }
    std::optional<std::size_t> owner = entity.indexOf(entity.ownerRelationship);
    if (owner && !model->slots_[*owner].target().lock()) {
      orphans.push_back(model->shared_from_this());
    }
  }
  for (const auto& orphan : orphans) {
    deleteModel(orphan);
  }
}

void ModelContext::assignListPositions() {
  // Positions only need to increase along a list, so members that are already in order keep
  // theirs and only moved or new members get a new one (and a row write).
  for (const auto& [owner, property] : changedLists_) {
    if (owner->isDeleted_) {
      continue;
    }
    std::size_t inverse = owner->inverseIndex(property);
    std::int64_t previous = 0;
    for (const auto& member : owner->slots_[property].list()) {
      std::int64_t& position = member->slots_[inverse].position();
      if (position <= previous) {
        position = previous + 1;
        changed_.insert(member.get());
      }
      previous = position;
    }
  }
  changedLists_.clear();
}

Status ModelContext::save() {
  deleteOrphans();
  if (!hasChanges()) {
    return {};
  }
  if (readOnly_) {
    return Error(kModelStoreErrorDomain, static_cast<long>(ModelStoreError::SaveFailed),
                 {{kErrorLocalizedDescriptionKey, PlistValue("This store does not allow saving.")}});
  }
  std::vector<PersistentModel*> rows = pendingRows();
  if (rows.empty()) {
    return {};  // only lists were rewritten with the same order
  }
  if (store_) {
    if (Status written = store_->write(rows, saveFault_); !written.ok()) {
      return written;
    }
    store_->checkpointSoon();
  }
  finishSave();
  return {};
}

std::vector<PersistentModel*> ModelContext::pendingRows() {
  deleteOrphans();
  assignListPositions();
  // Deterministic order: by entity, then row key.
  std::vector<PersistentModel*> rows(changed_.begin(), changed_.end());
  std::sort(rows.begin(), rows.end(), [](const PersistentModel* a, const PersistentModel* b) {
    return std::forward_as_tuple(a->entity().name, a->primaryKey_) <
           std::forward_as_tuple(b->entity().name, b->primaryKey_);
  });
  return rows;
}

void ModelContext::finishSave() {
  std::vector<std::shared_ptr<PersistentModel>> released;
  bool anyDeleted = false;
  for (PersistentModel* model : changed_) {
    if (model->isDeleted_) {
      anyDeleted = true;
    } else {
      model->isPersisted_ = true;
    }
  }
  if (anyDeleted) {
    // Every deleted object is in `changed_` until this save, so one sweep per entity finds
    // them all.
    for (Registry& registry : registered_) {
      auto kept = std::stable_partition(registry.models.begin(), registry.models.end(),
                                        [](const auto& model) { return !model->isDeleted_; });
      for (auto it = kept; it != registry.models.end(); ++it) {
        (*it)->context_ = nullptr;
        (*it)->isPersisted_ = false;
        released.push_back(std::move(*it));
      }
      registry.models.erase(kept, registry.models.end());
    }
  }
  changed_.clear();
  // `released` lets go of the deleted objects here, after the bookkeeping is done.
}

}  // namespace platform
