// CRNetworkResponseHandler: sorts a completed HTTP exchange into success, retry or failure,
// and turns failures into errors of the domain "CRNetworkError".
//
// Response classes (CRClientResponseType): success 200, 201, 202, 204, 304 (the body is
// accepted when its content type matches what the request accepts); invalid for anything not
// HTTP or not listed (203, other 2xx, 1xx, 3xx, unlisted 4xx, 600 and above); failure 400, 401,
// 403, 404, 406, 410, 411, 413, 419, 422, 431 (not retried); retry 408 and 500-599; back-off
// 420 and 429. Transport errors of the URL-loading domain are retried unless they say the
// request can never succeed (bad URL, security, certificates, missing files ...).
//
// Class operations only; thread-safe.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/net/url_request.h"

inline constexpr const char* CRNetworkErrorDomain = "CRNetworkError";

enum CRNetworkErrorCode : long {
  CRNetworkErrorCodeRequestFailed = -1,    // response class retry or back-off
  CRNetworkErrorCodeNoTask = -3,           // the session made no task
  CRNetworkErrorCodeInvalidResponse = -4,  // class invalid, or success of the wrong content type
  CRNetworkErrorCodeFailureResponse = -5,  // class failure
  CRNetworkErrorCodeRetryLimit = -6,       // a retry was wanted with no tries left
};

// User-info keys of "CRNetworkError".
inline constexpr const char* CRNetworkErrorTypeKey = "type";
inline constexpr const char* CRNetworkErrorStatusCodeKey = "status_code";
inline constexpr const char* CRNetworkErrorRequestIdKey = "request_id";
inline constexpr const char* CRNetworkErrorContentTypeKey = "content_type";
inline constexpr const char* CRNetworkErrorRetryLimitKey = "retryLimit";

// The user-info key of a URL-loading error that says why a background transfer was cancelled.
inline constexpr const char* CRURLErrorBackgroundTaskCancelledReasonKey = "NSURLErrorBackgroundTaskCancelledReasonKey";

enum class CRClientResponseType : long { Success = 0, Invalid = 1, Failure = 2, Retry = 3, BackOff = 4 };

class CRNetworkResponseHandler {
 public:
  using Response = std::optional<platform::HTTPURLResponse>;
  // (retry wanted, error or none)
  using CompletionBlock = std::function<void(bool retry, std::optional<platform::Error> error)>;

  static std::optional<std::string> headerForResponse(const Response& response, std::string_view key);
  // "Retry-After" in seconds; 2.0 when it is absent, not a number or negative.
  static double retryValueForResponse(const Response& response);
  static std::optional<std::string> requestIdForResponse(const Response& response);
  // The cancel reason of a cancelled transfer; -1 for any other error or without one.
  static long cancelReasonFromURLError(const platform::Error& error);

  // Whether the reply's content type is what the request accepts: the media type (before any
  // ";") equal to "Accept", and a "charset" parameter, when both sides name one, equal to
  // "Accept-Charset", both ignoring case and blanks around parameters.
  static bool contentTypeForResponse(const Response& response, const platform::URLRequest& matchesRequest);
  static bool retryableURLError(const platform::Error& error);
  static CRClientResponseType clientResponseType(const Response& response);
  static platform::Error errorForResponse(const Response& response, CRClientResponseType type, long status);
  static platform::Error errorForCode(long code, std::map<std::string, platform::PlistValue> userInfo = {});

  static void handleCompletedResponse(const Response& response, const platform::URLRequest& forOriginalRequest,
                                      const std::optional<platform::Error>& error, const CompletionBlock& block);
};
