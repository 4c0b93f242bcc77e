#include "sdk-core/utilities/keychain_storage.h"

#include "sdk-core/utilities/keychain_utils.h"

// ---- Cache ----------------------------------------------------------------------------

UTLKeychainCache::UTLKeychainCache(size_t countLimit) : countLimit_(countLimit == 0 ? 1 : countLimit) {}

std::optional<platform::ArchiveValue> UTLKeychainCache::objectForKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(key);
  if (it == entries_.end()) return std::nullopt;
  it->second.lastUse = ++clock_;
  return it->second.object;
}

void UTLKeychainCache::putLocked(const std::string& key, const platform::ArchiveValue& object) {
  entries_[key] = Entry{object, ++clock_};
  while (entries_.size() > countLimit_) {
    auto oldest = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->second.lastUse < oldest->second.lastUse) oldest = it;
    }
    entries_.erase(oldest);
  }
}

void UTLKeychainCache::setObject(const platform::ArchiveValue& object, const std::string& key) {
  std::lock_guard lock(mutex_);
  putLocked(key, object);
}

void UTLKeychainCache::removeObjectForKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  entries_.erase(key);
}

void UTLKeychainCache::removeAllObjects() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

size_t UTLKeychainCache::count() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

void UTLKeychainCache::beginMutation(const std::string& key, const std::optional<platform::ArchiveValue>& object) {
  std::lock_guard lock(mutex_);
  KeyState& state = keys_[key];
  ++state.version;
  ++state.inFlight;
  if (object) {
    putLocked(key, *object);
  } else {
    entries_.erase(key);
  }
}

void UTLKeychainCache::endMutation(const std::string& key, bool succeeded,
                                   const std::optional<platform::ArchiveValue>& object) {
  std::lock_guard lock(mutex_);
  KeyState& state = keys_[key];
  if (state.inFlight > 0) --state.inFlight;
  if (succeeded || !object) return;
  auto it = entries_.find(key);
  if (it != entries_.end() && it->second.object == *object) {
    entries_.erase(it);
    ++state.version;
  }
}

UTLKeychainCache::Ticket UTLKeychainCache::readTicket(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = keys_.find(key);
  if (it == keys_.end()) return Ticket{0, true};
  return Ticket{it->second.version, it->second.inFlight == 0};
}

void UTLKeychainCache::fillFromRead(const std::string& key, const platform::ArchiveValue& object, Ticket ticket) {
  std::lock_guard lock(mutex_);
  if (!ticket.valid) return;
  auto it = keys_.find(key);
  const uint64_t version = it == keys_.end() ? 0 : it->second.version;
  if (version != ticket.version) return;
  putLocked(key, object);
}

// ---- Storage --------------------------------------------------------------------------

UTLKeychainStorage::UTLKeychainStorage(std::string service)
    : UTLKeychainStorage(std::move(service), std::make_shared<UTLKeychainCache>(5)) {}

UTLKeychainStorage::UTLKeychainStorage(std::string service, std::shared_ptr<UTLKeychainCache> cache)
    : service_(std::move(service)),
      keychainQueue_(platform::DispatchQueue::makeSerial("ruv.utl.KeychainStorage.Keychain")),
      inMemoryCacheQueue_(platform::DispatchQueue::makeSerial("ruv.utl.KeychainStorage.InMemoryCache")),
      inMemoryCache_(cache ? std::move(cache) : std::make_shared<UTLKeychainCache>(5)) {}

platform::SecQuery UTLKeychainStorage::keychainQueryWithKey(const std::string& key,
                                                            const std::optional<std::string>& accessGroup) const {
  platform::SecQuery query = {{platform::kSecClass, platform::kSecClassGenericPassword},
                              {platform::kSecAttrService, service_},
                              {platform::kSecAttrAccount, key}};
  if (accessGroup) query[platform::kSecAttrAccessGroup] = *accessGroup;
  return UTLKeychainUtils::multiplatformQueryWithQuery(query);
}

