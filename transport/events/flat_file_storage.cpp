#include "transport/events/flat_file_storage.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/foundation/file_names.h"
#include "platform/foundation/paths.h"
#include "platform/process_state/process_state.h"
#include "transport/events/application.h"
#include "transport/events/console.h"
#include "transport/events/registrar.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kStorageTaskName = "ETStorage";
constexpr double kTemporaryMaxAgeSeconds = 24 * 60 * 60;

platform::Error inconsistencyError() {
  return platform::Error(platform::kInternalInconsistencyException, -1);
}

void makeDirectory(const fs::path& path, const char* failureFormat) {
  std::error_code error;
  fs::create_directories(path, error);
  if (error) ET_ASSERT(false, failureFormat, error.message().c_str());
}

std::vector<std::string> splitAtDashes(const std::string& name) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t dash = name.find('-', start);
    parts.push_back(name.substr(start, dash - start));
    if (dash == std::string::npos) break;
    start = dash + 1;
  }
  return parts;
}

// Names join their parts with "-"; a part that could hold one (an event ID, a tier) has it
// written %2D, so every name splits back into the parts it was made of.
constexpr const char* kNameSeparator = "-";

// The whole text as an integer written the way the names write them (decimal, no sign
// unless allowed, no leading zeros, no spaces); std::nullopt for anything else, so a name
// that does not parse back exactly is never taken for what it seems to say.
template <class Integer>
std::optional<Integer> exactInteger(const std::string& text) {
  Integer value{};
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value);
  if (failure != std::errc() || stop != end || std::to_string(value) != text) return std::nullopt;
  return value;
}

uint64_t expirationSeconds(platform::Date date) {
  const double seconds = date.timeIntervalSince1970();
  return seconds <= 0 ? 0 : static_cast<uint64_t>(seconds);
}

