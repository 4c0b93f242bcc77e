#include "sdk-core/utilities/keychain_utils.h"

namespace {

void report(platform::Error* out, platform::Error error) {
  if (out != nullptr) *out = std::move(error);
}

std::string describe(const std::map<std::string, platform::PlistValue>& userInfo) {
  if (userInfo.empty()) return "(null)";
  std::string text = "{";
  for (const auto& [key, value] : userInfo) {
    if (text.size() > 1) text += ", ";
    text += key;
    if (const std::string* s = value.asString()) text += " = " + *s;
  }
  return text + "}";
}

}  // namespace

platform::SecQuery UTLKeychainUtils::multiplatformQueryWithQuery(const platform::SecQuery& query) {
  platform::SecQuery copy = query;
  copy[platform::kSecUseDataProtectionKeychain] = true;
  return copy;
}

platform::Error UTLKeychainUtils::keychainErrorWithFunction(const std::string& function, platform::OSStatus status) {
  return platform::Error(UTLKeychainErrorDomain, 0,
                         {{platform::kErrorLocalizedFailureReasonKey,
                           function + " (" + std::to_string(static_cast<long>(status)) + ")"}});
}

std::optional<std::vector<uint8_t>> UTLKeychainUtils::getItemWithQuery(const platform::SecQuery& query,
                                                                       platform::Error* error) {
  platform::SecQuery read = multiplatformQueryWithQuery(query);
  read[platform::kSecReturnData] = true;
  read[platform::kSecMatchLimit] = platform::kSecMatchLimitOne;
  platform::PlistValue result;
  const platform::OSStatus status = platform::SecItemCopyMatching(read, &result);
  if (status == platform::errSecSuccess && result.asData() != nullptr) return *result.asData();
  if (status == platform::errSecItemNotFound) return std::nullopt;
  report(error, keychainErrorWithFunction("SecItemCopyMatching", status));
  return std::nullopt;
}

bool UTLKeychainUtils::setItem(const std::vector<uint8_t>& item, const platform::SecQuery& query,
                               platform::Error* error) {
  const platform::SecQuery base = multiplatformQueryWithQuery(query);
  platform::Error readError;
  const auto existing = getItemWithQuery(base, &readError);
  if (!readError.domain.empty()) {
    report(error, readError);
    return false;
  }
  if (existing) {
    const platform::OSStatus status =
        platform::SecItemUpdate(base, {{platform::kSecValueData, platform::PlistValue(item)}});
    if (status == platform::errSecSuccess) return true;
    report(error, keychainErrorWithFunction("SecItemUpdate", status));
    return false;
  }
  platform::SecQuery attributes = base;
  attributes[platform::kSecAttrAccessible] = platform::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly;
  attributes[platform::kSecValueData] = platform::PlistValue(item);
  const platform::OSStatus status = platform::SecItemAdd(attributes, nullptr);
  if (status == platform::errSecSuccess) return true;
  report(error, keychainErrorWithFunction("SecItemAdd", status));
  return false;
}

bool UTLKeychainUtils::removeItemWithQuery(const platform::SecQuery& query, platform::Error* error) {
  const platform::OSStatus status = platform::SecItemDelete(multiplatformQueryWithQuery(query));
  if (status == platform::errSecSuccess || status == platform::errSecItemNotFound) return true;
  report(error, keychainErrorWithFunction("SecItemDelete", status));
  return false;
}

std::optional<platform::ArchiveValue> UTLSecureCoding::unarchivedObjectOfClasses(
    const std::set<std::string>& classes, const std::vector<uint8_t>& data, platform::Error* error) {
  return platform::KeyedUnarchiver::unarchivedObjectOfClasses(classes, data, error);
}

std::optional<platform::ArchiveValue> UTLSecureCoding::unarchivedObjectOfClass(const std::string& className,
                                                                               const std::vector<uint8_t>& data,
                                                                               platform::Error* error) {
  return unarchivedObjectOfClasses({className}, data, error);
}

std::optional<std::vector<uint8_t>> UTLSecureCoding::archivedDataWithRootObject(const platform::ArchiveValue& object,
                                                                                platform::Error* error) {
  try {
    return platform::KeyedArchiver::archivedData(object, error);
  } catch (const platform::Exception& exception) {
    report(error, archivingErrorWithException(exception));
    return std::nullopt;
  }
}

platform::Error UTLSecureCoding::archivingErrorWithException(const platform::Exception& exception) {
  return platform::Error(UTLSecureCodingErrorDomain, -1,
                         {{platform::kErrorLocalizedFailureReasonKey,
                           "NSKeyedArchiver exception with name: " + exception.name() +
                               ", reason: " + exception.reason() + ", userInfo: " + describe(exception.userInfo())}});
}
