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
#pragma once

#include <memory>
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

 private:
  std::shared_ptr<UTLKeychainStorage> secureStorage_;
  std::optional<std::string> accessGroup_;
  std::shared_ptr<platform::DispatchQueue> queue_;
  std::shared_ptr<UTLUserDefaults> userDefaults_;
};
