#include "sdk-core/installations/installations_item.h"

#include <cctype>
#include <charconv>
#include <cmath>

#include <nlohmann/json.hpp>

#include "platform/foundation/uuid.h"
#include "sdk-core/utilities/json_nesting.h"
#include "sdk-core/utilities/logger.h"
#include "sdk-core/heartbeat/heartbeats_payload.h"
#include "sdk-core/installations/installations_errors.h"
#include "sdk-core/installations/installations_logger.h"

// ---- Stored auth token -----------------------------------------------------------------

int64_t TELInstallationsStoredAuthToken::status() const {
  std::lock_guard lock(mutex_);
  return status_;
}
void TELInstallationsStoredAuthToken::setStatus(int64_t status) {
  std::lock_guard lock(mutex_);
  status_ = status;
}
std::optional<std::string> TELInstallationsStoredAuthToken::token() const {
  std::lock_guard lock(mutex_);
  return token_;
}
void TELInstallationsStoredAuthToken::setToken(std::optional<std::string> token) {
  std::lock_guard lock(mutex_);
  token_ = std::move(token);
}
std::optional<platform::Date> TELInstallationsStoredAuthToken::expirationDate() const {
  std::lock_guard lock(mutex_);
  return expirationDate_;
}
void TELInstallationsStoredAuthToken::setExpirationDate(std::optional<platform::Date> date) {
  std::lock_guard lock(mutex_);
  expirationDate_ = date;
}

std::shared_ptr<TELInstallationsStoredAuthToken> TELInstallationsStoredAuthToken::copy() const {
  auto copy = std::make_shared<TELInstallationsStoredAuthToken>();
  std::lock_guard lock(mutex_);
  copy->status_ = status_;
  copy->token_ = token_;
  copy->expirationDate_ = expirationDate_;
  return copy;
}

void TELInstallationsStoredAuthToken::encodeWithCoder(platform::KeyedArchiver& coder) const {
  std::lock_guard lock(mutex_);
  coder.encodeInt64(status_, "status");
  coder.encodeObject(token_, "token");
  coder.encodeObject(expirationDate_, "expirationDate");
  coder.encodeInt64(kTELInstallationsStoredAuthTokenStorageVersion, "storageVersion");
}

std::shared_ptr<TELInstallationsStoredAuthToken> TELInstallationsStoredAuthToken::initWithCoder(
    platform::KeyedUnarchiver& coder) {
  const int64_t version = coder.decodeInt64("storageVersion");
  if (version > kTELInstallationsStoredAuthTokenStorageVersion) {
    TELLoggerLogWarning(kTELInstallationsLoggerService, "I-TIS004000",
                        "TELInstallationsStoredAuthToken was encoded by a newer coder version %lld. Current coder "
                        "version is %lld. Some auth token data may be lost.",
                        static_cast<long long>(version),
                        static_cast<long long>(kTELInstallationsStoredAuthTokenStorageVersion));
  }
  auto token = std::make_shared<TELInstallationsStoredAuthToken>();
  token->status_ = coder.decodeInt64("status");
  token->token_ = coder.decodeString("token");
  token->expirationDate_ = coder.decodeDate("expirationDate");
  return token;
}

// ---- Stored item -----------------------------------------------------------------------

void TELInstallationsStoredItem::encodeWithCoder(platform::KeyedArchiver& coder) const {
  coder.encodeObject(telemetryInstallationID, "telemetryInstallationID");
  coder.encodeObject(refreshToken, "refreshToken");
  coder.encodeObject(authToken, "authToken");
  coder.encodeInt64(registrationStatus, "registrationStatus");
  coder.encodeObject(IIDDefaultToken, "IIDDefaultToken");
  coder.encodeInt64(kTELInstallationsStoredItemStorageVersion, "storageVersion");
}

std::shared_ptr<TELInstallationsStoredItem> TELInstallationsStoredItem::initWithCoder(
    platform::KeyedUnarchiver& coder) {
  const int64_t version = coder.decodeInt64("storageVersion");
  if (version > kTELInstallationsStoredItemStorageVersion) {
    TELLoggerLogWarning(kTELInstallationsLoggerService, "I-TIS003000",
                        "TELInstallationsStoredItem was encoded by a newer coder version %lld. Current coder version "
                        "is %lld. Some installation data may be lost.",
                        static_cast<long long>(version),
                        static_cast<long long>(kTELInstallationsStoredItemStorageVersion));
  }
  auto item = std::make_shared<TELInstallationsStoredItem>();
  item->telemetryInstallationID = coder.decodeString("telemetryInstallationID");
  item->refreshToken = coder.decodeString("refreshToken");
  item->authToken = coder.decodeObjectOfClass<TELInstallationsStoredAuthToken>("authToken");
  item->registrationStatus = coder.decodeInt64("registrationStatus");
  item->IIDDefaultToken = coder.decodeString("IIDDefaultToken");
  return item;
}

