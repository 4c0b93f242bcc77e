#include "sdk-core/installations/installations_store.h"

#include "sdk-core/installations/installations_errors.h"

namespace {

// The flag step that follows a keychain write or removal, on the store's queue; a failed
// keychain step skips it and is forgotten by the memory.
PRMPromise::Ptr thenSetFlag(const PRMPromise::Ptr& keychainStep, const std::shared_ptr<platform::DispatchQueue>& queue,
                            std::function<void()> setFlag, std::function<void()> onFailure) {
  return keychainStep->chainOnQueue(
      queue,
      [setFlag = std::move(setFlag)](const PRMObject&) {
        setFlag();
        return PRMObject::null();
      },
      [onFailure = std::move(onFailure)](const platform::Error& error) -> PRMObject {
        onFailure();
        return error;
      });
}

}  // namespace

// ---- Flags -----------------------------------------------------------------------------

// Sets or removes the presence flag of `identifier` and writes it to disk at once. The
// keychain step before it is already on disk: left to the defaults' debounced flush, a crash
// within that second would leave a record without its flag, and the next launch would
// register a new installation. A flag the defaults hold as wanted, and that this store last
// wrote to disk so, is on disk already: the second save of a registration writes nothing.
void TELInstallationsStore::Flags::set(bool exists, const std::string& identifier) {
  const bool holds = exists ? defaults_->boolForKey(identifier) == true : !defaults_->objectForKey(identifier);
  auto written = written_.find(identifier);
  if (holds && written != written_.end() && written->second == exists) return;
  if (exists) {
    defaults_->setBool(true, identifier);
  } else {
    defaults_->removeObjectForKey(identifier);
  }
  if (defaults_->synchronize()) {
    written_[identifier] = exists;
  } else {
    written_.erase(identifier);
  }
}

// ---- Memory ----------------------------------------------------------------------------

bool TELInstallationsStore::Memory::known(const std::string& identifier,
                                          std::shared_ptr<TELInstallationsItem>* item) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(identifier);
  if (it == entries_.end() || !it->second.known) return false;
  *item = it->second.item ? it->second.item->copy() : nullptr;
  return true;
}

uint64_t TELInstallationsStore::Memory::remember(const std::string& identifier,
                                                 const std::shared_ptr<TELInstallationsItem>& item) {
  std::lock_guard lock(mutex_);
  Entry& entry = entries_[identifier];
  entry.known = true;
  entry.item = item ? item->copy() : nullptr;
  entry.version = ++clock_;
  return entry.version;
}

uint64_t TELInstallationsStore::Memory::version(const std::string& identifier) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(identifier);
  return it == entries_.end() ? 0 : it->second.version;
}

void TELInstallationsStore::Memory::rememberRead(const std::string& identifier,
                                                 const std::shared_ptr<TELInstallationsItem>& item, uint64_t version) {
  std::lock_guard lock(mutex_);
  Entry& entry = entries_[identifier];
  if (entry.version != version) return;
  entry.known = true;
  entry.item = item ? item->copy() : nullptr;
}

void TELInstallationsStore::Memory::forgetFailedChange(const std::string& identifier, uint64_t version) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(identifier);
  if (it == entries_.end() || it->second.version != version) return;
  it->second = Entry{false, nullptr, ++clock_};
}

void TELInstallationsStore::Memory::forget(const std::string& identifier) {
  std::lock_guard lock(mutex_);
  entries_[identifier] = Entry{false, nullptr, ++clock_};
}

// ---- Store -----------------------------------------------------------------------------

TELInstallationsStore::TELInstallationsStore(std::shared_ptr<UTLKeychainStorage> secureStorage,
                                             std::optional<std::string> accessGroup)
    : secureStorage_(std::move(secureStorage)),
      accessGroup_(std::move(accessGroup)),
      queue_(platform::DispatchQueue::makeSerial("ruv.telemetry.TELInstallationsStore")),
      userDefaults_(std::make_shared<UTLUserDefaults>(
          accessGroup_ && !accessGroup_->empty() ? *accessGroup_ : std::string(kTELInstallationsStoreUserDefaultsID))),
      flags_(std::make_shared<Flags>(userDefaults_)) {}

