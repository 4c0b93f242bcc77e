// ETFlatFileStorage: every stored event as one small file, grouped into batches for upload.
//
// Layout below the root R (<caches>/zideza-sdks-events for the shared storage):
//   R/ETFlatFileStorage/et_event_data/<target>/<event ID>-<tier>-<expiry s>-<encoded mapping ID>
//   R/ETFlatFileStorage/et_batch_data/<target>-<batch ID>-<expiry s>/<event file names>
//   R/ETFlatFileStorage/et_library_data/<key>
//   R/ETFlatFileStorage/.et_removed_data/<batch directory name>.<pid>.<n>  (deleted batches)
// Mapping IDs are percent-encoded in names except letters, marks, numbers and "-", so no
// mapping ID can leave its directory; event IDs and tiers have "/", "%" and "-" written %XX
// (platform::fileNameForID), so a name splits back into exactly the fields it was made of. A
// name that does not parse back exactly is never taken as expired: the sweep reads the file
// and puts its event back under the name its fields give, or removes a file that holds no
// event. A batch directory whose name does not parse has its events put back the same way. Event files hold the event's keyed archive, written
// atomically (hidden temporary, rename). The storage holds at most 20,000,000 bytes below R,
// as its size tracker counts them; an event that would pass that is refused (code 0) and
// reported to the delegate. Storing a tier-4 event asks the upload coordinator for an
// upload of its target.
//
// A batch moves the selected event files into its own directory, so later selections do not
// see them, and hands back their events; a selector that takes every event of its target
// takes the target's directory whole, in one rename (hidden temporaries go along and come
// back with the events). Removing it deletes them (the directory is renamed into the hidden
// removed-data directory, which nothing reads back, and its files are unlinked in the
// background; a start unlinks what a killed process left there), or moves them back
// under their names; a batch whose events could not all be moved back keeps its directory,
// so a later removal or the expiry sweep tries again, and the sweep removes those of its
// events that have expired by their own names. The sweep restores expired batches,
// removes expired events (reporting them to the delegate) and removes temporaries that a
// killed writer left behind more than a day ago.
//
// Threads: every file operation runs on the serial queue "ziz.ozudor.ETFlatFileStorage", in
// the order queued; completions, promise settlements and delegate calls happen there.
// storeEvent begins its background task on the caller's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/dispatch/queue.h"
#include "transport/events/directory_size_tracker.h"
#include "transport/events/protocols.h"

class ETRegistrar;

inline constexpr const char* ETFlatFileStorageErrorDomain = "ETFlatFileStorage";
inline constexpr const char* ETFlatFileStorageBatchIDCounterKey = "ETFlatFileStorageBatchIDCounter";
inline constexpr const char* ETMetricsMetadataLibraryKey = "metrics_metadata";

// An event file name, parsed. The mapping ID is still percent-encoded.
struct ETEventComponents {
  std::string eventID;
  long qosTier = 0;
  platform::Date expiration;
  std::string mappingID;
};

// A batch directory name, parsed.
struct ETBatchComponents {
  long target = 0;
  ETBatchID batchID = 0;
  platform::Date expiration;
};

class ETFlatFileStorage : public ETStoragePromiseProtocol, public std::enable_shared_from_this<ETFlatFileStorage> {
 public:
  static constexpr uint64_t kMaxStorageSizeBytes = 20000000;

  static std::shared_ptr<ETFlatFileStorage> sharedInstance();
  // Start-up: registers the shared storage for targets 999 to 1003, in that order.
  static void load(const std::shared_ptr<ETRegistrar>& registrar);

  // A storage below `root`; the shared one uses ETEventsRootURL(). Creates its directories.
  static std::shared_ptr<ETFlatFileStorage> make(std::filesystem::path root,
                                                 std::shared_ptr<ETApplicationProtocol> application = nullptr);

  // The three directories; each call creates the directory when it is missing.
  std::filesystem::path eventDataStoragePath() const;
  std::filesystem::path batchDataStoragePath() const;
  std::filesystem::path libraryDataStoragePath() const;
  std::filesystem::path pathForTarget(long target, const std::string& eventID, long qosTier,
                                      platform::Date expirationDate, const std::string& mappingID) const;
  std::filesystem::path batchPathForTarget(long target, ETBatchID batchID, platform::Date expirationDate) const;

  static std::optional<ETEventComponents> eventComponentsFromFilename(const std::string& name);
  static std::optional<ETBatchComponents> batchComponentsFromFilename(const std::string& name);
  static std::string encodedMappingID(const std::string& mappingID);
  static std::string decodedMappingID(const std::string& encoded);

