// The interfaces the transport's parts meet through: lifecycle, the application, uploaders,
// storages and their delegate, metrics controllers and the upload coordinator; with the
// storage's value types (selectors, batches, metadata).
//
// Optional operations of the platform's protocols are virtual members with empty defaults;
// respondsToLifecycleOperation() says which of the lifecycle ones an object implements, as
// callers pass by those that it does not.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/background_tasks/background_tasks.h"
#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/keyed_archiver.h"
#include "sdk-core/promises/promise.h"
#include "transport/events/event.h"
#include "transport/events/files.h"

class ETApplication;

// ---- Lifecycle and application --------------------------------------------------------

enum class ETLifecycleOperation { WillBackground, WillForeground, WillTerminate };

class ETLifecycleProtocol {
 public:
  virtual ~ETLifecycleProtocol() = default;
  virtual bool respondsToLifecycleOperation(ETLifecycleOperation operation) const { return false; }
  virtual void appWillBackground(const std::shared_ptr<ETApplication>& application) {}
  virtual void appWillForeground(const std::shared_ptr<ETApplication>& application) {}
  virtual void appWillTerminate(const std::shared_ptr<ETApplication>& application) {}

  // Calls the member of `operation` when this object responds to it; answers whether it did.
  bool performLifecycleOperation(ETLifecycleOperation operation, const std::shared_ptr<ETApplication>& application);
};

using ETBackgroundIdentifier = platform::BackgroundTaskIdentifier;
inline constexpr ETBackgroundIdentifier ETBackgroundIdentifierInvalid = 0;

class ETApplicationProtocol {
 public:
  virtual ~ETApplicationProtocol() = default;
  // 0 when no task could be begun.
  virtual ETBackgroundIdentifier beginBackgroundTaskWithName(const std::string& name,
                                                             std::function<void()> expirationHandler) = 0;
  virtual void endBackgroundTask(ETBackgroundIdentifier identifier) = 0;
  virtual bool isRunningInBackground() const = 0;
};

// One background task of an application, begun by begin() and ended once: by end() or,
// when time runs out first, by its expiration handler. Safe from any thread.
class ETBackgroundTask {
 public:
  static std::shared_ptr<ETBackgroundTask> begin(const std::shared_ptr<ETApplicationProtocol>& application,
                                                 const std::string& name);
  // Ends the task unless it has ended already; answers whether this call ended it.
  bool end();

 private:
  std::weak_ptr<ETApplicationProtocol> application_;
  std::atomic<ETBackgroundIdentifier> identifier_{ETBackgroundIdentifierInvalid};
};

// ---- Uploaders and the upload coordinator ---------------------------------------------

// Bit flags of the network and urgency conditions of an upload; the upload coordinator
// defines their values.
using ETUploadConditions = long;

class ETUploader : public ETLifecycleProtocol {
 public:
  virtual void uploadTarget(long target, ETUploadConditions conditions) = 0;
};

class ETUploadCoordinatorProtocol : public ETLifecycleProtocol {
 public:
  // Asks for an upload of the target now (the storage calls it for tier-4 events).
  virtual void forceUploadForTarget(long target) = 0;
};

// The process's upload coordinator: none until the upload library installs it at start-up.
std::shared_ptr<ETUploadCoordinatorProtocol> ETSharedUploadCoordinator();
void ETSetSharedUploadCoordinator(std::shared_ptr<ETUploadCoordinatorProtocol> coordinator);

// ---- Storage ---------------------------------------------------------------------------

class ETStorageProtocol;

// Told of events the storage dropped; called on the storage queue.
class ETStorageDelegate {
 public:
  virtual ~ETStorageDelegate() = default;
  virtual void storageDidRemoveExpiredEvents(ETStorageProtocol& storage, const ETEventSet& events) = 0;
  virtual void storageDidDropEvent(ETStorageProtocol& storage, const std::shared_ptr<ETEvent>& event) = 0;
};

// Which stored events of a target a batch takes; an absent or empty set does not restrict.
class ETStorageEventSelector {
 public:
  ETStorageEventSelector(long target, std::optional<std::set<std::string>> eventIDs,
                         std::optional<std::set<std::string>> mappingIDs, std::optional<std::set<long>> qosTiers)
      : selectedTarget(target),
        selectedEventIDs(std::move(eventIDs)),
        selectedMappingIDs(std::move(mappingIDs)),
        selectedQosTiers(std::move(qosTiers)) {}
  static std::shared_ptr<ETStorageEventSelector> eventSelectorForTarget(long target) {
    return std::make_shared<ETStorageEventSelector>(target, std::nullopt, std::nullopt, std::nullopt);
  }

  const long selectedTarget;
  const std::optional<std::set<std::string>> selectedEventIDs;
  const std::optional<std::set<std::string>> selectedMappingIDs;
  const std::optional<std::set<long>> selectedQosTiers;
};

using ETBatchID = int64_t;
using ETBatchIDSet = std::set<ETBatchID>;