// ---- Item ------------------------------------------------------------------------------

TELInstallationsItem::TELInstallationsItem(std::string appID, std::string telemetryAppName)
    : appID_(std::move(appID)), telemetryAppName_(std::move(telemetryAppName)) {}

std::shared_ptr<TELInstallationsItem> TELInstallationsItem::copy() const {
  auto copy = std::make_shared<TELInstallationsItem>(appID_, telemetryAppName_);
  copy->telemetryInstallationID = telemetryInstallationID;
  copy->refreshToken = refreshToken;
  copy->authToken = authToken ? authToken->copy() : nullptr;
  copy->registrationStatus = registrationStatus;
  copy->IIDDefaultToken = IIDDefaultToken;
  return copy;
}

void TELInstallationsItem::updateWithStoredItem(const TELInstallationsStoredItem& item) {
  telemetryInstallationID = item.telemetryInstallationID;
  refreshToken = item.refreshToken;
  authToken = item.authToken;
  registrationStatus = item.registrationStatus;
  IIDDefaultToken = item.IIDDefaultToken;
}

std::shared_ptr<TELInstallationsStoredItem> TELInstallationsItem::storedItem() const {
  auto stored = std::make_shared<TELInstallationsStoredItem>();
  stored->telemetryInstallationID = telemetryInstallationID;
  stored->refreshToken = refreshToken;
  stored->authToken = authToken;
  stored->registrationStatus = registrationStatus;
  stored->IIDDefaultToken = IIDDefaultToken;
  return stored;
}

bool TELInstallationsItem::isValid(platform::Error* error) const {
  std::vector<std::string> findings;
  if (appID_.empty()) findings.push_back("`appID` must not be empty");
  if (telemetryAppName_.empty()) findings.push_back("`telemetryAppName` must not be empty");
  if (!telemetryInstallationID || telemetryInstallationID->empty()) {
    findings.push_back("`telemetryInstallationID` must not be empty");
  }
  switch (registrationStatus) {
    case TELInstallationStatusInvalid:
      findings.push_back("invalid `registrationStatus`");
      break;
    case TELInstallationStatusRegistered:
      if (!refreshToken) findings.push_back("registered installation must have non-empty `refreshToken`");
      if (!authToken || !authToken->token()) {
        findings.push_back("registered installation must have non-empty `authToken.token`");
      }
      if (!authToken || !authToken->expirationDate()) {
        findings.push_back("registered installation must have non-empty `authToken.expirationDate`");
      }
      break;
    default:
      break;
  }
  if (findings.empty()) return true;
  if (error) {
    std::string joined;
    for (const auto& finding : findings) joined += (joined.empty() ? "" : ", ") + finding;
    *error = TELInstallationsErrorUtil::installationsErrorWithCode(
        TELInstallationsErrorCodeUnknown, "TELInstallationsItem validation errors: " + joined, std::nullopt);
  }
  return false;
}

std::string TELInstallationsItem::identifierWithAppID(const std::string& appID, const std::string& appName) {
  return appID + appName;
}

std::string TELInstallationsItem::generateInstID() {
  const auto uuid = platform::UUID::random().bytes();
  std::vector<uint8_t> bytes;
  bytes.reserve(17);
  bytes.push_back(static_cast<uint8_t>(0x70 | (uuid[15] & 0x0F)));
  bytes.insert(bytes.end(), uuid.begin(), uuid.end());
  return base64URLEncodedStringWithData(bytes).substr(0, 22);
}

std::string TELInstallationsItem::base64URLEncodedStringWithData(const std::vector<uint8_t>& data) {
  std::string text = base64URLString(data);
  while (text.size() % 4 != 0) text += '=';
  return text;
}

// ---- Replies ---------------------------------------------------------------------------