  // ---- Storage ---------------------------------------------------------------------------
  void storeEvent(const std::shared_ptr<ETEvent>& event, ETStoreCompletion onComplete) override;
  void hasEventsForTarget(long target, std::function<void(bool hasEvents)> onComplete) override;
  void batchWithEventSelector(const std::shared_ptr<ETStorageEventSelector>& selector, platform::Date batchExpiration,
                              ETBatchCompletion onComplete) override;
  void removeBatchWithID(ETBatchID batchID, bool deleteEvents, std::function<void()> onComplete) override;
  // None when the batch directory cannot be listed or is empty.
  void batchIDsForTarget(long target, std::function<void(std::optional<ETBatchIDSet>)> onComplete) override;
  void checkForExpirations() override;
  void storeLibraryData(const ETBytes& data, const std::string& key, ETErrorCompletion onComplete) override;
  void libraryDataForKey(const std::string& key, ETLibraryDataFetch onFetchComplete,
                         ETLibraryDataNewValue setNewValue) override;
  // A missing key completes with no error.
  void removeLibraryDataForKey(const std::string& key, ETErrorCompletion onComplete) override;
  void storageSizeWithCallback(std::function<void(uint64_t size)> onComplete) override;
  std::shared_ptr<ETStorageDelegate> delegate() const override;
  void setDelegate(const std::shared_ptr<ETStorageDelegate>& delegate) override;

  // The batch-ID counter: hands out the stored value (0 at first) and stores the next one,
  // in one step of the queue. A stored value shorter than 4 bytes counts as 0; after
  // INT32_MAX the counter starts again at 0. A negative value, or one that a batch on disk
  // still has, is damaged: the counter goes on after the highest batch ID on disk (logged).
  void nextBatchID(std::function<void(std::optional<ETBatchID>)> onComplete);

  // ---- Promises --------------------------------------------------------------------------
  PRMPromise::Ptr batchIDsForTarget(long target) override;
  PRMPromise::Ptr removeBatchWithID(ETBatchID batchID, bool deleteEvents) override;
  PRMPromise::Ptr removeBatchesWithIDs(const ETBatchIDSet& batchIDs, bool deleteEvents) override;
  PRMPromise::Ptr removeAllBatchesForTarget(long target, bool deleteEvents) override;
  PRMPromise::Ptr fetchAndUpdateMetricsWithHandler(ETMetricsUpdateHandler handler) override;
  PRMPromise::Ptr fetchStorageMetadata() override;
  PRMPromise::Ptr hasEventsForTarget(long target) override;
  PRMPromise::Ptr batchWithEventSelector(const std::shared_ptr<ETStorageEventSelector>& selector,
                                         platform::Date batchExpiration) override;
  static platform::Error genericRejectedPromiseErrorWithReason(const std::string& reason);

  // ---- Steps of the queue ----------------------------------------------------------------
  // Event selection; an empty result when the target directory cannot be listed.
  void pathsForTarget(long target, std::optional<std::set<std::string>> eventIDs,
                      std::optional<std::set<long>> qosTiers, std::optional<std::set<std::string>> mappingIDs,
                      std::function<void(std::set<std::string> paths)> onComplete);
  std::optional<std::vector<std::filesystem::path>> batchDirPathsForBatchID(ETBatchID batchID,
                                                                            std::optional<platform::Error>* error) const;
  bool moveContentsOfDirectoryAtPath(const std::filesystem::path& source, const std::filesystem::path& destination,
                                     std::optional<platform::Error>* error) const;
  // Only on the storage queue.
  void syncThreadUnsafeRemoveBatchWithID(ETBatchID batchID, bool deleteEvents);
  // Where deleted batches wait for their files to be unlinked (see the header comment).
  std::filesystem::path removedDataPath() const { return removedDataPath_; }

  // ---- Lifecycle -------------------------------------------------------------------------
  bool respondsToLifecycleOperation(ETLifecycleOperation operation) const override {
    return operation == ETLifecycleOperation::WillBackground;
  }
  void appWillBackground(const std::shared_ptr<ETApplication>& application) override;

  const std::shared_ptr<platform::DispatchQueue>& storageQueue() const { return queue_; }
  // None until set: the shared coordinator is then asked at the time of use.
  std::shared_ptr<ETUploadCoordinatorProtocol> uploadCoordinator() const;
  void setUploadCoordinator(std::shared_ptr<ETUploadCoordinatorProtocol> coordinator);
  // Only on the storage queue.
  ETDirectorySizeTracker& sizeTracker() { return tracker_; }

  // Makes a move of an event file fail when the hook answers true (from, to), so the paths of
  // a batch that cannot be moved back are tested for real (nullptr: no fault).
  using MoveFaultHook = std::function<bool(const std::filesystem::path& from, const std::filesystem::path& to)>;
  void setMoveFault(MoveFaultHook hook);
  // How many event files batching has read from disk so far (events this storage wrote
  // recently are kept in memory and not read back).
  uint64_t eventFilesRead() const { return eventFilesRead_.load(); }

