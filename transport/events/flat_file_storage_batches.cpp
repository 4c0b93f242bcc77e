// Selection of stored events, batches and their removal, and the promise forms of the
// storage's operations.
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "transport/events/console.h"
#include "transport/events/flat_file_storage.h"

namespace fs = std::filesystem;

namespace {

// The names in `directory` that do not begin with '.' (hidden temporaries, "." and ".."),
// read with readdir: a directory_iterator builds and parses a whole path for each entry,
// which costs more than taking the event the entry names when it is kept in memory.
// std::nullopt when the directory cannot be opened (errno tells why).
std::optional<std::vector<std::string>> visibleNamesIn(const fs::path& directory) {
  std::vector<std::string> names;
  DIR* listing = ::opendir(directory.c_str());
  if (listing == nullptr) return std::nullopt;
  while (const dirent* entry = ::readdir(listing)) {
    if (entry->d_name[0] != '.' && entry->d_name[0] != '\0') names.emplace_back(entry->d_name);
  }
  ::closedir(listing);
  return names;
}

}  // namespace

// ---- Selection ----------------------------------------------------------------------------

void ETFlatFileStorage::pathsForTarget(long target, std::optional<std::set<std::string>> eventIDs,
                                       std::optional<std::set<long>> qosTiers,
                                       std::optional<std::set<std::string>> mappingIDs,
                                       std::function<void(std::set<std::string> paths)> onComplete) {
  queue_->async([self = shared_from_this(), target, eventIDs = std::move(eventIDs), qosTiers = std::move(qosTiers),
                 mappingIDs = std::move(mappingIDs), onComplete = std::move(onComplete)] {
    auto selected = self->syncThreadUnsafePathsForTarget(target, eventIDs, qosTiers, mappingIDs);
    if (onComplete) onComplete(std::move(selected));
  });
}

std::set<std::string> ETFlatFileStorage::syncThreadUnsafePathsForTarget(
    long target, const std::optional<std::set<std::string>>& eventIDs, const std::optional<std::set<long>>& qosTiers,
    const std::optional<std::set<std::string>>& mappingIDs) {
  std::set<std::string> selected;
  const fs::path directory = eventDataStoragePath() / std::to_string(target);
  std::error_code error;
  fs::create_directories(directory, error);
  const bool filterIDs = eventIDs && !eventIDs->empty();
  const bool filterTiers = qosTiers && !qosTiers->empty();
  const bool filterMappings = mappingIDs && !mappingIDs->empty();
  const auto names = visibleNamesIn(directory);
  if (!names) {
    ET_LOG_DEBUG("There was an error reading the contents of the target path: %s",
                 std::error_code(errno, std::generic_category()).message().c_str());
    return selected;
  }
  std::string prefix = directory.string();  // the entries' paths as `directory / name` spells them
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  for (const std::string& name : *names) {
    if (filterIDs || filterTiers || filterMappings) {
      auto components = eventComponentsFromFilename(name);
      if (!components) {
        ET_LOG_DEBUG("There was an error reading the filename components: %s", name.c_str());
        continue;
      }
      if (filterIDs && !eventIDs->contains(components->eventID)) continue;
      if (filterTiers && !qosTiers->contains(components->qosTier)) continue;
      if (filterMappings && !mappingIDs->contains(decodedMappingID(components->mappingID))) continue;
    }
    selected.insert(prefix + name);
  }
  return selected;
}

// ---- Batches ------------------------------------------------------------------------------

// One step of the storage queue: the next batch ID, then the selection and the moves. A
// selector that takes every event of its target takes the target's directory whole, in one
// rename; otherwise each selected file moves on its own.
void ETFlatFileStorage::batchWithEventSelector(const std::shared_ptr<ETStorageEventSelector>& selector,
                                               platform::Date batchExpiration, ETBatchCompletion onComplete) {
  queue_->async([self = shared_from_this(), selector, batchExpiration, onComplete] {
    const auto batchID = self->syncThreadUnsafeNextBatchID();
    ETEventSet events;
    if (batchID) events = self->syncThreadUnsafeBatch(*selector, *batchID, batchExpiration);
    if (!onComplete) return;
    if (events.empty()) {
      onComplete(std::nullopt, std::nullopt);
    } else {
      onComplete(batchID, std::move(events));
    }
  });
}