std::optional<nlohmann::json> TELInstallationsItem::dictionaryFromJSONData(const std::vector<uint8_t>& data,
                                                                           platform::Error* error) {
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  auto json = UTLJSONNestingWithin(text) ? nlohmann::json::parse(text, nullptr, false)
                                         : nlohmann::json(nlohmann::json::value_t::discarded);
  if (json.is_discarded() || !json.is_object()) {
    if (error) *error = TELInstallationsErrorUtil::JSONSerializationError(std::nullopt);
    return std::nullopt;
  }
  return json;
}

namespace {

// Digits with an optional fraction ("3600", "0.5"), as a finite number of seconds; anything
// else ("inf", "nan", "0x10", "1e400", a sign, spaces, an empty text) counts as 0, so no
// reply can set an expiry that is not a plain number.
double plainDecimalSecondsOrZero(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  if (i == 0) return 0;
  if (i < text.size() && text[i] == '.') {
    const size_t fraction = ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i == fraction) return 0;
  }
  if (i != text.size()) return 0;
  double value = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
  return failure == std::errc() && end == text.data() + text.size() && std::isfinite(value) ? value : 0;
}

}  // namespace

std::optional<std::string> TELInstallationsItem::validStringOrNilForKey(const std::string& key,
                                                                        const nlohmann::json& dict) {
  auto it = dict.find(key);
  if (it == dict.end() || !it->is_string()) return std::nullopt;
  auto text = it->get<std::string>();
  if (text.empty()) return std::nullopt;
  return text;
}

std::shared_ptr<TELInstallationsStoredAuthToken> TELInstallationsItem::authTokenWithJSONDict(const nlohmann::json& dict,
                                                                                             platform::Date date,
                                                                                             platform::Error* error) {
  auto token = validStringOrNilForKey("token", dict);
  if (!token) {
    if (error) *error = TELInstallationsErrorUtil::InstIDRegistrationErrorWithResponseMissingField("authToken.token");
    return nullptr;
  }
  auto expiresIn = validStringOrNilForKey("expiresIn", dict);
  if (!expiresIn) {
    if (error) {
      *error = TELInstallationsErrorUtil::InstIDRegistrationErrorWithResponseMissingField("authToken.expiresIn");
    }
    return nullptr;
  }
  // The value ends in a unit letter ("3600s"); the last character is dropped whatever it is.
  const double interval = plainDecimalSecondsOrZero(expiresIn->substr(0, expiresIn->size() - 1));
  auto result = std::make_shared<TELInstallationsStoredAuthToken>();
  result->setStatus(TELInstallationsStoredAuthToken::TELInstallationsAuthTokenStatusTokenReceived);
  result->setToken(*token);
  result->setExpirationDate(date.addingTimeInterval(interval));
  return result;
}

std::shared_ptr<TELInstallationsStoredAuthToken> TELInstallationsItem::authTokenWithGenerateTokenAPIJSONData(
    const std::vector<uint8_t>& data, platform::Date date, platform::Error* error) {
  auto dict = dictionaryFromJSONData(data, error);
  if (!dict) return nullptr;
  return authTokenWithJSONDict(*dict, date, error);
}

std::shared_ptr<TELInstallationsItem> TELInstallationsItem::registeredInstallationWithJSONData(
    const std::vector<uint8_t>& data, platform::Date date, platform::Error* error) const {
  auto dict = dictionaryFromJSONData(data, error);
  if (!dict) return nullptr;
  auto refreshTokenValue = validStringOrNilForKey("refreshToken", *dict);
  if (!refreshTokenValue) {
    if (error) *error = TELInstallationsErrorUtil::InstIDRegistrationErrorWithResponseMissingField("refreshToken");
    return nullptr;
  }
  auto authTokenJSON = dict->find("authToken");
  if (authTokenJSON == dict->end() || !authTokenJSON->is_object()) {
    if (error) *error = TELInstallationsErrorUtil::InstIDRegistrationErrorWithResponseMissingField("authToken");
    return nullptr;
  }
  auto token = authTokenWithJSONDict(*authTokenJSON, date, error);
  if (!token) return nullptr;

  auto registered = std::make_shared<TELInstallationsItem>(appID_, telemetryAppName_);
  auto instID = validStringOrNilForKey("instId", *dict);
  registered->telemetryInstallationID = instID ? instID : telemetryInstallationID;
  registered->refreshToken = refreshTokenValue;
  registered->authToken = token;
  registered->registrationStatus = TELInstallationStatusRegistered;
  return registered;
}
