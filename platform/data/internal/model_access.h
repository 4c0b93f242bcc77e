// Private access to a PersistentModel's backing data for the store and the context, which
// fill and read it without observation or change tracking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/data/model_context.h"
#include "platform/data/persistent_model.h"

namespace platform::data_internal {

// While one exists on a thread, new objects skip their initial values (the store is about
// to fill every attribute from a row).
class MaterializingScope {
 public:
  MaterializingScope();
  ~MaterializingScope();
  MaterializingScope(const MaterializingScope&) = delete;
  MaterializingScope& operator=(const MaterializingScope&) = delete;

 private:
  bool previous_;
};

struct ModelAccess {
  static AttributeValue& value(PersistentModel& m, std::size_t i) { return m.slots_[i].value(); }
  static std::shared_ptr<PersistentModel> target(const PersistentModel& m, std::size_t i) {
    return m.slots_[i].target().lock();
  }
  static void setTarget(PersistentModel& m, std::size_t i,
                        const std::shared_ptr<PersistentModel>& target) {
    m.slots_[i].target() = target;
  }
  static std::int64_t& position(PersistentModel& m, std::size_t i) {
    return m.slots_[i].position();
  }
  static PersistentModel::ModelList& list(PersistentModel& m, std::size_t i) {
    return m.slots_[i].list();
  }
  static std::int64_t primaryKey(const PersistentModel& m) { return m.primaryKey_; }
  static void setPrimaryKey(PersistentModel& m, std::int64_t key) { m.primaryKey_ = key; }
  static bool isPersisted(const PersistentModel& m) { return m.isPersisted_; }
  static ModelContext* context(const PersistentModel& m) { return m.context_; }
  static void registerLoaded(ModelContext& context, const std::shared_ptr<PersistentModel>& m) {
    context.registerLoaded(m);
  }
  static void noteChanged(ModelContext& context, PersistentModel* m) { context.noteChanged(m); }
  static const std::shared_ptr<PersistentModel>* registered(const ModelContext& context,
                                                            const EntityDescription& entity,
                                                            std::int64_t key) {
    return context.registered(entity, key);
  }
  // Every registered object of `entity`, deleted ones included, in row-key order.
  static const std::vector<std::shared_ptr<PersistentModel>>& registeredModels(
      const ModelContext& context, const EntityDescription& entity) {
    static const std::vector<std::shared_ptr<PersistentModel>> none;
    const ModelContext::Registry* registry = context.findRegistry(entity);
    return registry ? registry->models : none;
  }
  // The registered objects of `entity`, made empty when there are none yet.
  static const std::vector<std::shared_ptr<PersistentModel>>& registryOf(
      ModelContext& context, const EntityDescription& entity) {
    return context.registry(entity).models;
  }
  static bool hasTarget(const PersistentModel& m, std::size_t i) {
    return !m.slots_[i].target().expired();
  }
  static std::size_t inverseIndex(const PersistentModel& m, std::size_t i) {
    return m.inverseIndex(i);
  }
};

}  // namespace platform::data_internal