 private:
  ETFlatFileStorage(std::filesystem::path root, std::shared_ptr<ETApplicationProtocol> application);
  // Steps of the queue behind nextBatchID, pathsForTarget, libraryDataForKey and batching.
  std::optional<ETBatchID> syncThreadUnsafeNextBatchID();
  std::optional<ETBatchIDSet> syncThreadUnsafeBatchIDsForTarget(long target) const;
  std::set<std::string> syncThreadUnsafePathsForTarget(long target, const std::optional<std::set<std::string>>& eventIDs,
                                                       const std::optional<std::set<long>>& qosTiers,
                                                       const std::optional<std::set<std::string>>& mappingIDs);
  void syncThreadUnsafeLibraryDataForKey(const std::string& key, const ETLibraryDataFetch& onFetchComplete,
                                         const ETLibraryDataNewValue& setNewValue);
  ETEventSet syncThreadUnsafeBatch(const ETStorageEventSelector& selector, ETBatchID batchID,
                                   platform::Date batchExpiration);
  // Takes the whole directory of a target as the batch directory, in one rename; false when
  // it has nothing to take or the rename failed (nothing moved).
  bool takeTargetDirectory(long target, const std::filesystem::path& batchDirectory);
  // Deletes a batch directory: renamed into the removed-data directory at once, its files
  // unlinked in the background; in place when the rename fails.
  void deleteBatchDirectory(const std::filesystem::path& directory);
  // Unlinks what the removed-data directory holds, off the storage queue.
  void purgeRemovedData() const;
  // rename(2) through the fault hook.
  bool moveItem(const std::filesystem::path& from, const std::filesystem::path& to, std::optional<platform::Error>* error) const;
  void removeExpiredTemporaries(const std::filesystem::path& directory, bool recursive);
  // Steps of the sweep, on the storage queue. An event file whose name says it expired
  // before `now` is removed (and its event, when it reads, joins `expired`).
  void removeIfExpired(const std::filesystem::path& path, const ETEventComponents& components, double now,
                       ETEventSet& expired);
  // A file whose name does not parse back exactly: an event goes back into its target's
  // directory under the name its fields give (returned), anything else is removed.
  std::optional<std::filesystem::path> repairEventFile(const std::filesystem::path& path);
  // An entry of the batch directory whose name does not parse: its events go back into the
  // store and it is removed.
  void recoverUnnamedBatch(const std::filesystem::path& path);
  // An expired batch that kept its directory because a move back failed: its events that have
  // expired by their own names are removed, the rest wait for the next try.
  void expireEventsOfKeptBatch(const std::filesystem::path& directory, double now, ETEventSet& expired);
  // The IDs of the batch directories whose names parse.
  std::set<ETBatchID> batchIDsOnDisk() const;

  std::filesystem::path root_;
  std::filesystem::path eventDataPath_;
  std::filesystem::path batchDataPath_;
  std::filesystem::path libraryDataPath_;
  std::filesystem::path removedDataPath_;
  std::shared_ptr<platform::DispatchQueue> queue_;
  std::shared_ptr<ETApplicationProtocol> application_;
  ETDirectorySizeTracker tracker_;
  // The events this storage wrote most recently, by file name, as reading their archives
  // back would give them (ETEvent::archivedForm), so that batching need neither read nor
  // unarchive their files; the oldest go first past kKeptEventBytes of archives. Only on the
  // storage queue. A name is unique to its event and its file is never rewritten, so a kept
  // event is what the file holds for as long as the file exists.
  static constexpr size_t kKeptEventBytes = 1 << 20;
  struct KeptEvent {
    std::shared_ptr<ETEvent> event;
    size_t archiveSize = 0;
  };
  std::map<std::string, KeptEvent> keptEvents_;
  std::deque<std::string> keptOrder_;
  size_t keptBytes_ = 0;
  std::atomic<uint64_t> eventFilesRead_{0};
  void keepEvent(const std::string& name, std::shared_ptr<ETEvent> stored, size_t archiveSize);
  // The event of a file, kept (handed out once) or read from the file.
  std::shared_ptr<ETEvent> takeEvent(const std::filesystem::path& path, std::optional<platform::Error>* error);
  std::shared_ptr<ETEvent> takeEvent(const std::filesystem::path& directory, const std::string& name,
                                     std::optional<platform::Error>* error);

  mutable std::mutex mutex_;  // guards the fields below
  std::weak_ptr<ETStorageDelegate> delegate_;
  std::shared_ptr<ETUploadCoordinatorProtocol> coordinator_;
  MoveFaultHook moveFault_;
};