bool keptInMappingID(UChar32 c) {
  return c == '-' || (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

void appendPercentEncoded(std::string& out, const uint8_t* bytes, size_t count) {
  static const char* kHex = "0123456789ABCDEF";
  for (size_t i = 0; i < count; ++i) {
    out += '%';
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 0xF];
  }
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

ETBytes int32Bytes(int32_t value) {
  ETBytes bytes(4);
  std::memcpy(bytes.data(), &value, 4);
  return bytes;
}

}  // namespace

// ---- Making and naming ----------------------------------------------------------------

std::shared_ptr<ETFlatFileStorage> ETFlatFileStorage::sharedInstance() {
  static auto* storage = new platform::ProcessValue<std::shared_ptr<ETFlatFileStorage>>();
  return storage->getOrMake([] { return make(ETEventsRootURL()); });
}

void ETFlatFileStorage::load(const std::shared_ptr<ETRegistrar>& registrar) {
  auto storage = sharedInstance();
  for (long target = 999; target <= 1003; ++target) registrar->registerStorage(storage, target);
}

std::shared_ptr<ETFlatFileStorage> ETFlatFileStorage::make(fs::path root,
                                                           std::shared_ptr<ETApplicationProtocol> application) {
  return std::shared_ptr<ETFlatFileStorage>(new ETFlatFileStorage(std::move(root), std::move(application)));
}

ETFlatFileStorage::ETFlatFileStorage(fs::path root, std::shared_ptr<ETApplicationProtocol> application)
    : root_(std::move(root)),
      eventDataPath_(root_ / "ETFlatFileStorage" / "et_event_data"),
      batchDataPath_(root_ / "ETFlatFileStorage" / "et_batch_data"),
      libraryDataPath_(root_ / "ETFlatFileStorage" / "et_library_data"),
      removedDataPath_(root_ / "ETFlatFileStorage" / ".et_removed_data"),
      queue_(platform::DispatchQueue::makeSerial("ziz.ozudor.ETFlatFileStorage")),
      application_(application ? std::move(application) : ETApplication::sharedApplication()),
      tracker_(root_.string()) {
  eventDataStoragePath();
  batchDataStoragePath();
  libraryDataStoragePath();
  // Deleted batches a killed process had no time to unlink.
  purgeRemovedData();
}

fs::path ETFlatFileStorage::eventDataStoragePath() const {
  makeDirectory(eventDataPath_, "Creating the event data path failed: %s");
  return eventDataPath_;
}

fs::path ETFlatFileStorage::batchDataStoragePath() const {
  makeDirectory(batchDataPath_, "Creating the batch data path failed: %s");
  return batchDataPath_;
}

fs::path ETFlatFileStorage::libraryDataStoragePath() const {
  makeDirectory(libraryDataPath_, "Creating the library data path failed: %s");
  return libraryDataPath_;
}

fs::path ETFlatFileStorage::pathForTarget(long target, const std::string& eventID, long qosTier,
                                          platform::Date expirationDate, const std::string& mappingID) const {
  char numbers[48];
  std::snprintf(numbers, sizeof numbers, "-%" PRIu64 "-", expirationSeconds(expirationDate));
  // The write makes the directories when they are missing.
  return eventDataPath_ / std::to_string(target) /
         (platform::fileNamePartForID(eventID, kNameSeparator) + kNameSeparator +
          platform::fileNamePartForID(std::to_string(qosTier), kNameSeparator) + numbers + encodedMappingID(mappingID));
}

fs::path ETFlatFileStorage::batchPathForTarget(long target, ETBatchID batchID, platform::Date expirationDate) const {
  char name[96];
  std::snprintf(name, sizeof name, "%ld-%" PRId64 "-%" PRIu64, target, batchID, expirationSeconds(expirationDate));
  return batchDataStoragePath() / name;
}

std::optional<ETEventComponents> ETFlatFileStorage::eventComponentsFromFilename(const std::string& name) {
  const std::vector<std::string> parts = splitAtDashes(name);
  std::optional<std::string> eventID;
  std::optional<long> tier;
  std::optional<uint64_t> expiration;
  if (parts.size() >= 4) {
    eventID = platform::idFromFileNamePart(parts[0], kNameSeparator);
    if (auto tierText = platform::idFromFileNamePart(parts[1], kNameSeparator)) tier = exactInteger<long>(*tierText);
    expiration = exactInteger<uint64_t>(parts[2]);
  }
  std::string mappingID = parts.size() >= 4 ? parts[3] : std::string();
  for (size_t i = 4; i < parts.size(); ++i) mappingID += "-" + parts[i];
  if (!eventID || eventID->empty() || !tier || !expiration || mappingID.empty() ||
      encodedMappingID(decodedMappingID(mappingID)) != mappingID) {
    ET_LOG_DEBUG("Couldn't parse the event file name: %s", name.c_str());
    return std::nullopt;
  }
  ETEventComponents components;
  components.eventID = std::move(*eventID);
  components.qosTier = *tier;
  components.expiration = platform::Date::fromTimeIntervalSince1970(static_cast<double>(*expiration));
  components.mappingID = std::move(mappingID);
  return components;
}

std::optional<ETBatchComponents> ETFlatFileStorage::batchComponentsFromFilename(const std::string& name) {
  const std::vector<std::string> parts = splitAtDashes(name);
  std::optional<long> target;
  std::optional<ETBatchID> batchID;
  std::optional<uint64_t> expiration;
  if (parts.size() == 3) {
    target = exactInteger<long>(parts[0]);
    batchID = exactInteger<ETBatchID>(parts[1]);
    expiration = exactInteger<uint64_t>(parts[2]);
  }
  if (!target || !batchID || !expiration) {
    ET_LOG_DEBUG("Couldn't parse the batch directory name: %s", name.c_str());
    return std::nullopt;
  }
  ETBatchComponents components;
  components.target = *target;
  components.batchID = *batchID;
  components.expiration = platform::Date::fromTimeIntervalSince1970(static_cast<double>(*expiration));
  return components;
}

std::string ETFlatFileStorage::encodedMappingID(const std::string& mappingID) {
  std::string out;
  const auto* bytes = reinterpret_cast<const uint8_t*>(mappingID.data());
  const int32_t length = static_cast<int32_t>(mappingID.size());
  int32_t i = 0;
  while (i < length) {
    const int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    if (c >= 0 && keptInMappingID(c)) {
      out.append(mappingID, static_cast<size_t>(start), static_cast<size_t>(i - start));
    } else {
      appendPercentEncoded(out, bytes + start, static_cast<size_t>(i - start));
    }
  }
  return out;
}

std::string ETFlatFileStorage::decodedMappingID(const std::string& encoded) {
  std::string out;
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '%' && i + 2 < encoded.size()) {
      const int high = hexValue(encoded[i + 1]);
      const int low = hexValue(encoded[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += encoded[i];
  }
  return out;
}

// ---- Storing ----------------------------------------------------------------------------

void ETFlatFileStorage::storeEvent(const std::shared_ptr<ETEvent>& event, ETStoreCompletion onComplete) {
  ET_LOG_DEBUG("Saving event: %s", event ? event->description().c_str() : "(null)");
  if (!event || !event->serializedDataObjectBytes() || event->serializedDataObjectBytes()->empty()) {
    ET_LOG_DEBUG("The event was nil, so it was not saved.");
    if (onComplete) onComplete(false, inconsistencyError());
    return;
  }
  if (!onComplete) {
    onComplete = [event](bool written, const std::optional<platform::Error>& error) {
      ET_LOG_DEBUG("event %s stored. success:%s error:%s", event->description().c_str(), written ? "YES" : "NO",
                   error ? error->localizedDescription().c_str() : "(null)");
    };
  }
  auto task = ETBackgroundTask::begin(application_, kStorageTaskName);
  queue_->async([self = shared_from_this(), event, onComplete = std::move(onComplete), task] {
    std::optional<platform::Error> archiveError;
    std::optional<ETBytes> archive = ETArchiveObject(event, {}, &archiveError);
    // Taken with the archive: the completion below may change the caller's event.
    auto stored = archive ? event->archivedForm() : nullptr;
    const fs::path path = self->pathForTarget(event->target(), event->eventID(), event->qosTier(),
                                              event->expirationDate(), event->mappingID());
    std::optional<platform::Error> error;
    if (!archive || archiveError) {
      onComplete(false, archiveError ? archiveError : inconsistencyError());
    } else if (self->tracker_.directoryContentSize() + archive->size() > kMaxStorageSizeBytes) {
      platform::Error refusal(ETFlatFileStorageErrorDomain, 0,
                              {{platform::kErrorLocalizedFailureReasonKey,
                                platform::PlistValue(std::string("Storage size limit has been reached."))}});
      if (auto delegate = self->delegate()) {
        ET_LOG_DEBUG("Delegate notified that event with mapping ID %s was dropped.", event->mappingID().c_str());
        delegate->storageDidDropEvent(*self, event);
      }
      onComplete(false, refusal);
    } else if (!ETWriteFileAtomically(*archive, path, &error)) {
      onComplete(false, error ? error : inconsistencyError());
    } else {
      onComplete(true, std::nullopt);
      self->tracker_.fileWasAddedAtPath(path.string(), archive->size());
      self->keepEvent(path.filename().string(), std::move(stored), archive->size());
      if (event->qosTier() == 4) {
        if (auto coordinator = self->uploadCoordinator()) coordinator->forceUploadForTarget(event->target());
      }
    }
    task->end();
  });
}

void ETFlatFileStorage::keepEvent(const std::string& name, std::shared_ptr<ETEvent> stored, size_t archiveSize) {
  if (!stored || archiveSize > kKeptEventBytes) return;  // read back from its file
  auto [entry, inserted] = keptEvents_.try_emplace(name);
  if (inserted) {
    keptOrder_.push_back(name);
  } else {
    keptBytes_ -= entry->second.archiveSize;
  }
  entry->second = KeptEvent{std::move(stored), archiveSize};
  keptBytes_ += archiveSize;
  while (keptBytes_ > kKeptEventBytes && !keptOrder_.empty()) {
    auto oldest = keptEvents_.find(keptOrder_.front());
    keptOrder_.pop_front();
    if (oldest == keptEvents_.end()) continue;  // already handed out
    keptBytes_ -= oldest->second.archiveSize;
    keptEvents_.erase(oldest);
  }
  // Names handed out leave the order list as they reach its front, or all at once when they
  // come to outnumber the kept events.
  while (!keptOrder_.empty() && !keptEvents_.contains(keptOrder_.front())) keptOrder_.pop_front();
  if (keptOrder_.size() > 2 * keptEvents_.size() + 64) {
    std::erase_if(keptOrder_, [this](const std::string& kept) { return !keptEvents_.contains(kept); });
  }
}

std::shared_ptr<ETEvent> ETFlatFileStorage::takeEvent(const fs::path& path, std::optional<platform::Error>* error) {
  return takeEvent(path.parent_path(), path.filename().string(), error);
}

std::shared_ptr<ETEvent> ETFlatFileStorage::takeEvent(const fs::path& directory, const std::string& name,
                                                      std::optional<platform::Error>* error) {
  auto kept = keptEvents_.find(name);
  if (kept == keptEvents_.end()) {
    ++eventFilesRead_;
    return ETUnarchiveFile<ETEvent>(directory / name, error);
  }
  auto event = std::move(kept->second.event);
  keptBytes_ -= kept->second.archiveSize;
  keptEvents_.erase(kept);
  return event;
}

// ---- Expiry -------------------------------------------------------------------------------

void ETFlatFileStorage::checkForExpirations() {
  queue_->async([self = shared_from_this()] {
    ET_LOG_DEBUG("Checking for expired events and batches");
    const double now = platform::Date::now().timeIntervalSince1970();
    ETEventSet expired;

    // Listed first: restoring a batch removes entries from the directory being listed.
    std::vector<std::string> batchNames;
    std::error_code listError;
    for (fs::directory_iterator it(self->batchDataStoragePath(), listError), end; !listError && it != end;
         it.increment(listError)) {
      batchNames.push_back(it->path().filename().string());
    }
    for (const std::string& name : batchNames) {
      const fs::path directory = self->batchDataPath_ / name;
      auto components = batchComponentsFromFilename(name);
      if (!components) {
        self->recoverUnnamedBatch(directory);
        continue;
      }
      if (components->expiration.timeIntervalSince1970() >= now) continue;
      self->syncThreadUnsafeRemoveBatchWithID(components->batchID, false);
      std::error_code existsError;
      if (fs::exists(directory, existsError)) self->expireEventsOfKeptBatch(directory, now, expired);
    }

    std::vector<fs::path> entries;
    std::error_code walkError;
    fs::recursive_directory_iterator walk(self->eventDataStoragePath(), walkError);
    for (; !walkError && walk != fs::recursive_directory_iterator(); walk.increment(walkError)) {
      std::error_code typeError;
      if (walk->is_regular_file(typeError)) entries.push_back(walk->path());
    }
    for (fs::path path : entries) {
      const std::string name = path.filename().string();
      if (name.empty() || name[0] == '.') continue;  // temporaries, removed below when stale
      auto components = eventComponentsFromFilename(name);
      if (!components) {
        auto renamed = self->repairEventFile(path);
        if (!renamed) continue;
        path = *renamed;
        components = eventComponentsFromFilename(path.filename().string());
        if (!components) continue;
      }
      self->removeIfExpired(path, *components, now, expired);
    }
    self->removeExpiredTemporaries(self->eventDataPath_, true);
    self->removeExpiredTemporaries(self->libraryDataPath_, false);

    if (auto delegate = self->delegate(); delegate && !expired.empty()) {
      ET_LOG_DEBUG("Delegate notified that %zu events were dropped.", expired.size());
      delegate->storageDidRemoveExpiredEvents(*self, ETEventSet(expired));
    }
    self->tracker_.resetCachedSize();
  });
}

void ETFlatFileStorage::removeIfExpired(const fs::path& path, const ETEventComponents& components, double now,
                                        ETEventSet& expired) {
  if (components.expiration.timeIntervalSince1970() >= now) return;
  std::optional<platform::Error> readError;
  auto event = ETUnarchiveFile<ETEvent>(path, &readError);
  if (!event) {
    ET_LOG_DEBUG("Error deserializing event while checking for expired events: %s",
                 readError ? readError->localizedDescription().c_str() : "(null)");
  }
  std::error_code removeError;
  if (fs::remove(path, removeError)) {
    ET_LOG_DEBUG("Item deleted because it expired: %s", path.c_str());
    if (event) expired.insert(event);
  } else {
    ET_LOG_DEBUG("There was an error deleting an expired item: %s", path.c_str());
  }
}

std::optional<fs::path> ETFlatFileStorage::repairEventFile(const fs::path& path) {
  std::optional<platform::Error> readError;
  auto event = ETUnarchiveFile<ETEvent>(path, &readError);
  std::error_code error;
  if (!event) {
    if (fs::remove(path, error)) {
      ET_LOG_ERROR(ETMCStorageRepair, "Removed a file of the event store that holds no event: %s", path.c_str());
    }
    return std::nullopt;
  }
  const fs::path named = pathForTarget(event->target(), event->eventID(), event->qosTier(), event->expirationDate(),
                                       event->mappingID());
  if (named == path) return named;
  fs::create_directories(named.parent_path(), error);
  std::optional<platform::Error> moveError;
  if (!moveItem(path, named, &moveError)) {
    ET_LOG_ERROR(ETMCStorageRepair, "An event file whose name does not parse could not be renamed: %s: %s",
                 path.c_str(), moveError ? moveError->localizedDescription().c_str() : "(null)");
    return std::nullopt;
  }
  ET_LOG_ERROR(ETMCStorageRepair, "An event file whose name did not parse was renamed: %s to %s", path.c_str(),
               named.c_str());
  return named;
}

void ETFlatFileStorage::recoverUnnamedBatch(const fs::path& path) {
  std::error_code error;
  if (!fs::is_directory(path, error)) {
    if (fs::remove(path, error)) {
      ET_LOG_ERROR(ETMCStorageRepair, "Removed an entry of the batch directory that is no batch: %s", path.c_str());
    }
    return;
  }
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) entries.push_back(it->path());
  bool emptied = !error;
  for (const fs::path& entry : entries) {
    std::error_code entryError;
    const std::string name = entry.filename().string();
    if (!fs::is_regular_file(entry, entryError) || name.empty() || name[0] == '.') {
      fs::remove_all(entry, entryError);
    } else if (!repairEventFile(entry)) {
      std::error_code existsError;
      if (fs::exists(entry, existsError)) emptied = false;
    }
    if (entryError) emptied = false;
  }
  if (emptied && fs::remove(path, error)) {
    ET_LOG_ERROR(ETMCStorageRepair, "The events of a batch whose name does not parse were put back: %s", path.c_str());
  } else {
    ET_LOG_ERROR(ETMCStorageRepair, "A batch whose name does not parse could not be emptied yet: %s", path.c_str());
  }
}

void ETFlatFileStorage::expireEventsOfKeptBatch(const fs::path& directory, double now, ETEventSet& expired) {
  ET_LOG_ERROR(ETMCStorageRepair, "A batch's events could not all be moved back; those past their age go: %s",
               directory.c_str());
  std::vector<fs::path> entries;
  std::error_code error;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  for (const fs::path& entry : entries) {
    const std::string name = entry.filename().string();
    if (name.empty() || name[0] == '.') continue;
    if (auto components = eventComponentsFromFilename(name)) removeIfExpired(entry, *components, now, expired);
  }
  std::error_code removeError;
  if (fs::is_empty(directory, error) && !error && fs::remove(directory, removeError)) {
    ET_LOG_DEBUG("Batch removed at path: %s", directory.c_str());
  }
}

void ETFlatFileStorage::removeExpiredTemporaries(const fs::path& directory, bool recursive) {
  const auto cutoff = fs::file_time_type::clock::now() -
                      std::chrono::duration_cast<fs::file_time_type::duration>(
                          std::chrono::duration<double>(kTemporaryMaxAgeSeconds));
  std::vector<fs::path> stale;
  auto consider = [&](const fs::directory_entry& entry) {
    std::error_code error;
    if (!ETIsTemporaryFileName(entry.path().filename().string()) || !entry.is_regular_file(error)) return;
    const auto written = entry.last_write_time(error);
    if (!error && written < cutoff) stale.push_back(entry.path());
  };
  std::error_code error;
  if (recursive) {
    for (fs::recursive_directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) consider(*it);
  } else {
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) consider(*it);
  }
  for (const fs::path& path : stale) {
    std::error_code removeError;
    fs::remove(path, removeError);
  }
}

