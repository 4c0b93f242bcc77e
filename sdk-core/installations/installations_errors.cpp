#include "sdk-core/installations/installations_errors.h"

#include <cstdio>

namespace {

platform::PlistValue encodeError(const platform::Error& error) {
  platform::PlistValue::Dictionary userInfo(error.userInfo.begin(), error.userInfo.end());
  return platform::PlistValue::Dictionary{{"domain", platform::PlistValue(error.domain)},
                                          {"code", platform::PlistValue(error.code)},
                                          {"userInfo", platform::PlistValue(std::move(userInfo))}};
}

}  // namespace

platform::Error TELInstallationsHTTPError::make(const platform::HTTPURLResponse& response,
                                                const std::vector<uint8_t>& data) {
  const std::string body(data.begin(), data.end());
  std::string reason = "The server responded with an error: \n - URL: " + response.url +
                       " \n - HTTP status code: " + std::to_string(response.statusCode) +
                       " \n - Response body: " + body;
  return platform::Error(kTELInstallationsErrorDomain, errorCodeWithHTTPCode(response.statusCode),
                         {{platform::kErrorLocalizedFailureReasonKey, platform::PlistValue(reason)},
                          {kHTTPResponseURLKey, platform::PlistValue(response.url)},
                          {kHTTPResponseStatusKey, platform::PlistValue(response.statusCode)},
                          {kDataKey, platform::PlistValue(platform::PlistValue::Data(data))}});
}

bool TELInstallationsHTTPError::isHTTPError(const platform::Error& error) {
  return error.domain == kTELInstallationsErrorDomain && error.userInfo.count(kHTTPResponseStatusKey) != 0;
}

std::optional<long> TELInstallationsHTTPError::statusCode(const platform::Error& error) {
  if (!isHTTPError(error)) return std::nullopt;
  const auto* status = error.userInfo.at(kHTTPResponseStatusKey).asInteger();
  if (!status) return std::nullopt;
  return static_cast<long>(*status);
}

std::vector<uint8_t> TELInstallationsHTTPError::data(const platform::Error& error) {
  auto it = error.userInfo.find(kDataKey);
  if (it == error.userInfo.end() || !it->second.asData()) return {};
  return *it->second.asData();
}

platform::Error TELInstallationsErrorUtil::installationsErrorWithCode(
    long code, const std::optional<std::string>& failureReason, const std::optional<platform::Error>& underlyingError) {
  std::map<std::string, platform::PlistValue> userInfo;
  if (underlyingError) userInfo[platform::kErrorUnderlyingErrorKey] = encodeError(*underlyingError);
  std::string reason;
  if (failureReason) {
    reason = *failureReason;
  } else {
    reason = "Underlying error: " + (underlyingError ? underlyingError->localizedDescription() : std::string("(null)"));
  }
  userInfo[platform::kErrorLocalizedFailureReasonKey] = platform::PlistValue(reason);
  return platform::Error(kTELInstallationsErrorDomain, code, std::move(userInfo));
}

platform::Error TELInstallationsErrorUtil::keyedArchiverErrorWithException(const platform::Exception& exception) {
  std::string userInfo = "{";
  for (const auto& [key, value] : exception.userInfo()) {
    if (userInfo.size() > 1) userInfo += ", ";
    userInfo += key;
  }
  userInfo += "}";
  return installationsErrorWithCode(TELInstallationsErrorCodeUnknown,
                                    "NSKeyedArchiver exception with name: " + exception.name() +
                                        ", reason: " + exception.reason() + ", userInfo: " + userInfo,
                                    std::nullopt);
}

platform::Error TELInstallationsErrorUtil::keyedArchiverErrorWithError(const platform::Error& error) {
  return installationsErrorWithCode(TELInstallationsErrorCodeUnknown, "NSKeyedArchiver error.", error);
}