PRMPromise::Ptr UTLKeychainStorage::getObjectForKey(const std::string& key, const std::string& objectClass,
                                                    const std::optional<std::string>& accessGroup) {
  auto cache = inMemoryCache_;
  // Copies of what the keychain step needs, so the promise outlives this object safely.
  auto keychainStep = [storage = UTLKeychainStorage(*this), key, objectClass, accessGroup](
                          const platform::Error&) mutable -> PRMObject {
    return PRMObject(storage.getObjectFromKeychainForKey(key, objectClass, accessGroup));
  };
  return PRMPromise::doOn(inMemoryCacheQueue_,
                          [cache, key]() -> PRMObject {
                            if (auto hit = cache->objectForKey(key)) return PRMObject(*hit);
                            // Only signals the miss; the recover step below reads the keychain.
                            return PRMObject(platform::Error(PRMPromiseErrorDomain, PRMPromiseErrorCodeValidationFailure));
                          })
      ->recoverOn(inMemoryCacheQueue_, std::move(keychainStep));
}

PRMPromise::Ptr UTLKeychainStorage::getObjectFromKeychainForKey(const std::string& key, const std::string& objectClass,
                                                                const std::optional<std::string>& accessGroup) {
  auto cache = inMemoryCache_;
  const platform::SecQuery query = keychainQueryWithKey(key, accessGroup);
  auto ticket = std::make_shared<UTLKeychainCache::Ticket>();
  return PRMPromise::doOn(keychainQueue_,
                          [cache, key, objectClass, query, ticket]() -> PRMObject {
                            *ticket = cache->readTicket(key);
                            platform::Error error;
                            auto data = UTLKeychainUtils::getItemWithQuery(query, &error);
                            if (!error.domain.empty()) return PRMObject(error);
                            if (!data) return PRMObject();
                            auto object = UTLSecureCoding::unarchivedObjectOfClass(objectClass, *data, &error);
                            if (!error.domain.empty()) return PRMObject(error);
                            if (!object) return PRMObject();
                            return PRMObject(*object);
                          })
      ->thenOn(inMemoryCacheQueue_, [cache, key, ticket](const PRMObject& value) -> PRMObject {
        if (const auto* object = value.get<platform::ArchiveValue>()) cache->fillFromRead(key, *object, *ticket);
        return value;
      });
}

PRMPromise::Ptr UTLKeychainStorage::setObject(const platform::ArchiveValue& object, const std::string& key,
                                              const std::optional<std::string>& accessGroup) {
  auto cache = inMemoryCache_;
  const platform::SecQuery query = keychainQueryWithKey(key, accessGroup);
  return PRMPromise::doOn(inMemoryCacheQueue_,
                          [cache, key, object]() -> PRMObject {
                            cache->beginMutation(key, object);
                            return PRMObject::null();
                          })
      ->thenOn(keychainQueue_, [cache, key, object, query](const PRMObject&) -> PRMObject {
        platform::Error error;
        auto data = UTLSecureCoding::archivedDataWithRootObject(object, &error);
        const bool written = data && UTLKeychainUtils::setItem(*data, query, &error);
        cache->endMutation(key, written, object);
        if (!written) return PRMObject(error);
        return PRMObject::null();
      });
}

PRMPromise::Ptr UTLKeychainStorage::removeObjectForKey(const std::string& key,
                                                       const std::optional<std::string>& accessGroup) {
  auto cache = inMemoryCache_;
  const platform::SecQuery query = keychainQueryWithKey(key, accessGroup);
  return PRMPromise::doOn(inMemoryCacheQueue_,
                          [cache, key]() -> PRMObject {
                            cache->beginMutation(key, std::nullopt);
                            return PRMObject::null();
                          })
      ->thenOn(keychainQueue_, [cache, key, query](const PRMObject&) -> PRMObject {
        platform::Error error;
        const bool removed = UTLKeychainUtils::removeItemWithQuery(query, &error);
        cache->endMutation(key, removed, std::nullopt);
        if (!removed) return PRMObject(error);
        return PRMObject::null();
      });
}

void UTLKeychainStorage::resetInMemoryCache() { inMemoryCache_->removeAllObjects(); }