// ---- Library data -------------------------------------------------------------------------

void ETFlatFileStorage::libraryDataForKey(const std::string& key, ETLibraryDataFetch onFetchComplete,
                                          ETLibraryDataNewValue setNewValue) {
  queue_->async([self = shared_from_this(), key, onFetchComplete = std::move(onFetchComplete),
                 setNewValue = std::move(setNewValue)] {
    self->syncThreadUnsafeLibraryDataForKey(key, onFetchComplete, setNewValue);
  });
}

void ETFlatFileStorage::syncThreadUnsafeLibraryDataForKey(const std::string& key,
                                                          const ETLibraryDataFetch& onFetchComplete,
                                                          const ETLibraryDataNewValue& setNewValue) {
  const fs::path path = libraryDataStoragePath() / platform::fileNameForID(key);
  std::optional<platform::Error> readError;
  std::optional<ETBytes> data = ETReadFile(path, &readError);
  if (onFetchComplete) onFetchComplete(data, readError);
  if (!setNewValue) return;
  std::optional<ETBytes> newValue = setNewValue();
  if (!newValue || newValue->empty()) return;
  // A small value of the stored value's size (the batch-ID counter) is written over it: no
  // new file to allocate, which the event files' churn makes slow.
  if (data && data->size() == newValue->size() && ETOverwriteFileInPlace(*newValue, path)) return;
  std::optional<platform::Error> writeError;
  if (ETWriteFileAtomically(*newValue, path, &writeError)) {
    tracker_.fileWasRemovedAtPath(path.string(), data ? data->size() : 0);
    tracker_.fileWasAddedAtPath(path.string(), newValue->size());
  } else {
    ET_LOG_DEBUG("Error writing new value in libraryDataForKey: %s",
                 writeError ? writeError->localizedDescription().c_str() : "(null)");
  }
}

