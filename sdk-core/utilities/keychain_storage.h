// UTLKeychainStorage: objects kept in keychain items of one service, under string keys,
// with a small in-memory cache in front.
//
// Objects are stored as secure keyed archives (UTLSecureCoding) in generic-password items
// whose account is the key. Results are promises (fulfilled with a platform::ArchiveValue,
// with nil for "no item", or with the null object once written or removed); their steps
// run on two serial queues: "ruv.utl.KeychainStorage.InMemoryCache" for the cache and
// "ruv.utl.KeychainStorage.Keychain" for the keychain, so the keychain calls of one
// storage never overlap. Continuations the caller chains run where the caller says.
//
// The cache holds at most 5 objects (least recently used goes first) and is looked up by
// key alone. It never answers a value the keychain does not hold: a write that fails drops
// the object it had cached, and a read only fills the cache when no write or removal of
// that key happened meanwhile.
//
// The storage object may be destroyed while its promises are pending: the steps keep what
// they need alive.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/queue.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/keychain/keychain.h"
#include "sdk-core/promises/promise.h"

// A thread-safe least-recently-used cache of decoded objects by key.
class UTLKeychainCache {
 public:
  explicit UTLKeychainCache(size_t countLimit = 5);

  std::optional<platform::ArchiveValue> objectForKey(const std::string& key);
  void setObject(const platform::ArchiveValue& object, const std::string& key);
  void removeObjectForKey(const std::string& key);
  void removeAllObjects();
  size_t count() const;

  // Bookkeeping that keeps reads from caching stale objects (see the header comment).
  struct Ticket {
    uint64_t version = 0;
    bool valid = false;
  };
  // A write or removal of `key` begins: the cache takes `object` (or drops the key).
  void beginMutation(const std::string& key, const std::optional<platform::ArchiveValue>& object);
  // It ended; on failure the object it cached is dropped unless replaced since.
  void endMutation(const std::string& key, bool succeeded, const std::optional<platform::ArchiveValue>& object);
  // Taken when a keychain read runs; valid when no mutation of the key is in flight.
  Ticket readTicket(const std::string& key) const;
  // Caches what a read found, when nothing changed the key since its ticket.
  void fillFromRead(const std::string& key, const platform::ArchiveValue& object, Ticket ticket);

 private:
  struct Entry {
    platform::ArchiveValue object;
    uint64_t lastUse = 0;
  };
  struct KeyState {
    uint64_t version = 0;
    int inFlight = 0;
  };
  void putLocked(const std::string& key, const platform::ArchiveValue& object);

  const size_t countLimit_;
  mutable std::mutex mutex_;
  std::map<std::string, Entry> entries_;
  std::map<std::string, KeyState> keys_;
  uint64_t clock_ = 0;
};

class UTLKeychainStorage {
 public:
  explicit UTLKeychainStorage(std::string service);
  UTLKeychainStorage(std::string service, std::shared_ptr<UTLKeychainCache> cache);

  const std::string& service() const { return service_; }
  const std::shared_ptr<platform::DispatchQueue>& keychainQueue() const { return keychainQueue_; }
  const std::shared_ptr<platform::DispatchQueue>& inMemoryCacheQueue() const { return inMemoryCacheQueue_; }
  const std::shared_ptr<UTLKeychainCache>& inMemoryCache() const { return inMemoryCache_; }

  // The object stored under `key` (of archive class `objectClass`), or nil when the
  // keychain has no item. Cache first, then the keychain.
  PRMPromise::Ptr getObjectForKey(const std::string& key, const std::string& objectClass,
                                  const std::optional<std::string>& accessGroup);
  // Caches the object and writes it to the keychain; the null object once written.
  PRMPromise::Ptr setObject(const platform::ArchiveValue& object, const std::string& key,
                            const std::optional<std::string>& accessGroup);
  // Drops the cached object and deletes the item; the null object once removed.
  PRMPromise::Ptr removeObjectForKey(const std::string& key, const std::optional<std::string>& accessGroup);
  // The keychain read behind the cache.
  PRMPromise::Ptr getObjectFromKeychainForKey(const std::string& key, const std::string& objectClass,
                                              const std::optional<std::string>& accessGroup);
  // Empties the cache at once, on the calling thread.
  void resetInMemoryCache();

  // The item query of a key.
  platform::SecQuery keychainQueryWithKey(const std::string& key, const std::optional<std::string>& accessGroup) const;

 private:
  std::string service_;
  std::shared_ptr<platform::DispatchQueue> keychainQueue_;
  std::shared_ptr<platform::DispatchQueue> inMemoryCacheQueue_;
  std::shared_ptr<UTLKeychainCache> inMemoryCache_;
};