ETEventSet ETFlatFileStorage::syncThreadUnsafeBatch(const ETStorageEventSelector& selector, ETBatchID batchID,
                                                    platform::Date batchExpiration) {
  const fs::path batchDirectory = batchPathForTarget(selector.selectedTarget, batchID, batchExpiration);
  const bool takesEverything = (!selector.selectedEventIDs || selector.selectedEventIDs->empty()) &&
                               (!selector.selectedQosTiers || selector.selectedQosTiers->empty()) &&
                               (!selector.selectedMappingIDs || selector.selectedMappingIDs->empty());
  ETEventSet events;
  // The event of a file; an unreadable file is removed.
  auto readEvent = [this](const fs::path& directory, const std::string& name) {
    std::optional<platform::Error> readError;
    auto event = takeEvent(directory, name, &readError);
    if (!event) {
      ET_LOG_DEBUG("Error deserializing event: %s", readError ? readError->localizedDescription().c_str() : "(null)");
      std::error_code removeError;
      fs::remove(directory / name, removeError);
    }
    return event;
  };
  if (takesEverything && takeTargetDirectory(selector.selectedTarget, batchDirectory)) {
    for (const std::string& name : visibleNamesIn(batchDirectory).value_or(std::vector<std::string>{})) {
      if (auto event = readEvent(batchDirectory, name)) events.insert(std::move(event));
    }
    // Nothing readable: no batch. What is left (hidden temporaries) goes back.
    if (events.empty()) syncThreadUnsafeRemoveBatchWithID(batchID, false);
    return events;
  }
  const auto paths = syncThreadUnsafePathsForTarget(selector.selectedTarget, selector.selectedEventIDs,
                                                    selector.selectedQosTiers, selector.selectedMappingIDs);
  bool madeDirectory = false;  // made at the first event that joins
  for (const std::string& path : paths) {
    const fs::path source(path);
    auto event = readEvent(source.parent_path(), source.filename().string());
    if (!event) continue;
    if (!madeDirectory) {
      std::error_code directoryError;
      fs::create_directories(batchDirectory, directoryError);
      madeDirectory = true;
    }
    if (!moveItem(source, batchDirectory / source.filename(), nullptr)) {
      // Left where it is, the event stays out of this batch: it would otherwise be
      // uploaded with the batch and again with a later one.
      ET_LOG_DEBUG("An event file wasn't moveable into the batch directory: %s", path.c_str());
      continue;
    }
    events.insert(std::move(event));
  }
  return events;
}

bool ETFlatFileStorage::takeTargetDirectory(long target, const fs::path& batchDirectory) {
  const fs::path directory = eventDataStoragePath() / std::to_string(target);
  bool hasEvent = false;
  std::error_code error;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!name.empty() && name[0] != '.') {
      hasEvent = true;
      break;
    }
  }
  if (!hasEvent) return false;
  // The batch directory must not exist: rename(2) would replace an empty one.
  std::error_code existsError;
  if (fs::exists(batchDirectory, existsError) || existsError) return false;
  return moveItem(directory, batchDirectory, nullptr);
}

std::optional<std::vector<fs::path>> ETFlatFileStorage::batchDirPathsForBatchID(
    ETBatchID batchID, std::optional<platform::Error>* error) const {
  std::vector<fs::path> paths;
  std::error_code listError;
  fs::directory_iterator it(batchDataStoragePath(), listError);
  for (; !listError && it != fs::directory_iterator(); it.increment(listError)) {
    auto components = batchComponentsFromFilename(it->path().filename().string());
    if (components && components->batchID == batchID) paths.push_back(it->path());
  }
  if (listError) {
    if (error) *error = platform::Error::posix(listError.value(), batchDataPath_.string());
    return std::nullopt;
  }
  return paths;
}