void ETFlatFileStorage::storeLibraryData(const ETBytes& data, const std::string& key, ETErrorCompletion onComplete) {
  if (data.empty()) {
    if (onComplete) onComplete(inconsistencyError());
    return;
  }
  queue_->async([self = shared_from_this(), data, key, onComplete = std::move(onComplete)] {
    const fs::path path = self->libraryDataStoragePath() / platform::fileNameForID(key);
    const uint64_t previous = ETDirectorySizeTracker::fileSizeAtURL(path);
    std::optional<platform::Error> error;
    if (ETWriteFileAtomically(data, path, &error)) {
      self->tracker_.fileWasRemovedAtPath(path.string(), previous);
      self->tracker_.fileWasAddedAtPath(path.string(), data.size());
    }
    if (onComplete) onComplete(error);
  });
}

void ETFlatFileStorage::removeLibraryDataForKey(const std::string& key, ETErrorCompletion onComplete) {
  queue_->async([self = shared_from_this(), key, onComplete = std::move(onComplete)] {
    const fs::path path = self->libraryDataStoragePath() / platform::fileNameForID(key);
    const uint64_t size = ETDirectorySizeTracker::fileSizeAtURL(path);
    std::optional<platform::Error> result;
    std::error_code existsError;
    if (fs::exists(path, existsError)) {
      std::error_code removeError;
      if (fs::remove(path, removeError)) {
        self->tracker_.fileWasRemovedAtPath(path.string(), size);
      } else {
        result = platform::Error::posix(removeError.value(), path.string());
      }
    }
    if (onComplete) onComplete(result);
  });
}

