// The installation record of one SDK app: the in-memory item, its stored (archived) forms
// and the InstID.
//
// `TELInstallationsItem` is what the ID controller passes along a chain: app ID and name,
// the InstID, the refresh token and auth token issued at registration, the registration
// status and the legacy default token found at creation. `TELInstallationsStoredItem` and
// `TELInstallationsStoredAuthToken` are the forms written to the keychain as secure keyed
// archives (their class factories are registered by TELInstallationsRegisterArchiveClasses,
// run from the SDK's start-up registrations; see installations.h).
//
// The reply parsers of the installations service live here too (`registeredInstallation...`,
// `authTokenWith...`): they never produce a partial item.
//
// Threads: an item is used by one chain at a time; a stored auth token's fields are guarded
// by its own lock, so it may be read from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/keyed_archiver.h"

inline constexpr int64_t kTELInstallationsStoredItemStorageVersion = 1;
inline constexpr int64_t kTELInstallationsStoredAuthTokenStorageVersion = 1;

enum TELInstallationsRegistrationStatus : int64_t {
  TELInstallationStatusInvalid = 0,
  TELInstallationStatusUnregistered = 1,
  TELInstallationStatusRegistered = 2,
};

class TELInstallationsStoredAuthToken final : public platform::KeyedCoding {
 public:
  static constexpr const char* kArchiveClassName = "TELInstallationsStoredAuthToken";
  enum Status : int64_t {
    TELInstallationsAuthTokenStatusUnknown = 0,
    TELInstallationsAuthTokenStatusTokenReceived = 1
  };

  int64_t status() const;
  void setStatus(int64_t status);
  std::optional<std::string> token() const;
  void setToken(std::optional<std::string> token);
  std::optional<platform::Date> expirationDate() const;
  void setExpirationDate(std::optional<platform::Date> date);
  int64_t storageVersion() const { return kTELInstallationsStoredAuthTokenStorageVersion; }

  std::shared_ptr<TELInstallationsStoredAuthToken> copy() const;

  std::string archiveClassName() const override { return kArchiveClassName; }
  void encodeWithCoder(platform::KeyedArchiver& coder) const override;
  static std::shared_ptr<TELInstallationsStoredAuthToken> initWithCoder(platform::KeyedUnarchiver& coder);

 private:
  mutable std::mutex mutex_;
  int64_t status_ = TELInstallationsAuthTokenStatusUnknown;
  std::optional<std::string> token_;
  std::optional<platform::Date> expirationDate_;
};

class TELInstallationsStoredItem final : public platform::KeyedCoding {
 public:
  static constexpr const char* kArchiveClassName = "TELInstallationsStoredItem";

  std::optional<std::string> telemetryInstallationID;
  std::optional<std::string> refreshToken;
  std::shared_ptr<TELInstallationsStoredAuthToken> authToken;
  int64_t registrationStatus = TELInstallationStatusInvalid;
  std::optional<std::string> IIDDefaultToken;
  int64_t storageVersion() const { return kTELInstallationsStoredItemStorageVersion; }

  std::string archiveClassName() const override { return kArchiveClassName; }
  void encodeWithCoder(platform::KeyedArchiver& coder) const override;
  static std::shared_ptr<TELInstallationsStoredItem> initWithCoder(platform::KeyedUnarchiver& coder);
};

class TELInstallationsItem {
 public:
  TELInstallationsItem(std::string appID, std::string telemetryAppName);

  const std::string& appID() const { return appID_; }
  const std::string& telemetryAppName() const { return telemetryAppName_; }

  std::optional<std::string> telemetryInstallationID;
  std::optional<std::string> refreshToken;
  std::shared_ptr<TELInstallationsStoredAuthToken> authToken;
  int64_t registrationStatus = TELInstallationStatusInvalid;
  std::optional<std::string> IIDDefaultToken;

  std::shared_ptr<TELInstallationsItem> copy() const;
  void updateWithStoredItem(const TELInstallationsStoredItem& item);
  std::shared_ptr<TELInstallationsStoredItem> storedItem() const;
  std::string identifier() const { return identifierWithAppID(appID_, telemetryAppName_); }
  // False with `error` (code 0, every finding in order) when the item is not usable.
  bool isValid(platform::Error* error = nullptr) const;

  // The app ID immediately followed by the app name (stored records rely on this form).
  static std::string identifierWithAppID(const std::string& appID, const std::string& appName);
  // A new 22-character InstID whose first character is "c", "d", "e" or "f".
  static std::string generateInstID();
  // Standard base64 with "/" → "_" and "+" → "-"; the "=" padding stays.
  static std::string base64URLEncodedStringWithData(const std::vector<uint8_t>& data);

  // ---- Replies of the installations service ----
  // The registered copy of this item from a register reply (status 2, InstID from the
  // reply's "instId" when non-empty); nullptr with `error` when a field is missing.
  std::shared_ptr<TELInstallationsItem> registeredInstallationWithJSONData(const std::vector<uint8_t>& data,
                                                                           platform::Date date,
                                                                           platform::Error* error) const;
  static std::shared_ptr<TELInstallationsStoredAuthToken> authTokenWithGenerateTokenAPIJSONData(
      const std::vector<uint8_t>& data, platform::Date date, platform::Error* error);
  static std::shared_ptr<TELInstallationsStoredAuthToken> authTokenWithJSONDict(const nlohmann::json& dict,
                                                                                platform::Date date,
                                                                                platform::Error* error);
  // The top-level JSON object; std::nullopt with the serialization error otherwise.
  static std::optional<nlohmann::json> dictionaryFromJSONData(const std::vector<uint8_t>& data, platform::Error* error);
  // The value when it is a string of non-zero length.
  static std::optional<std::string> validStringOrNilForKey(const std::string& key, const nlohmann::json& dict);

 private:
  std::string appID_;
  std::string telemetryAppName_;
};