bool ETFlatFileStorage::moveContentsOfDirectoryAtPath(const fs::path& source, const fs::path& destination,
                                                      std::optional<platform::Error>* error) const {
  std::vector<fs::path> entries;
  std::error_code listError;
  for (fs::directory_iterator it(source, listError), end; !listError && it != end; it.increment(listError)) {
    entries.push_back(it->path());
  }
  if (listError) {
    if (error) *error = platform::Error::posix(listError.value(), source.string());
    return false;
  }
  std::error_code directoryError;
  fs::create_directories(destination, directoryError);
  platform::PlistValue::Array failures;
  for (const fs::path& entry : entries) {
    std::optional<platform::Error> moveError;
    if (!moveItem(entry, destination / entry.filename(), &moveError)) {
      failures.push_back(platform::PlistValue(moveError ? moveError->localizedDescription() : std::string()));
    }
  }
  if (failures.empty()) return true;
  if (error) {
    *error = platform::Error(ETFlatFileStorageErrorDomain, -1,
                             {{platform::kErrorUnderlyingErrorKey, platform::PlistValue(std::move(failures))}});
  }
  return false;
}

void ETFlatFileStorage::syncThreadUnsafeRemoveBatchWithID(ETBatchID batchID, bool deleteEvents) {
  std::optional<platform::Error> listError;
  auto directories = batchDirPathsForBatchID(batchID, &listError);
  if (!directories) {
    ET_LOG_DEBUG("Failed to find event file paths for batchID: %" PRId64 ", error: %s", batchID,
                 listError ? listError->localizedDescription().c_str() : "(null)");
    return;
  }
  for (const fs::path& directory : *directories) {
    if (!deleteEvents) {
      auto components = batchComponentsFromFilename(directory.filename().string());
      std::optional<platform::Error> moveError;
      const bool moved = components && moveContentsOfDirectoryAtPath(
                                            directory, eventDataStoragePath() / std::to_string(components->target),
                                            &moveError);
      if (moved) {
        ET_LOG_DEBUG("Batched events at path: %s moved back to the storage: %s", directory.c_str(),
                     eventDataPath_.c_str());
      } else {
        // Keep the directory with what is left in it; a later removal or the sweep retries.
        ET_LOG_DEBUG("Error encountered whilst moving events back: %s",
                     moveError ? moveError->localizedDescription().c_str() : directory.c_str());
        continue;
      }
    }
    deleteBatchDirectory(directory);
  }
  tracker_.resetCachedSize();
}

void ETFlatFileStorage::deleteBatchDirectory(const fs::path& directory) {
  // The rename takes the batch out of the store at once and for good: nothing reads the
  // removed-data directory back, and a process killed before the unlinks leaves it to the
  // next start. Unlinking each file is slow on a busy disk, so it is not waited for.
  static std::atomic<uint64_t> counter{0};
  std::error_code directoryError;
  fs::create_directories(removedDataPath_, directoryError);
  const fs::path removed =
      removedDataPath_ / (directory.filename().string() + "." + std::to_string(::getpid()) + "." +
                          std::to_string(counter.fetch_add(1)));
  if (!directoryError && moveItem(directory, removed, nullptr)) {
    platform::DispatchQueue::global(platform::QoS::Background)->async([removed] {
      std::error_code ignored;
      fs::remove_all(removed, ignored);
    });
    ET_LOG_DEBUG("Batch removed at path: %s", directory.c_str());
    return;
  }
  std::error_code removeError;
  fs::remove_all(directory, removeError);
  if (!removeError) {
    ET_LOG_DEBUG("Batch removed at path: %s", directory.c_str());
  } else {
    ET_LOG_DEBUG("Failed to remove batch at path: %s", directory.c_str());
  }
}

