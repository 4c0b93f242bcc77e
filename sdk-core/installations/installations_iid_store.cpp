#include "sdk-core/installations/installations_iid_store.h"

#include <openssl/sha.h>

#include "platform/dispatch/queue.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/plist.h"
#include "sdk-core/installations/installations_errors.h"
#include "sdk-core/installations/installations_item.h"
#include "sdk-core/utilities/keychain_utils.h"

namespace {

std::shared_ptr<platform::DispatchQueue> utilityQueue() {
  return platform::DispatchQueue::global(platform::QoS::Utility);
}

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

// ---- Instance ID ------------------------------------------------------------------------

std::optional<std::string> TELInstallationsIIDStore::mainbundleIdentifier() {
  auto identifier = platform::Bundle::main()->bundleIdentifier();
  if (!identifier || identifier->empty()) return std::nullopt;
  return identifier;
}

std::filesystem::path TELInstallationsIIDStore::plistPath() {
  return platform::FileLocations::applicationSupportDirectory() / "Zideza" / "TelemetryInstanceID" /
         "ziz.ozudor.iid-keypair.plist";
}

bool TELInstallationsIIDStore::hasPlistIIDFlag() {
  auto bytes = platform::readFileContents(plistPath());
  if (!bytes) return false;
  auto plist = platform::decodePlist(*bytes);
  const auto* dictionary = plist ? plist->asDictionary() : nullptr;
  return dictionary && dictionary->count(kTELIIDCreationTimePlistKey) != 0;
}

std::optional<std::vector<uint8_t>> TELInstallationsIIDStore::keychainKeyTagWithPrefix(const std::string& prefix) {
  auto identifier = mainbundleIdentifier();
  if (!identifier) return std::nullopt;
  return bytesOf(prefix + *identifier);
}

platform::SecQuery TELInstallationsIIDStore::keyPairQueryWithTag(const std::optional<std::vector<uint8_t>>& tag,
                                                                 bool returnData) {
  platform::SecQuery query{{platform::kSecClass, platform::kSecClassKey},
                           {platform::kSecAttrKeyType, platform::kSecAttrKeyTypeRSA}};
  if (tag) query[platform::kSecAttrApplicationTag] = platform::PlistValue(*tag);
  if (returnData) query[platform::kSecReturnData] = true;
  return query;
}

std::optional<std::vector<uint8_t>> TELInstallationsIIDStore::IIDPublicKeyData() {
  // Without a bundle identifier there is no tag, and a query without one would take any RSA key.
  auto tag = keychainKeyTagWithPrefix(kTELIIDPublicKeyTagPrefix);
  if (!tag) return std::nullopt;
  platform::PlistValue result;
  const auto status = platform::SecItemCopyMatching(keyPairQueryWithTag(tag, true), &result);
  if (status != platform::errSecSuccess || !result.asData()) return std::nullopt;
  return *result.asData();
}

std::vector<uint8_t> TELInstallationsIIDStore::sha1WithData(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> digest(SHA_DIGEST_LENGTH);
  SHA1(data.data(), data.size(), digest.data());
  return digest;
}

std::string TELInstallationsIIDStore::IIDWithPublicKeyData(const std::vector<uint8_t>& publicKeyData) {
  std::vector<uint8_t> digest = sha1WithData(publicKeyData);
  digest[0] = static_cast<uint8_t>(0x70 | (digest[0] & 0x0F));
  digest.resize(8);
  std::string text = TELInstallationsItem::base64URLEncodedStringWithData(digest);
  std::erase(text, '=');
  return text;
}

PRMPromise::Ptr TELInstallationsIIDStore::existingIID() {
  return PRMPromise::asyncOn(utilityQueue(),
                             [](auto fulfill, auto) {
                               if (!hasPlistIIDFlag()) return fulfill(PRMObject());
                               auto key = IIDPublicKeyData();
                               if (!key) return fulfill(PRMObject());
                               fulfill(IIDWithPublicKeyData(*key));
                             })
      ->validate([](const PRMObject& value) {
        const auto* text = value.get<std::string>();
        return text && !text->empty();
      });
}

bool TELInstallationsIIDStore::deleteIIDFlagFromPlist(platform::Error* error) {
  const auto path = plistPath();
  if (!std::filesystem::exists(path)) return true;
  auto bytes = platform::readFileContents(path);
  auto plist = bytes ? platform::decodePlist(*bytes) : std::nullopt;
  platform::PlistValue::Dictionary dictionary;
  if (plist && plist->asDictionary()) dictionary = *plist->asDictionary();
  dictionary.erase(kTELIIDCreationTimePlistKey);
  auto encoded = platform::encodePlist(platform::PlistValue(dictionary), platform::PlistFormat::Xml);
  if (!encoded) {
    if (error) *error = platform::Error(platform::kPlatformErrorDomain, 0);
    return false;
  }
  if (platform::Status written = platform::writeFileAtomically(path, *encoded); !written.ok()) {
    if (error) *error = written.error();
    return false;
  }
  return true;
}

bool TELInstallationsIIDStore::deleteKeychainKeyWithTagPrefix(const std::string& prefix, platform::Error* error) {
  // Without a bundle identifier there is no key of ours to delete; a query without a tag would
  // delete every RSA key item of the keychain.
  auto tag = keychainKeyTagWithPrefix(prefix);
  if (!tag) return true;
  const auto status = platform::SecItemDelete(keyPairQueryWithTag(tag, false));
  if (status == platform::errSecSuccess || status == platform::errSecItemNotFound) return true;
  if (error) *error = TELInstallationsErrorUtil::keychainErrorWithFunction("SecItemDelete", status);
  return false;
}

bool TELInstallationsIIDStore::deleteIID(platform::Error* error) {
  return deleteKeychainKeyWithTagPrefix(kTELIIDPublicKeyTagPrefix, error) &&
         deleteKeychainKeyWithTagPrefix(kTELIIDPrivateKeyTagPrefix, error);
}

PRMPromise::Ptr TELInstallationsIIDStore::deleteExistingIID() {
  return PRMPromise::asyncOn(utilityQueue(), [](auto fulfill, auto reject) {
    platform::Error error;
    if (!deleteIIDFlagFromPlist(&error) || !deleteIID(&error)) return reject(error);
    fulfill(PRMObject::null());
  });
}

// ---- Default token ---------------------------------------------------------------------

std::shared_ptr<TELInstallationsIIDTokenInfo> TELInstallationsIIDTokenInfo::initWithCoder(
    platform::KeyedUnarchiver& coder) {
  auto info = std::make_shared<TELInstallationsIIDTokenInfo>();
  info->token = coder.decodeString("token");
  return info;
}

TELInstallationsIIDTokenStore::TELInstallationsIIDTokenStore(std::optional<std::string> PushSenderID)
    : PushSenderID_(std::move(PushSenderID)) {}

std::string TELInstallationsIIDTokenStore::IIDAppIdentifier() {
  return TELInstallationsIIDStore::mainbundleIdentifier().value_or("");
}

std::string TELInstallationsIIDTokenStore::serviceKeyForAuthorizedEntity(const std::string& authorizedEntity,
                                                                         const std::string& scope) {
  return authorizedEntity + ":" + scope;
}

platform::SecQuery TELInstallationsIIDTokenStore::IIDDefaultTokenDataKeychainQuery() const {
  platform::SecQuery query{
      {platform::kSecClass, platform::kSecClassGenericPassword},
      {platform::kSecAttrGeneric, platform::PlistValue(bytesOf(kTELIIDTokensGenericAttribute))},
      {platform::kSecAttrService, serviceKeyForAuthorizedEntity(PushSenderID_.value_or("(null)"), "*")}};
  const std::string account = IIDAppIdentifier();
  if (!account.empty()) query[platform::kSecAttrAccount] = account;
  return query;
}

std::optional<std::string> TELInstallationsIIDTokenStore::IIDCheckinWithData(const std::vector<uint8_t>& data,
                                                                             platform::Error* error) {
  platform::Error openError;
  auto unarchiver = platform::KeyedUnarchiver::forReadingFromData(data, &openError);
  if (!unarchiver) {
    if (error) *error = openError.domain.empty() ? TELInstallationsErrorUtil::corruptedIIDTokenData() : openError;
    return std::nullopt;
  }
  unarchiver->setClass(TELInstallationsIIDTokenInfo::kArchiveClassName,
                       TELInstallationsIIDTokenInfo::kLegacyArchiveClassName);
  auto info = unarchiver->decodeObjectOfClass<TELInstallationsIIDTokenInfo>("root");
  if (!info || !info->token || info->token->empty()) {
    if (error) *error = TELInstallationsErrorUtil::corruptedIIDTokenData();
    return std::nullopt;
  }
  return info->token;
}

PRMPromise::Ptr TELInstallationsIIDTokenStore::existingIIDDefaultToken() {
  const platform::SecQuery query = IIDDefaultTokenDataKeychainQuery();
  return PRMPromise::asyncOn(
             utilityQueue(),
             [query](auto fulfill, auto reject) {
               platform::Error error;
               auto data = UTLKeychainUtils::getItemWithQuery(query, &error);
               if (data) return fulfill(*data);
               reject(error.domain.empty() ? TELInstallationsErrorUtil::corruptedIIDTokenData() : error);
             })
      ->thenOn(utilityQueue(), [](const PRMObject& value) -> PRMObject {
        platform::Error error;
        auto token = IIDCheckinWithData(*value.get<std::vector<uint8_t>>(), &error);
        if (!token) return error;
        return *token;
      });
}
