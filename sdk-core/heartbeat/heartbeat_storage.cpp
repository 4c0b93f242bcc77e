#include "sdk-core/heartbeat/heartbeat_storage.h"

#include <algorithm>
#include <map>
#include <cstdlib>
#include <mutex>
#include <set>
#include <system_error>

#include "platform/foundation/data_notices.h"
#include "platform/foundation/paths.h"

namespace {

struct InstanceCache {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<HeartbeatStorage>> entries;
  // Every storage alive, shared or not, for the exit handler; under its own lock, as
  // storages are made while `mutex` is held.
  std::mutex liveMutex;
  std::set<HeartbeatStorage*> live;
  bool exitHandlerInstalled = false;
};

InstanceCache& instanceCache() {
  static InstanceCache* cache = new InstanceCache();  // outlives every storage, even at exit
  return *cache;
}

}  // namespace

// ---- FileStorage --------------------------------------------------------------------------

std::unique_ptr<FileStorage> FileStorage::storageForID(const std::string& id) {
  std::string fileName = "heartbeats-" + id;
  std::replace(fileName.begin(), fileName.end(), ':', '_');
  return std::make_unique<FileStorage>(platform::FileLocations::applicationSupportDirectory() /
                                       "zideza-heartbeat-storage" / platform::fileNameForID(fileName));
}

std::optional<std::vector<uint8_t>> FileStorage::read() { return platform::readFileContents(url_); }

std::optional<StorageError> FileStorage::write(const std::optional<std::vector<uint8_t>>& bytes) {
  std::error_code error;
  std::filesystem::create_directories(url_.parent_path(), error);
  if (error) return StorageError::writeError;
  static const std::vector<uint8_t> kNothing;
  if (!platform::writeFileAtomically(url_, bytes ? *bytes : kNothing).ok()) return StorageError::writeError;
  return std::nullopt;
}

bool FileStorage::setAsideDamaged() { return !platform::moveDamagedFileAside(url_, "the heartbeats file").empty(); }

// ---- UserDefaultsStorage ------------------------------------------------------------------

std::optional<std::vector<uint8_t>> UserDefaultsStorage::read() { return defaults_->data(key_); }

std::optional<StorageError> UserDefaultsStorage::write(const std::optional<std::vector<uint8_t>>& bytes) {
  if (bytes) {
    (void)defaults_->set(key_, platform::PlistValue(*bytes));
  } else {
    (void)defaults_->remove(key_);
  }
  return std::nullopt;
}

// ---- HeartbeatStorage ---------------------------------------------------------------------

std::shared_ptr<HeartbeatStorage> HeartbeatStorage::sharedInstance(const std::string& id) {
  auto& cache = instanceCache();
  std::lock_guard lock(cache.mutex);
  if (auto it = cache.entries.find(id); it != cache.entries.end()) {
    if (auto live = it->second.lock()) return live;
  }
  auto made = std::make_shared<HeartbeatStorage>(id, FileStorage::storageForID(id));
  cache.entries[id] = made;
  return made;
}

HeartbeatStorage::HeartbeatStorage(std::string id, std::unique_ptr<Storage> storage)
    : id_(std::move(id)),
      storage_(std::move(storage)),
      queue_(platform::DispatchQueue::makeSerial("ruv.heartbeat.storage." + id_)) {
  // Exit handlers run in the reverse order of their registration, interleaved with the
  // destructors of statics made before them. So the statics the heartbeat work reads are made
  // first, and the handler registered after them flushes and closes every storage before
  // any of them is destroyed.
  (void)allTimePeriods();
  (void)heartbeatDistantPast();
  (void)HeartbeatsBundle::initialDatesCache();
  auto& cache = instanceCache();
  std::lock_guard lock(cache.liveMutex);
  cache.live.insert(this);
  if (!cache.exitHandlerInstalled) {
    cache.exitHandlerInstalled = std::atexit(&HeartbeatStorage::closeAllAtExit) == 0;
  }
}