struct ETUploadBatch {
  ETUploadBatch(ETBatchID batchID, ETEventSet events) : batchID(batchID), events(std::move(events)) {}
  const ETBatchID batchID;
  const ETEventSet events;
};

struct ETStorageMetadata {
  static std::shared_ptr<ETStorageMetadata> metadataWithCurrentCacheSize(uint64_t current, uint64_t max) {
    return std::make_shared<ETStorageMetadata>(ETStorageMetadata{current, max});
  }
  const uint64_t currentCacheSize;
  const uint64_t maxCacheSize;
};

using ETStoreCompletion = std::function<void(bool wasWritten, const std::optional<platform::Error>& error)>;
using ETBatchCompletion = std::function<void(std::optional<ETBatchID> batchID, std::optional<ETEventSet> events)>;
using ETErrorCompletion = std::function<void(const std::optional<platform::Error>& error)>;
using ETLibraryDataFetch = std::function<void(const std::optional<ETBytes>& data, const std::optional<platform::Error>& error)>;
using ETLibraryDataNewValue = std::function<std::optional<ETBytes>()>;
// Given the stored metrics metadata (or none) and the read error, answers the new value, or
// none to keep what is stored.
using ETMetricsUpdateHandler = std::function<std::shared_ptr<platform::KeyedCoding>(
    const std::shared_ptr<platform::KeyedCoding>& fetched, const std::optional<platform::Error>& error)>;

// The class name under which the metrics metadata is archived.
inline constexpr const char* ETMetricsMetadataClassName = "ETMetricsMetadata";

// Completions run on the storage's queue, and the operations run in the order they are asked for.
class ETStorageProtocol : public ETLifecycleProtocol {
 public:
  virtual void storeEvent(const std::shared_ptr<ETEvent>& event, ETStoreCompletion onComplete) = 0;
  virtual void hasEventsForTarget(long target, std::function<void(bool hasEvents)> onComplete) = 0;
  virtual void batchWithEventSelector(const std::shared_ptr<ETStorageEventSelector>& selector,
                                      platform::Date batchExpiration, ETBatchCompletion onComplete) = 0;
  virtual void removeBatchWithID(ETBatchID batchID, bool deleteEvents, std::function<void()> onComplete) = 0;
  virtual void batchIDsForTarget(long target, std::function<void(std::optional<ETBatchIDSet>)> onComplete) = 0;
  virtual void checkForExpirations() = 0;
  virtual void storeLibraryData(const ETBytes& data, const std::string& key, ETErrorCompletion onComplete) = 0;
  virtual void libraryDataForKey(const std::string& key, ETLibraryDataFetch onFetchComplete,
                                 ETLibraryDataNewValue setNewValue) = 0;
  virtual void removeLibraryDataForKey(const std::string& key, ETErrorCompletion onComplete) = 0;
  virtual void storageSizeWithCallback(std::function<void(uint64_t size)> onComplete) = 0;
  virtual std::shared_ptr<ETStorageDelegate> delegate() const = 0;
  // Held weakly.
  virtual void setDelegate(const std::shared_ptr<ETStorageDelegate>& delegate) = 0;
};

// The promise forms; each promise settles on the storage's queue.
class ETStoragePromiseProtocol : public ETStorageProtocol {
 public:
  using ETStorageProtocol::batchIDsForTarget;
  using ETStorageProtocol::batchWithEventSelector;
  using ETStorageProtocol::hasEventsForTarget;
  using ETStorageProtocol::removeBatchWithID;

  // ETBatchIDSet, or nil.
  virtual PRMPromise::Ptr batchIDsForTarget(long target) = 0;
  // nil.
  virtual PRMPromise::Ptr removeBatchWithID(ETBatchID batchID, bool deleteEvents) = 0;
  // The null object.
  virtual PRMPromise::Ptr removeBatchesWithIDs(const ETBatchIDSet& batchIDs, bool deleteEvents) = 0;
  virtual PRMPromise::Ptr removeAllBatchesForTarget(long target, bool deleteEvents) = 0;
  // nil, or rejected with an archiving or writing error.
  virtual PRMPromise::Ptr fetchAndUpdateMetricsWithHandler(ETMetricsUpdateHandler handler) = 0;
  // std::shared_ptr<ETStorageMetadata>.
  virtual PRMPromise::Ptr fetchStorageMetadata() = 0;
  // bool.
  virtual PRMPromise::Ptr hasEventsForTarget(long target) = 0;
  // std::shared_ptr<ETUploadBatch>; rejected when no event is selected.
  virtual PRMPromise::Ptr batchWithEventSelector(const std::shared_ptr<ETStorageEventSelector>& selector,
                                                 platform::Date batchExpiration) = 0;
};

// ---- Metrics controllers --------------------------------------------------------------

class ETMetricsControllerProtocol : public ETStorageDelegate {
 public:
  virtual PRMPromise::Ptr logEventsDroppedForReason(long reason, const ETEventSet& events) = 0;
  virtual PRMPromise::Ptr getAndResetMetrics() = 0;
  virtual PRMPromise::Ptr offerMetrics(const PRMObject& metrics) = 0;
};