void ETFlatFileStorage::purgeRemovedData() const {
  platform::DispatchQueue::global(platform::QoS::Background)->async([path = removedDataPath_] {
    std::error_code ignored;
    for (fs::directory_iterator it(path, ignored), end; !ignored && it != end; it.increment(ignored)) {
      std::error_code removeError;
      fs::remove_all(it->path(), removeError);
    }
  });
}

void ETFlatFileStorage::removeBatchWithID(ETBatchID batchID, bool deleteEvents, std::function<void()> onComplete) {
  queue_->async([self = shared_from_this(), batchID, deleteEvents, onComplete = std::move(onComplete)] {
    self->syncThreadUnsafeRemoveBatchWithID(batchID, deleteEvents);
    if (onComplete) onComplete();
  });
}

void ETFlatFileStorage::batchIDsForTarget(long target, std::function<void(std::optional<ETBatchIDSet>)> onComplete) {
  queue_->async([self = shared_from_this(), target, onComplete = std::move(onComplete)] {
    auto batchIDs = self->syncThreadUnsafeBatchIDsForTarget(target);
    if (onComplete) onComplete(std::move(batchIDs));
  });
}

std::optional<ETBatchIDSet> ETFlatFileStorage::syncThreadUnsafeBatchIDsForTarget(long target) const {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(batchDataStoragePath(), error), end; !error && it != end; it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  std::optional<ETBatchIDSet> batchIDs;
  if (!error && !names.empty()) {
    batchIDs.emplace();
    for (const std::string& name : names) {
      auto components = batchComponentsFromFilename(name);
      if (components && static_cast<int32_t>(components->target) == static_cast<int32_t>(target)) {
        batchIDs->insert(components->batchID);
      }
    }
  }
  return batchIDs;
}

void ETFlatFileStorage::hasEventsForTarget(long target, std::function<void(bool hasEvents)> onComplete) {
  queue_->async([self = shared_from_this(), target, onComplete = std::move(onComplete)] {
    const fs::path directory = self->eventDataStoragePath() / std::to_string(target);
    std::error_code error;
    fs::create_directories(directory, error);
    bool found = false;
    for (fs::recursive_directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
      const std::string name = it->path().filename().string();
      if (!name.empty() && name[0] != '.') {
        found = true;
        break;
      }
    }
    if (onComplete) onComplete(found);
  });
}

// ---- Promises -----------------------------------------------------------------------------

platform::Error ETFlatFileStorage::genericRejectedPromiseErrorWithReason(const std::string& reason) {
  return platform::Error(ETFlatFileStorageErrorDomain, -1,
                         {{platform::kErrorLocalizedFailureReasonKey, platform::PlistValue(reason)}});
}

PRMPromise::Ptr ETFlatFileStorage::batchIDsForTarget(long target) {
  auto promise = PRMPromise::pendingPromise();
  batchIDsForTarget(target, [promise](std::optional<ETBatchIDSet> batchIDs) {
    promise->fulfill(batchIDs ? PRMObject(std::move(*batchIDs)) : PRMObject());
  });
  return promise;
}

PRMPromise::Ptr ETFlatFileStorage::removeBatchWithID(ETBatchID batchID, bool deleteEvents) {
  auto promise = PRMPromise::pendingPromise();
  removeBatchWithID(batchID, deleteEvents, [promise] { promise->fulfill(PRMObject()); });
  return promise;
}

PRMPromise::Ptr ETFlatFileStorage::removeBatchesWithIDs(const ETBatchIDSet& batchIDs, bool deleteEvents) {
  std::vector<PRMObject> removals;
  for (ETBatchID batchID : batchIDs) removals.emplace_back(removeBatchWithID(batchID, deleteEvents));
  return PRMPromise::allOn(queue_, std::move(removals))->thenOn(queue_, [](const PRMObject&) {
    return PRMObject::null();
  });
}