platform::Error TELInstallationsErrorUtil::keychainErrorWithFunction(const std::string& function,
                                                                     platform::OSStatus status) {
  return installationsErrorWithCode(TELInstallationsErrorCodeKeychain, function + " (" + std::to_string(status) + ")",
                                    std::nullopt);
}

platform::Error TELInstallationsErrorUtil::installationItemNotFoundForAppID(const std::string& appID,
                                                                            const std::string& appName) {
  return installationsErrorWithCode(TELInstallationsErrorCodeUnknown,
                                    "Installation for appID " + appID + " appName " + appName + " not found",
                                    std::nullopt);
}

platform::Error TELInstallationsErrorUtil::corruptedIIDTokenData() {
  return installationsErrorWithCode(TELInstallationsErrorCodeUnknown,
                                    "IID token data stored in Keychain is corrupted or in an incompatible format.",
                                    std::nullopt);
}

platform::Error TELInstallationsErrorUtil::JSONSerializationError(const std::optional<platform::Error>&) {
  return installationsErrorWithCode(TELInstallationsErrorCodeUnknown, "Failed to serialize JSON data.", std::nullopt);
}

platform::Error TELInstallationsErrorUtil::InstIDRegistrationErrorWithResponseMissingField(
    const std::string& fieldName) {
  return installationsErrorWithCode(TELInstallationsErrorCodeUnknown,
                                    "A required response field with name " + fieldName + " is missing", std::nullopt);
}

platform::Error TELInstallationsErrorUtil::networkErrorWithError(const platform::Error& error) {
  return installationsErrorWithCode(TELInstallationsErrorCodeServerUnreachable, "Network connection error.", error);
}

platform::Error TELInstallationsErrorUtil::backoffIntervalWaitError() {
  return installationsErrorWithCode(TELInstallationsErrorCodeServerUnreachable, "Too many server requests.",
                                    std::nullopt);
}

platform::Error TELInstallationsErrorUtil::publicDomainErrorWithError(const platform::Error& error) {
  if (error.domain == kTELInstallationsErrorDomain) return error;
  return installationsErrorWithCode(TELInstallationsErrorCodeUnknown, std::nullopt, error);
}

platform::Error TELInstallationsErrorUtil::APIErrorWithHTTPResponse(const platform::HTTPURLResponse& response,
                                                                    const std::vector<uint8_t>& data) {
  return TELInstallationsHTTPError::make(response, data);
}

bool TELInstallationsErrorUtil::isAPIError(const platform::Error& error, long HTTPCode) {
  auto status = TELInstallationsHTTPError::statusCode(error);
  return status && *status == HTTPCode;
}

PRMPromise::Ptr TELInstallationsErrorUtil::rejectedPromiseWithError(const platform::Error& error) {
  auto promise = PRMPromise::pendingPromise();
  promise->reject(error);
  return promise;
}

std::optional<platform::Error> TELInstallationsErrorUtil::underlyingError(const platform::Error& error) {
  auto it = error.userInfo.find(platform::kErrorUnderlyingErrorKey);
  if (it == error.userInfo.end()) return std::nullopt;
  const auto* dictionary = it->second.asDictionary();
  if (!dictionary) return std::nullopt;
  platform::Error underlying;
  if (auto d = dictionary->find("domain"); d != dictionary->end() && d->second.asString()) {
    underlying.domain = *d->second.asString();
  }
  if (auto c = dictionary->find("code"); c != dictionary->end() && c->second.asInteger()) {
    underlying.code = static_cast<long>(*c->second.asInteger());
  }
  if (auto u = dictionary->find("userInfo"); u != dictionary->end() && u->second.asDictionary()) {
    for (const auto& [key, value] : *u->second.asDictionary()) underlying.userInfo[key] = value;
  }
  return underlying;
}

std::optional<std::string> TELInstallationsErrorUtil::failureReason(const platform::Error& error) {
  auto it = error.userInfo.find(platform::kErrorLocalizedFailureReasonKey);
  if (it == error.userInfo.end() || !it->second.asString()) return std::nullopt;
  return *it->second.asString();
}