void ETFlatFileStorage::storageSizeWithCallback(std::function<void(uint64_t size)> onComplete) {
  if (!onComplete) return;
  queue_->async([self = shared_from_this(), onComplete = std::move(onComplete)] {
    onComplete(self->tracker_.directoryContentSize());
  });
}

void ETFlatFileStorage::nextBatchID(std::function<void(std::optional<ETBatchID>)> onComplete) {
  queue_->async([self = shared_from_this(), onComplete = std::move(onComplete)] {
    const auto batchID = self->syncThreadUnsafeNextBatchID();
    if (onComplete) onComplete(batchID);
  });
}

std::optional<ETBatchID> ETFlatFileStorage::syncThreadUnsafeNextBatchID() {
  int32_t working = -1;
  syncThreadUnsafeLibraryDataForKey(
      ETFlatFileStorageBatchIDCounterKey,
      [this, &working](const std::optional<ETBytes>& data, const std::optional<platform::Error>& error) {
        if (!error && data && data->size() >= 4) {
          std::memcpy(&working, data->data(), 4);
        } else if (!error || !data) {
          working = 0;  // no counter yet, or one too short to hold a value
        }
        // A negative counter, or one that names a batch still on disk (a lost or damaged
        // counter file), would make batches that are never listed or two batches of one ID,
        // where removing one removes the other's events: it starts again after the highest.
        const std::set<ETBatchID> onDisk = batchIDsOnDisk();
        if (working < 0 || onDisk.contains(working)) {
          const int32_t damaged = working;
          int32_t next = 0;
          if (!onDisk.empty() && *onDisk.rbegin() < INT32_MAX) {
            next = static_cast<int32_t>(*onDisk.rbegin() + 1);
          } else {
            while (onDisk.contains(next)) ++next;
          }
          working = next;
          ET_LOG_ERROR(ETMCStorageRepair, "The batch ID counter held %d; it goes on from %d, after the batches on disk",
                       damaged, next);
        }
      },
      [&working]() -> std::optional<ETBytes> {
        if (working == -1) return std::nullopt;
        return int32Bytes(working == INT32_MAX ? 0 : working + 1);
      });
  if (working == -1) return std::nullopt;
  return static_cast<ETBatchID>(working);
}