// One step of the queue: the listing and every removal.
PRMPromise::Ptr ETFlatFileStorage::removeAllBatchesForTarget(long target, bool deleteEvents) {
  auto promise = PRMPromise::pendingPromise();
  queue_->async([self = shared_from_this(), promise, target, deleteEvents] {
    if (auto batchIDs = self->syncThreadUnsafeBatchIDsForTarget(target)) {
      for (ETBatchID batchID : *batchIDs) self->syncThreadUnsafeRemoveBatchWithID(batchID, deleteEvents);
    }
    promise->fulfill(PRMObject::null());
  });
  return promise;
}

PRMPromise::Ptr ETFlatFileStorage::hasEventsForTarget(long target) {
  auto promise = PRMPromise::pendingPromise();
  hasEventsForTarget(target, [promise](bool hasEvents) { promise->fulfill(PRMObject(hasEvents)); });
  return promise;
}

PRMPromise::Ptr ETFlatFileStorage::batchWithEventSelector(const std::shared_ptr<ETStorageEventSelector>& selector,
                                                          platform::Date batchExpiration) {
  auto promise = PRMPromise::pendingPromise();
  batchWithEventSelector(selector, batchExpiration, [promise](std::optional<ETBatchID> batchID, std::optional<ETEventSet> events) {
    if (batchID && events) {
      promise->fulfill(PRMObject(std::make_shared<ETUploadBatch>(*batchID, std::move(*events))));
    } else {
      promise->reject(genericRejectedPromiseErrorWithReason("There are no events for the selector."));
    }
  });
  return promise;
}

PRMPromise::Ptr ETFlatFileStorage::fetchStorageMetadata() {
  auto promise = PRMPromise::pendingPromise();
  storageSizeWithCallback([promise](uint64_t size) {
    promise->fulfill(PRMObject(ETStorageMetadata::metadataWithCurrentCacheSize(size, kMaxStorageSizeBytes)));
  });
  return promise;
}

PRMPromise::Ptr ETFlatFileStorage::fetchAndUpdateMetricsWithHandler(ETMetricsUpdateHandler handler) {
  auto promise = PRMPromise::pendingPromise();
  queue_->async([self = shared_from_this(), promise, handler = std::move(handler)] {
    const fs::path path = self->libraryDataStoragePath() / ETMetricsMetadataLibraryKey;
    std::optional<platform::Error> readError;
    std::optional<ETBytes> stored = ETReadFile(path, &readError);
    std::shared_ptr<platform::KeyedCoding> fetched;
    if (stored) {
      platform::Error archiveError;
      auto value = platform::KeyedUnarchiver::unarchivedObjectOfClasses({ETMetricsMetadataClassName}, *stored,
                                                                       &archiveError);
      if (value) {
        fetched = value->object<platform::KeyedCoding>();
      } else {
        readError = archiveError;
      }
    }
    std::shared_ptr<platform::KeyedCoding> newValue = handler ? handler(fetched, readError) : nullptr;
    if (!newValue || newValue == fetched) {
      promise->fulfill(PRMObject());
      return;
    }
    std::optional<platform::Error> archiveError;
    std::optional<ETBytes> archive = ETArchiveObject(newValue, {}, &archiveError);
    if (!archive || archiveError) {
      promise->reject(archiveError ? *archiveError : genericRejectedPromiseErrorWithReason("Archiving failed."));
      return;
    }
    // The same archive as the stored one is the same value: nothing to write.
    if (fetched && stored && *archive == *stored) {
      promise->fulfill(PRMObject());
      return;
    }
    std::optional<platform::Error> writeError;
    if (!ETWriteFileAtomically(*archive, path, &writeError)) {
      promise->reject(writeError ? *writeError : genericRejectedPromiseErrorWithReason("Writing failed."));
      return;
    }
    promise->fulfill(PRMObject());
  });
  return promise;
}
