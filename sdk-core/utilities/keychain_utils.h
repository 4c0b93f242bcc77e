// UTLKeychainUtils and UTLSecureCoding: the keychain item calls with their status codes
// turned into errors, and secure keyed archiving of the objects stored in items.
//
// Both are stateless and may be called from any thread. The item calls act on the
// program's keychain (platform::Keychain::shared(), in the data directory).
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/keychain/keychain.h"

inline constexpr const char* UTLKeychainErrorDomain = "ruv.utl.keychain.ErrorDomain";
inline constexpr const char* UTLSecureCodingErrorDomain = "UTLSecureCodingError";

class UTLKeychainUtils {
 public:
  // The item's data; std::nullopt without an error when there is no item, std::nullopt
  // with the "SecItemCopyMatching" error for any other failure.
  static std::optional<std::vector<uint8_t>> getItemWithQuery(const platform::SecQuery& query,
                                                              platform::Error* error = nullptr);
  // Updates the matching item's data, or adds a new item (accessible after first unlock,
  // this device only).
  static bool setItem(const std::vector<uint8_t>& item, const platform::SecQuery& query,
                      platform::Error* error = nullptr);
  // Deletes the matching items; a missing item is success.
  static bool removeItemWithQuery(const platform::SecQuery& query, platform::Error* error = nullptr);
  // A copy of the query that asks for the data-protection keychain.
  static platform::SecQuery multiplatformQueryWithQuery(const platform::SecQuery& query);
  // Code 0 of the keychain domain, failure reason "<function> (<status>)".
  static platform::Error keychainErrorWithFunction(const std::string& function, platform::OSStatus status);
};

class UTLSecureCoding {
 public:
  // The archive's root object when it is of one of `classes`; std::nullopt with `error`
  // set when the bytes are no archive or hold another class.
  static std::optional<platform::ArchiveValue> unarchivedObjectOfClasses(const std::set<std::string>& classes,
                                                                         const std::vector<uint8_t>& data,
                                                                         platform::Error* error = nullptr);
  static std::optional<platform::ArchiveValue> unarchivedObjectOfClass(const std::string& className,
                                                                       const std::vector<uint8_t>& data,
                                                                       platform::Error* error = nullptr);
  static std::optional<std::vector<uint8_t>> archivedDataWithRootObject(const platform::ArchiveValue& object,
                                                                        platform::Error* error = nullptr);
  // Code -1 of "UTLSecureCodingError", failure reason naming the exception.
  static platform::Error archivingErrorWithException(const platform::Exception& exception);
};
