#include "sdk-core/heartbeat/heartbeat_storage.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <system_error>

#include "platform/foundation/paths.h"

namespace {

struct InstanceCache {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<HeartbeatStorage>> entries;
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
                                       "zideza-heartbeat-storage" / fileName);
}

std::optional<std::vector<uint8_t>> FileStorage::read() { return platform::readFileContents(url_); }

std::optional<StorageError> FileStorage::write(const std::optional<std::vector<uint8_t>>& bytes) {
  std::error_code error;
  std::filesystem::create_directories(url_.parent_path(), error);
  if (error) return StorageError::writeError;
  static const std::vector<uint8_t> kNothing;
  if (platform::writeFileAtomically(url_, bytes ? *bytes : kNothing)) return StorageError::writeError;
  return std::nullopt;
}

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
      queue_(platform::DispatchQueue::makeSerial("ruv.heartbeat.storage." + id_)) {}

HeartbeatStorage::~HeartbeatStorage() {
  auto& cache = instanceCache();
  std::lock_guard lock(cache.mutex);
  // A newer storage of the same identifier may already hold the entry; leave that one.
  if (auto it = cache.entries.find(id_); it != cache.entries.end() && it->second.expired()) {
    cache.entries.erase(it);
  }
}

std::optional<HeartbeatsBundle> HeartbeatStorage::load() {
  auto bytes = storage_->read();
  if (!bytes || bytes->empty()) return std::nullopt;
  return decodeHeartbeatsBundle(*bytes);
}

std::optional<StorageError> HeartbeatStorage::save(const std::optional<HeartbeatsBundle>& bundle) {
  if (!bundle) return storage_->write(std::nullopt);
  return storage_->write(encodeHeartbeatsBundle(*bundle));
}

void HeartbeatStorage::updateSynchronously(const Transform& transform) {
  queue_->sync([&] { (void)save(transform(load())); });
}

void HeartbeatStorage::updateAsynchronously(Transform transform) {
  queue_->async([self = shared_from_this(), transform = std::move(transform)] {
    (void)self->save(transform(self->load()));
  });
}

HeartbeatStorageProtocol::FetchResult HeartbeatStorage::fetchAndReplace(const Transform& transform) {
  FetchResult result;
  queue_->sync([&] {
    auto previous = load();
    if (auto error = save(transform(previous))) {
      result.error = error;
    } else {
      result.previous = std::move(previous);
    }
  });
  return result;
}
