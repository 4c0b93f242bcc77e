// TELInstallationsStore: one installation record per SDK app, in the keychain, with a
// presence flag per record in a defaults suite.
//
// The record is the archived TELInstallationsStoredItem in the generic-password item of
// the keychain storage's service whose account is the item identifier (app ID followed by
// app name). The flag is the boolean true under the same identifier in the defaults suite
// named by the access group, or "ruv.telemetry.TELInstallations" without one. A record
// whose flag is missing counts as absent, even when the keychain still holds it (the
// keychain outlives a reinstall; the defaults do not).
//
// Every result is a promise; flag work runs on the serial queue
// "ruv.telemetry.TELInstallationsStore", keychain work on the keychain storage's queues.
//
// The store keeps in memory the last record it read, saved or removed for each identifier,
// so that a record is read from the keychain once per store: installationForAppID answers
// a record it knows with a promise already settled, and knownInstallationForAppID gives it
// at once. A save is known from its start and forgotten again when the write fails; a
// removal is known as no record from its start (answered with the not-found error); a read fills the memory only when no save or
// removal of its identifier began meanwhile; setting the flag alone forgets the identifier.
// Every answer is a copy of its own.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/queue.h"
#include "sdk-core/installations/installations_item.h"
#include "sdk-core/promises/promise.h"
#include "sdk-core/utilities/keychain_storage.h"
#include "sdk-core/utilities/user_defaults.h"

inline constexpr const char* kTELInstallationsStoreUserDefaultsID = "ruv.telemetry.TELInstallations";

class TELInstallationsStore {
 public:
  TELInstallationsStore(std::shared_ptr<UTLKeychainStorage> secureStorage, std::optional<std::string> accessGroup);

  const std::shared_ptr<UTLKeychainStorage>& secureStorage() const { return secureStorage_; }
  const std::optional<std::string>& accessGroup() const { return accessGroup_; }
  const std::shared_ptr<UTLUserDefaults>& userDefaults() const { return userDefaults_; }

  // Fulfilled with a std::shared_ptr<TELInstallationsItem>; rejected with the not-found
  // error when there is no record (or no flag).
  PRMPromise::Ptr installationForAppID(const std::string& appID, const std::string& appName);
  // The null object once both the record and its flag are written.
  PRMPromise::Ptr saveInstallation(const std::shared_ptr<TELInstallationsItem>& item);
  // The null object once the record is deleted and its flag removed.
  PRMPromise::Ptr removeInstallationForAppID(const std::string& appID, const std::string& appName);
  // The null object when the flag is set; rejected with the not-found error otherwise.
  PRMPromise::Ptr installationExistsForAppID(const std::string& appID, const std::string& appName);
  PRMPromise::Ptr setInstallationExists(bool exists, const std::string& identifier);

  // A copy of the record this store knows for the app, or nullptr when it must ask the
  // keychain (never read, or known to be absent).
  std::shared_ptr<TELInstallationsItem> knownInstallationForAppID(const std::string& appID,
                                                                  const std::string& appName) const;

 private:
  // What the store knows of each identifier; shared with the steps of pending chains,
  // which may outlive the store.
  class Memory {
   public:
    // Whether the identifier's state is known; then `item` is a copy of its record, or
    // null when it is known to have none.
    bool known(const std::string& identifier, std::shared_ptr<TELInstallationsItem>* item) const;
    // A save (item) or removal (nullptr) begins; returns its version.
    uint64_t remember(const std::string& identifier, const std::shared_ptr<TELInstallationsItem>& item);
    uint64_t version(const std::string& identifier) const;
    // Fills in what a read that began at `version` found.
    void rememberRead(const std::string& identifier, const std::shared_ptr<TELInstallationsItem>& item,
                      uint64_t version);
    // Forgets a save or removal that failed, unless a later one replaced it.
    void forgetFailedChange(const std::string& identifier, uint64_t version);
    // Forgets the identifier: the next read asks the flag and the keychain.
    void forget(const std::string& identifier);

   private:
    struct Entry {
      bool known = false;
      std::shared_ptr<const TELInstallationsItem> item;  // null: known to have no record
      uint64_t version = 0;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Entry> entries_;
    uint64_t clock_ = 0;
  };

  // The presence flags, set on the store's queue only.
  class Flags {
   public:
    explicit Flags(std::shared_ptr<UTLUserDefaults> defaults) : defaults_(std::move(defaults)) {}
    void set(bool exists, const std::string& identifier);

   private:
    std::shared_ptr<UTLUserDefaults> defaults_;
    std::map<std::string, bool> written_;  // each flag as this store's last write left it on disk
  };

  std::shared_ptr<UTLKeychainStorage> secureStorage_;
  std::optional<std::string> accessGroup_;
  std::shared_ptr<platform::DispatchQueue> queue_;
  std::shared_ptr<UTLUserDefaults> userDefaults_;
  std::shared_ptr<Memory> memory_ = std::make_shared<Memory>();
  std::shared_ptr<Flags> flags_;
};