HeartbeatStorage::~HeartbeatStorage() {
  auto& cache = instanceCache();
  {
    std::lock_guard lock(cache.liveMutex);
    cache.live.erase(this);
  }
  std::lock_guard lock(cache.mutex);
  // A newer storage of the same identifier may already hold the entry; leave that one.
  if (auto it = cache.entries.find(id_); it != cache.entries.end() && it->second.expired()) {
    cache.entries.erase(it);
  }
}

void HeartbeatStorage::closeAllAtExit() {
  std::vector<std::shared_ptr<HeartbeatStorage>> storages;
  {
    auto& cache = instanceCache();
    std::lock_guard lock(cache.liveMutex);
    for (HeartbeatStorage* storage : cache.live) {
      // Null for one whose last owner is letting go right now (its destructor waits on the
      // lock); it has nothing queued, as queued work keeps a storage alive.
      if (auto alive = storage->weak_from_this().lock()) storages.push_back(std::move(alive));
    }
  }
  for (const auto& storage : storages) {
    storage->queue_->sync([&] { storage->close(); });
  }
}

void HeartbeatStorage::close() {
  if (closed_) return;
  (void)writePending();
  closed_ = true;
}

const std::optional<HeartbeatsBundle>& HeartbeatStorage::current() {
  if (!loaded_) {
    auto bytes = storage_->read();
    current_ = bytes && !bytes->empty() ? decodeHeartbeatsBundle(*bytes) : std::nullopt;
    // Bytes that do not read as a bundle are set aside, and heartbeats start afresh; where
    // they cannot be, the next write replaces them, even one that stores nothing.
    pending_ = !current_ && bytes && !bytes->empty() && !storage_->setAsideDamaged();
    loaded_ = true;
  }
  return current_;
}

std::optional<StorageError> HeartbeatStorage::replaceNow(std::optional<HeartbeatsBundle> bundle) {
  if (bundle == current() && !pending_) return std::nullopt;
  auto error = bundle ? storage_->write(encodeHeartbeatsBundle(*bundle)) : storage_->write(std::nullopt);
  if (error) return error;
  current_ = std::move(bundle);
  pending_ = false;
  return std::nullopt;
}

std::optional<StorageError> HeartbeatStorage::writePending() {
  if (!pending_) return std::nullopt;
  auto error = current_ ? storage_->write(encodeHeartbeatsBundle(*current_)) : storage_->write(std::nullopt);
  // A failed write stays pending: the next write of any kind retries it.
  if (!error) pending_ = false;
  return error;
}

void HeartbeatStorage::updateSynchronously(const Transform& transform) {
  queue_->sync([&] {
    if (closed_) return;
    (void)replaceNow(transform(current()));
  });
}

void HeartbeatStorage::updateAsynchronously(Transform transform) {
  queue_->async([self = shared_from_this(), transform = std::move(transform)] {
    if (self->closed_) return;
    std::optional<HeartbeatsBundle> next = transform(self->current());
    if (next == self->current_) return;  // nothing changed, nothing to write
    self->current_ = std::move(next);
    self->pending_ = true;
    if (self->writeQueued_) return;
    // Behind every update queued so far, so a burst of them is written once.
    self->writeQueued_ = true;
    self->queue_->async([self] {
      self->writeQueued_ = false;
      if (!self->closed_) (void)self->writePending();
    });
  });
}

HeartbeatStorageProtocol::FetchResult HeartbeatStorage::fetchAndReplace(const Transform& transform) {
  FetchResult result;
  queue_->sync([&] {
    if (closed_) {
      result.error = StorageError::writeError;
      return;
    }
    std::optional<HeartbeatsBundle> previous = current();
    if (auto error = replaceNow(transform(previous))) {
      result.error = error;
    } else {
      result.previous = std::move(previous);
    }
  });
  return result;
}

std::optional<StorageError> HeartbeatStorage::synchronize() {
  std::optional<StorageError> error;
  queue_->sync([&] {
    if (!closed_) error = writePending();
  });
  return error;
}