PRMPromise::Ptr TELInstallationsStore::installationForAppID(const std::string& appID, const std::string& appName) {
  const std::string identifier = TELInstallationsItem::identifierWithAppID(appID, appName);
  std::shared_ptr<TELInstallationsItem> known;
  if (memory_->known(identifier, &known)) {
    if (known) return PRMPromise::resolvedWith(known);
    return PRMPromise::resolvedWith(TELInstallationsErrorUtil::installationItemNotFoundForAppID(appID, appName));
  }
  auto storage = secureStorage_;
  auto accessGroup = accessGroup_;
  auto memory = memory_;
  const uint64_t version = memory->version(identifier);
  return installationExistsForAppID(appID, appName)
      ->then([storage, identifier, accessGroup](const PRMObject&) -> PRMObject {
        return storage->getObjectForKey(identifier, TELInstallationsStoredItem::kArchiveClassName, accessGroup);
      })
      ->then([appID, appName, identifier, memory, version](const PRMObject& value) -> PRMObject {
        const auto* archived = value.get<platform::ArchiveValue>();
        auto stored = archived ? archived->object<TELInstallationsStoredItem>() : nullptr;
        if (!stored) return TELInstallationsErrorUtil::installationItemNotFoundForAppID(appID, appName);
        auto item = std::make_shared<TELInstallationsItem>(appID, appName);
        item->updateWithStoredItem(*stored);
        memory->rememberRead(identifier, item, version);
        return item;
      });
}

PRMPromise::Ptr TELInstallationsStore::saveInstallation(const std::shared_ptr<TELInstallationsItem>& item) {
  const std::string identifier = item->identifier();
  auto stored = item->storedItem();
  auto memory = memory_;
  const uint64_t version = memory->remember(identifier, item);
  return thenSetFlag(secureStorage_->setObject(platform::ArchiveValue(stored), identifier, accessGroup_), queue_,
                     [flags = flags_, identifier] { flags->set(true, identifier); },
                     [identifier, memory, version] { memory->forgetFailedChange(identifier, version); });
}

PRMPromise::Ptr TELInstallationsStore::removeInstallationForAppID(const std::string& appID,
                                                                  const std::string& appName) {
  const std::string identifier = TELInstallationsItem::identifierWithAppID(appID, appName);
  auto memory = memory_;
  const uint64_t version = memory->remember(identifier, nullptr);
  // After a failed removal the record may still be there: the keychain is asked next time.
  return thenSetFlag(secureStorage_->removeObjectForKey(identifier, accessGroup_), queue_,
                     [flags = flags_, identifier] { flags->set(false, identifier); },
                     [identifier, memory, version] { memory->forgetFailedChange(identifier, version); });
}

std::shared_ptr<TELInstallationsItem> TELInstallationsStore::knownInstallationForAppID(
    const std::string& appID, const std::string& appName) const {
  std::shared_ptr<TELInstallationsItem> known;
  memory_->known(TELInstallationsItem::identifierWithAppID(appID, appName), &known);
  return known;
}

PRMPromise::Ptr TELInstallationsStore::installationExistsForAppID(const std::string& appID,
                                                                  const std::string& appName) {
  const std::string identifier = TELInstallationsItem::identifierWithAppID(appID, appName);
  auto defaults = userDefaults_;
  return PRMPromise::asyncOn(queue_, [defaults, identifier, appID, appName](auto fulfill, auto reject) {
    if (defaults->objectForKey(identifier)) {
      fulfill(PRMObject::null());
    } else {
      reject(TELInstallationsErrorUtil::installationItemNotFoundForAppID(appID, appName));
    }
  });
}

PRMPromise::Ptr TELInstallationsStore::setInstallationExists(bool exists, const std::string& identifier) {
  memory_->forget(identifier);
  return PRMPromise::doOn(queue_, [flags = flags_, exists, identifier] {
    flags->set(exists, identifier);
    return PRMObject::null();
  });
}
