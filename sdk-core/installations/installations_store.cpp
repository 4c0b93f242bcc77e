#include "sdk-core/installations/installations_store.h"

#include "sdk-core/installations/installations_errors.h"

namespace {

// Sets or removes the presence flag of `identifier` on the store's queue.
PRMPromise::Ptr writeFlag(const std::shared_ptr<platform::DispatchQueue>& queue,
                          const std::shared_ptr<UTLUserDefaults>& defaults, bool exists,
                          const std::string& identifier) {
  return PRMPromise::asyncOn(queue, [defaults, identifier, exists](auto fulfill, auto) {
    if (exists) {
      defaults->setBool(true, identifier);
    } else {
      defaults->removeObjectForKey(identifier);
    }
    fulfill(PRMObject::null());
  });
}

}  // namespace

TELInstallationsStore::TELInstallationsStore(std::shared_ptr<UTLKeychainStorage> secureStorage,
                                             std::optional<std::string> accessGroup)
    : secureStorage_(std::move(secureStorage)),
      accessGroup_(std::move(accessGroup)),
      queue_(platform::DispatchQueue::makeSerial("ruv.telemetry.TELInstallationsStore")),
      userDefaults_(std::make_shared<UTLUserDefaults>(
          accessGroup_ && !accessGroup_->empty() ? *accessGroup_ : std::string(kTELInstallationsStoreUserDefaultsID))) {
}

PRMPromise::Ptr TELInstallationsStore::installationForAppID(const std::string& appID, const std::string& appName) {
  const std::string identifier = TELInstallationsItem::identifierWithAppID(appID, appName);
  auto storage = secureStorage_;
  auto accessGroup = accessGroup_;
  return installationExistsForAppID(appID, appName)
      ->then([storage, identifier, accessGroup](const PRMObject&) -> PRMObject {
        return storage->getObjectForKey(identifier, TELInstallationsStoredItem::kArchiveClassName, accessGroup);
      })
      ->then([appID, appName](const PRMObject& value) -> PRMObject {
        const auto* archived = value.get<platform::ArchiveValue>();
        auto stored = archived ? archived->object<TELInstallationsStoredItem>() : nullptr;
        if (!stored) return TELInstallationsErrorUtil::installationItemNotFoundForAppID(appID, appName);
        auto item = std::make_shared<TELInstallationsItem>(appID, appName);
        item->updateWithStoredItem(*stored);
        return item;
      });
}

PRMPromise::Ptr TELInstallationsStore::saveInstallation(const std::shared_ptr<TELInstallationsItem>& item) {
  const std::string identifier = item->identifier();
  auto stored = item->storedItem();
  auto defaults = userDefaults_;
  auto queue = queue_;
  return secureStorage_->setObject(platform::ArchiveValue(stored), identifier, accessGroup_)
      ->then([identifier, defaults, queue](const PRMObject&) -> PRMObject {
        return writeFlag(queue, defaults, true, identifier);
      });
}

PRMPromise::Ptr TELInstallationsStore::removeInstallationForAppID(const std::string& appID,
                                                                  const std::string& appName) {
  const std::string identifier = TELInstallationsItem::identifierWithAppID(appID, appName);
  auto defaults = userDefaults_;
  auto queue = queue_;
  return secureStorage_->removeObjectForKey(identifier, accessGroup_)
      ->then([identifier, defaults, queue](const PRMObject&) -> PRMObject {
        return writeFlag(queue, defaults, false, identifier);
      });
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
  return writeFlag(queue_, userDefaults_, exists, identifier);
}