std::set<ETBatchID> ETFlatFileStorage::batchIDsOnDisk() const {
  std::set<ETBatchID> batchIDs;
  std::error_code error;
  for (fs::directory_iterator it(batchDataStoragePath(), error), end; !error && it != end; it.increment(error)) {
    if (auto components = batchComponentsFromFilename(it->path().filename().string())) {
      batchIDs.insert(components->batchID);
    }
  }
  return batchIDs;
}

// ---- Delegate, coordinator, lifecycle -----------------------------------------------------

std::shared_ptr<ETStorageDelegate> ETFlatFileStorage::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

void ETFlatFileStorage::setDelegate(const std::shared_ptr<ETStorageDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

std::shared_ptr<ETUploadCoordinatorProtocol> ETFlatFileStorage::uploadCoordinator() const {
  {
    std::lock_guard lock(mutex_);
    if (coordinator_) return coordinator_;
  }
  return ETSharedUploadCoordinator();
}

void ETFlatFileStorage::setUploadCoordinator(std::shared_ptr<ETUploadCoordinatorProtocol> coordinator) {
  std::lock_guard lock(mutex_);
  coordinator_ = std::move(coordinator);
}

void ETFlatFileStorage::setMoveFault(MoveFaultHook hook) {
  std::lock_guard lock(mutex_);
  moveFault_ = std::move(hook);
}

bool ETFlatFileStorage::moveItem(const fs::path& from, const fs::path& to, std::optional<platform::Error>* error) const {
  MoveFaultHook fault;
  {
    std::lock_guard lock(mutex_);
    fault = moveFault_;
  }
  if (fault && fault(from, to)) {
    if (error) *error = platform::Error::posix(EIO, from.string());
    return false;
  }
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    if (error) *error = platform::Error::posix(errno, from.string());
    return false;
  }
  return true;
}

void ETFlatFileStorage::appWillBackground(const std::shared_ptr<ETApplication>& application) {
  queue_->async([application] { ETBackgroundTask::begin(application, kStorageTaskName)->end(); });
}
