// Keychain: the program's store of secret items, a stand-in for the phone platform's
// keychain with the same item-call shape and status codes.
//
// Items are attribute dictionaries: a class (generic password or key), identifying
// attributes (service, account, access group; or application tag and key type), free
// attributes (generic, accessibility) and the secret bytes under kSecValueData. Calls take
// a query dictionary of the same attribute keys; a query matches every item of its class
// whose attributes equal the ones the query names. Keys beginning with "r_", "m_" or "u_"
// steer the call (what to return, how many, which keychain) and never match.
//
// A Keychain lives in one file (binary property list, mode 0600). Every change is written
// to disk with an atomic replace before the call returns; a failed write leaves both the
// file and the items in memory as they were and answers errSecIO. An unreadable file is
// moved aside to "<file>.corrupt" and the keychain starts empty, so no bytes are lost.
//
// Thread safety: every call may come from any thread; calls on one Keychain are serialised.
// Keychain::shared() answers the keychain of the current data directory
// (<data dir>/keychain.plist); the free SecItem* functions act on it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/plist.h"

namespace platform {

using OSStatus = int32_t;

inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecIO = -36;
inline constexpr OSStatus errSecDuplicateItem = -25299;
inline constexpr OSStatus errSecItemNotFound = -25300;
inline constexpr OSStatus errSecInteractionNotAllowed = -25308;
inline constexpr OSStatus errSecDecode = -26275;

// Attribute keys and values. The strings are this store's own file vocabulary.
inline constexpr const char* kSecClass = "class";
inline constexpr const char* kSecClassGenericPassword = "genericPassword";
inline constexpr const char* kSecClassKey = "key";
inline constexpr const char* kSecAttrService = "service";
inline constexpr const char* kSecAttrAccount = "account";
inline constexpr const char* kSecAttrAccessGroup = "accessGroup";
inline constexpr const char* kSecAttrGeneric = "generic";
inline constexpr const char* kSecAttrApplicationTag = "applicationTag";
inline constexpr const char* kSecAttrKeyType = "keyType";
inline constexpr const char* kSecAttrKeyTypeRSA = "rsa";
inline constexpr const char* kSecAttrKeyClass = "keyClass";
inline constexpr const char* kSecAttrAccessible = "accessible";
inline constexpr const char* kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly =
    "afterFirstUnlockThisDeviceOnly";
inline constexpr const char* kSecValueData = "v_data";
// Call options: never stored, never matched.
inline constexpr const char* kSecReturnData = "r_data";
inline constexpr const char* kSecMatchLimit = "m_limit";
inline constexpr const char* kSecMatchLimitOne = "one";
inline constexpr const char* kSecMatchLimitAll = "all";
inline constexpr const char* kSecUseDataProtectionKeychain = "u_dataProtection";

using SecQuery = PlistValue::Dictionary;

// The step a fault hook is asked about.
enum class KeychainOperation { CopyMatching, Add, Update, Delete, WriteFile };

class Keychain {
 public:
  // Opens (or starts) the keychain kept in `file`.
  explicit Keychain(std::filesystem::path file);

  // The keychain of the current data directory; re-opened when the directory changes.
  static std::shared_ptr<Keychain> shared();

  const std::filesystem::path& file() const { return file_; }

  // Finds the first item matching (or, with kSecMatchLimitAll, every one). With
  // kSecReturnData true, `result` receives the item's data (an array of data for "all").
  // errSecItemNotFound when nothing matches.
  OSStatus copyMatching(const SecQuery& query, PlistValue* result);
  // Adds an item; errSecDuplicateItem when one with the same identity exists.
  OSStatus add(const SecQuery& attributes);
  // Sets `changes` on every item matching `query`; errSecItemNotFound when none does.
  OSStatus update(const SecQuery& query, const SecQuery& changes);
  // Deletes every item matching `query`; errSecItemNotFound when none does.
  OSStatus remove(const SecQuery& query);

  // Fault injection for tests: asked before each operation (and before each file write);
  // a non-zero answer makes that step fail with it, changing nothing. nullptr turns it off.
  using FaultHook = std::function<OSStatus(KeychainOperation)>;
  void setFaultHook(FaultHook hook);

 private:
  OSStatus faultFor(KeychainOperation operation) const;
  void load();
  OSStatus persist(PlistValue::Array items);
  std::vector<size_t> matches(const SecQuery& query) const;

  std::filesystem::path file_;
  mutable std::mutex mutex_;
  PlistValue::Array items_;
  FaultHook faultHook_;
};

// The item calls on Keychain::shared().
OSStatus SecItemCopyMatching(const SecQuery& query, PlistValue* result);
OSStatus SecItemAdd(const SecQuery& attributes, PlistValue* result);
OSStatus SecItemUpdate(const SecQuery& query, const SecQuery& attributesToUpdate);
OSStatus SecItemDelete(const SecQuery& query);

}  // namespace platform
