// The errors of the installations client: every one is of the domain
// "ruv.telemetry.installations" (codes 0 to 2), made by TELInstallationsErrorUtil.
//
// A reply of the installations service with a status outside 200-299 becomes an "HTTP error"
// (TELInstallationsHTTPError): code 0, the failure reason naming the URL, status and body,
// and the response's URL, status and body kept in the user info so that callers can ask
// for the status (`isAPIError`). An underlying error travels in the user info under
// platform::kErrorUnderlyingErrorKey as a dictionary (domain, code, user info); read it
// back with `underlyingError`.
//
// Stateless; every function may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/keychain/keychain.h"
#include "platform/net/url_request.h"
#include "sdk-core/promises/promise.h"

inline constexpr const char* kTELInstallationsErrorDomain = "ruv.telemetry.installations";

enum TELInstallationsErrorCode : long {
  TELInstallationsErrorCodeUnknown = 0,
  TELInstallationsErrorCodeKeychain = 1,
  TELInstallationsErrorCodeServerUnreachable = 2,
};

// The HTTP error's view of an error object.
class TELInstallationsHTTPError {
 public:
  // User-info keys of the kept response.
  static constexpr const char* kHTTPResponseURLKey = "HTTPResponse.URL";
  static constexpr const char* kHTTPResponseStatusKey = "HTTPResponse.statusCode";
  static constexpr const char* kDataKey = "data";

  static platform::Error make(const platform::HTTPURLResponse& response, const std::vector<uint8_t>& data);
  // Whether `error` is an HTTP error; then its status and body.
  static bool isHTTPError(const platform::Error& error);
  static std::optional<long> statusCode(const platform::Error& error);
  static std::vector<uint8_t> data(const platform::Error& error);
  // 0 for every status.
  static long errorCodeWithHTTPCode(long HTTPCode) { return 0; }
};

class TELInstallationsErrorUtil {
 public:
  static platform::Error installationsErrorWithCode(long code, const std::optional<std::string>& failureReason,
                                                    const std::optional<platform::Error>& underlyingError);
  static platform::Error keyedArchiverErrorWithException(const platform::Exception& exception);
  static platform::Error keyedArchiverErrorWithError(const platform::Error& error);
  static platform::Error keychainErrorWithFunction(const std::string& function, platform::OSStatus status);
  static platform::Error installationItemNotFoundForAppID(const std::string& appID, const std::string& appName);
  static platform::Error corruptedIIDTokenData();
  static platform::Error JSONSerializationError(const std::optional<platform::Error>& error);
  static platform::Error InstIDRegistrationErrorWithResponseMissingField(const std::string& fieldName);
  static platform::Error networkErrorWithError(const platform::Error& error);
  static platform::Error backoffIntervalWaitError();
  // An error of the installations domain unchanged; any other wrapped in a code 0 error.
  static platform::Error publicDomainErrorWithError(const platform::Error& error);
  static platform::Error APIErrorWithHTTPResponse(const platform::HTTPURLResponse& response,
                                                  const std::vector<uint8_t>& data);
  static bool isAPIError(const platform::Error& error, long HTTPCode);
  static PRMPromise::Ptr rejectedPromiseWithError(const platform::Error& error);

  // The error kept under the underlying-error key, if any.
  static std::optional<platform::Error> underlyingError(const platform::Error& error);
  static std::optional<std::string> failureReason(const platform::Error& error);
};
