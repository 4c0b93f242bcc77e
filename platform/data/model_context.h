// ModelContext: the working set of a store's objects, with insert, delete, queries and save.
//
// The main context of a ModelContainer holds the whole object graph, loaded when the
// container opens, and answers queries in memory, unsaved changes included. `save()` writes
// the difference since the last save to the store in one transaction: only rows of objects
// that were inserted, changed or deleted are written.
//
//   context.insert(profile);                       // and everything linked to it
//   auto bills = context.fetch(FetchDescriptor<BillEntity>{
//       .predicate = [](const BillEntity& b) { return b.cost() > 10; },
//       .sortBy = {[](const BillEntity& a, const BillEntity& b) { return a.name() < b.name(); }}});
//   if (!context.save().ok()) { ... }              // memory keeps the change; retry later
//
// Deleting applies each relationship's delete rule and clears every link to the deleted
// object. At save, objects whose owner link (EntityDescription::ownerRelationship) is empty
// are deleted first. A failed save changes nothing in memory or on disk; the next save
// writes everything still pending.
//
// Queries are observed: a fetch made inside withObservationTracking (a render) records the
// entity it asked for, and inserting or deleting an object of that entity fires the tracking,
// wherever the change is made. What a predicate or a sort reads is tracked like any other read,
// so a change that moves an object into or out of a result fires it too.
//
// Automatic saving: with `autosaveEnabled`, the context saves at the end of every
// main-loop turn that left changes, and when it is destroyed. A failed automatic save is
// written to standard error, shown to the user (showSaveOutcome in save_reporter.h) and
// retried at the next turn end.
//
// Threads: a context and its objects are used on one thread; the main context on the main
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/observation/observation.h"
#include "platform/data/persistent_model.h"
#include "platform/foundation/expected.h"

namespace platform {

namespace data_internal {
class SqliteStore;
}

// The steps of a save at which a test can make it fail.
enum class SaveStep { BeginTransaction, WriteRow, Commit };

// A query over the objects of one entity class `T`. `predicate` (when set) keeps the objects
// it accepts; `sortBy` orders the result by each comparator in turn (a strict "less than");
// objects equal under every comparator keep the order in which they were inserted.
// `fetchLimit` (when set) keeps only that many from the start.
template <class T>
struct FetchDescriptor {
  std::function<bool(const T&)> predicate;
  std::vector<std::function<bool(const T&, const T&)>> sortBy;
  std::optional<std::size_t> fetchLimit;
};

class ModelContext {
 public:
  // A context of detached objects only, without a store behind it (save() writes nothing).
  ModelContext();
  ~ModelContext();
  ModelContext(const ModelContext&) = delete;
  ModelContext& operator=(const ModelContext&) = delete;

  // Registers `model` and every object reachable through its relationships. Inserting an
  // object that is already registered does nothing.
  void insert(const std::shared_ptr<PersistentModel>& model);
  // Marks `model` deleted, applies its delete rules and clears every link to it. The row
  // goes at the next save; until then the object is skipped by queries.
  void deleteModel(const std::shared_ptr<PersistentModel>& model);

  // Writes every pending change in one transaction. On failure returns the error and leaves
  // both memory and the store as they were, so the next save retries the same changes.
  Status save();
  // True while anything is inserted, changed or deleted and not yet saved.
  bool hasChanges() const { return !changed_.empty() || !changedLists_.empty(); }

  // Every registered, not deleted object of entity class T that the descriptor selects.
  template <class T>
  std::vector<std::shared_ptr<T>> fetch(const FetchDescriptor<T>& descriptor = {}) const {
    std::vector<std::shared_ptr<T>> result;
    for (const auto& model : registeredModels(T::entityDescription())) {
      auto typed = std::static_pointer_cast<T>(model);
      if (!descriptor.predicate || descriptor.predicate(*typed)) {
        result.push_back(std::move(typed));
      }
    }
    if (!descriptor.sortBy.empty()) {
      std::stable_sort(result.begin(), result.end(), [&](const auto& a, const auto& b) {
        for (const auto& less : descriptor.sortBy) {
          if (less(*a, *b)) return true;
          if (less(*b, *a)) return false;
        }
        return false;
      });
    }
    if (descriptor.fetchLimit && result.size() > *descriptor.fetchLimit) {
      result.resize(*descriptor.fetchLimit);
    }
    return result;
  }
  template <class T>
  std::size_t fetchCount(const FetchDescriptor<T>& descriptor = {}) const {
    return fetch(descriptor).size();
  }

  // Registered, not deleted objects of one entity, in the order they were inserted. Inside a
  // tracking scope, records that the entity's set of objects was read.
  std::vector<std::shared_ptr<PersistentModel>> registeredModels(
      const EntityDescription& entity) const;

  bool autosaveEnabled() const { return autosaveObserver_.has_value(); }
  // Turns the turn-end automatic save on or off. Call on the main thread.
  void setAutosaveEnabled(bool enabled);

  // Makes saves fail at a chosen step: `fault` is asked at each step (for WriteRow, once per
  // row) and a true answer fails the save there. An empty function turns it off. For tests.
  void setSaveFaultInjection(std::function<bool(SaveStep)> fault) {
    saveFault_ = std::move(fault);
  }

 private:
  friend class ModelContainer;
  friend class PersistentModel;
  friend struct data_internal::ModelAccess;

  explicit ModelContext(std::shared_ptr<data_internal::SqliteStore> store);

  void registerLoaded(const std::shared_ptr<PersistentModel>& model);
  void noteChanged(PersistentModel* model) { changed_.insert(model); }
  void noteListChanged(PersistentModel* model, std::size_t property) {
    changedLists_.insert({model, property});
  }
  void deleteOrphans();
  // Tells whoever tracked a query of `entity` that its set of objects changed.
  void membershipChanged(const EntityDescription& entity) const;
  void assignListPositions();
  void finishSave();
  // The rows a save would write now (inserted, changed or deleted), in the order it writes
  // them; empty when there is nothing to save.
  std::vector<PersistentModel*> pendingRows();

  // The registered objects of one entity, in row-key order (which is insertion order: new
  // objects take keys above every loaded one).
  struct Registry {
    const EntityDescription* entity;
    std::vector<std::shared_ptr<PersistentModel>> models;
    std::int64_t lastPrimaryKey = 0;
  };
  Registry& registry(const EntityDescription& entity);
  const Registry* findRegistry(const EntityDescription& entity) const;
  // The registered object of `entity` with row key `key`, or nullptr.
  const std::shared_ptr<PersistentModel>* registered(const EntityDescription& entity,
                                                     std::int64_t key) const;

  // Per entity, the registrar of its set of objects: queries record a read of it, inserts
  // and deletes a change. Made when first needed.
  struct Membership {
    const EntityDescription* entity;
    std::unique_ptr<ObservationRegistrar> registrar;
  };
  const ObservationRegistrar& membership(const EntityDescription& entity) const;

  std::shared_ptr<data_internal::SqliteStore> store_;
  // A handful of entities: a flat list searched in order beats a map.
  std::vector<Registry> registered_;
  mutable std::vector<Membership> memberships_;
  std::unordered_set<PersistentModel*> changed_;
  std::set<std::pair<PersistentModel*, std::size_t>> changedLists_;
  std::function<bool(SaveStep)> saveFault_;
  std::optional<std::uint64_t> autosaveObserver_;
  bool readOnly_ = false;
  std::shared_ptr<bool> alive_;
};

}  // namespace platform
