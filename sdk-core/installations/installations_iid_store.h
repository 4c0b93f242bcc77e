// The legacy instance-ID readers: what an earlier generation of the SDK left behind.
//
// TELInstallationsIIDStore reads the legacy instance ID: it exists when the flag file
// "<Application Support>/Zideza/TelemetryInstanceID/ziz.ozudor.iid-keypair.plist" holds the
// key "|S|cre" and the keychain holds the RSA public key item tagged
// "ziz.ozudor.iid.keypair.public-" + the main bundle's identifier; the ID is derived from
// the key bytes (SHA-1, first byte 0x70 | low nibble, first 8 bytes, URL-safe base64
// without padding: 11 characters). `deleteExistingIID` removes the flag and both key items.
// Without a main-bundle identifier there is no key tag: nothing is read and no key item is
// deleted (an untagged query would match, and delete, every RSA key of the keychain).
//
// TELInstallationsIIDTokenStore reads the legacy default token: a generic-password item
// (generic "ziz.ozudor.iid-tokens", account the bundle identifier, service
// "<sender ID>:*") whose data is a keyed archive of a "TELInstanceIDTokenInfo".
//
// Work runs on the global queue of utility quality of service; results are promises.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/keychain/keychain.h"
#include "sdk-core/promises/promise.h"

inline constexpr const char* kTELIIDCreationTimePlistKey = "|S|cre";
inline constexpr const char* kTELIIDPublicKeyTagPrefix = "ziz.ozudor.iid.keypair.public-";
inline constexpr const char* kTELIIDPrivateKeyTagPrefix = "ziz.ozudor.iid.keypair.private-";
inline constexpr const char* kTELIIDTokensGenericAttribute = "ziz.ozudor.iid-tokens";

class TELInstallationsIIDStore {
 public:
  // Fulfilled with the instance ID (std::string); rejected when there is none.
  PRMPromise::Ptr existingIID();
  // The null object once the flag and both key items are gone; the first failure otherwise.
  PRMPromise::Ptr deleteExistingIID();

  // ---- Steps, public for tests ----
  static std::filesystem::path plistPath();
  static bool hasPlistIIDFlag();
  static std::optional<std::vector<uint8_t>> IIDPublicKeyData();
  static std::string IIDWithPublicKeyData(const std::vector<uint8_t>& publicKeyData);
  static std::vector<uint8_t> sha1WithData(const std::vector<uint8_t>& data);
  static bool deleteIIDFlagFromPlist(platform::Error* error);
  static bool deleteIID(platform::Error* error);
  static bool deleteKeychainKeyWithTagPrefix(const std::string& prefix, platform::Error* error);
  // The key-item query of a tag (class key, key type RSA, the tag when there is one).
  static platform::SecQuery keyPairQueryWithTag(const std::optional<std::vector<uint8_t>>& tag, bool returnData);
  // The prefix followed by the main bundle's identifier; std::nullopt without one.
  static std::optional<std::vector<uint8_t>> keychainKeyTagWithPrefix(const std::string& prefix);
  static std::optional<std::string> mainbundleIdentifier();
};

// The archived legacy token object; read under the archive class "TELInstanceIDTokenInfo".
class TELInstallationsIIDTokenInfo final : public platform::KeyedCoding {
 public:
  static constexpr const char* kArchiveClassName = "TELInstallationsIIDTokenInfo";
  static constexpr const char* kLegacyArchiveClassName = "TELInstanceIDTokenInfo";

  std::optional<std::string> token;

  std::string archiveClassName() const override { return kArchiveClassName; }
  // Writes nothing: the object is only ever read.
  void encodeWithCoder(platform::KeyedArchiver&) const override {}
  static std::shared_ptr<TELInstallationsIIDTokenInfo> initWithCoder(platform::KeyedUnarchiver& coder);
};

class TELInstallationsIIDTokenStore {
 public:
  explicit TELInstallationsIIDTokenStore(std::optional<std::string> PushSenderID);

  const std::optional<std::string>& PushSenderID() const { return PushSenderID_; }

  // Fulfilled with the default token (std::string); rejected when there is none or it is
  // unreadable (the corrupted-token error, or the keychain's error).
  PRMPromise::Ptr existingIIDDefaultToken();

  // ---- Steps, public for tests ----
  platform::SecQuery IIDDefaultTokenDataKeychainQuery() const;
  static std::optional<std::string> IIDCheckinWithData(const std::vector<uint8_t>& data, platform::Error* error);
  static std::string IIDAppIdentifier();
  static std::string serviceKeyForAuthorizedEntity(const std::string& authorizedEntity, const std::string& scope);

 private:
  std::optional<std::string> PushSenderID_;
};
