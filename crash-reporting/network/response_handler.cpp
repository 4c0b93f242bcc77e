#include "crash-reporting/network/response_handler.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

struct ContentType {
  std::string_view mediaType;
  std::optional<std::string_view> charset;
};

ContentType parseContentType(std::string_view text) {
  ContentType result;
  size_t semicolon = text.find(';');
  result.mediaType = trimmed(text.substr(0, semicolon));
  while (semicolon != std::string_view::npos) {
    text.remove_prefix(semicolon + 1);
    semicolon = text.find(';');
    std::string_view parameter = text.substr(0, semicolon);
    const size_t equals = parameter.find('=');
    if (equals == std::string_view::npos) continue;
    if (!equalsIgnoringCase(trimmed(parameter.substr(0, equals)), "charset")) continue;
    std::string_view value = trimmed(parameter.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    result.charset = value;
  }
  return result;
}

// Codes of the URL-loading domain that no retry can fix.
bool isPermanentURLErrorCode(long code) {
  switch (code) {
    case -1022: case -1013: case -1012: case -1010: case -1007: case -1002: case -1000: case -995:
    case -1103: case -1101: case -1100:
      return true;
    default:
      return code >= -1206 && code <= -1200;
  }
}

}  // namespace

std::optional<std::string> CRNetworkResponseHandler::headerForResponse(const Response& response, std::string_view key) {
  if (!response) return std::nullopt;
  return response->valueForHTTPHeaderField(key);
}

double CRNetworkResponseHandler::retryValueForResponse(const Response& response) {
  constexpr double kDefault = 2.0;
  const auto header = headerForResponse(response, "Retry-After");
  if (!header) return kDefault;
  const std::string text(trimmed(*header));
  if (text.empty()) return kDefault;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value) || value < 0) return kDefault;
  return value;
}

std::optional<std::string> CRNetworkResponseHandler::requestIdForResponse(const Response& response) {
  return headerForResponse(response, "X-Request-Id");
}

long CRNetworkResponseHandler::cancelReasonFromURLError(const platform::Error& error) {
  if (error.domain != platform::kURLErrorDomain || error.code != platform::kURLErrorCancelled) return -1;
  const auto found = error.userInfo.find(CRURLErrorBackgroundTaskCancelledReasonKey);
  if (found == error.userInfo.end()) return -1;
  const auto value = found->second.toInt64();
  return value ? static_cast<long>(*value) : -1;
}

bool CRNetworkResponseHandler::contentTypeForResponse(const Response& response,
                                                      const platform::URLRequest& matchesRequest) {
  const auto accept = matchesRequest.valueForHTTPHeaderField("Accept");
  if (!accept) return true;
  const auto header = headerForResponse(response, "Content-Type");
  if (!header) return false;
  const ContentType contentType = parseContentType(*header);
  if (!equalsIgnoringCase(contentType.mediaType, trimmed(*accept))) return false;
  const auto acceptCharset = matchesRequest.valueForHTTPHeaderField("Accept-Charset");
  if (!acceptCharset || !contentType.charset) return true;
  return equalsIgnoringCase(*contentType.charset, trimmed(*acceptCharset));
}

bool CRNetworkResponseHandler::retryableURLError(const platform::Error& error) {
  return error.domain == platform::kURLErrorDomain && !isPermanentURLErrorCode(error.code);
}

CRClientResponseType CRNetworkResponseHandler::clientResponseType(const Response& response) {
  if (!response) return CRClientResponseType::Invalid;
  const long status = response->statusCode;
  switch (status) {
    case 200: case 201: case 202: case 204: case 304:
      return CRClientResponseType::Success;
    case 400: case 401: case 403: case 404: case 406: case 410: case 411: case 413: case 419: case 422: case 431:
      return CRClientResponseType::Failure;
    case 408:
      return CRClientResponseType::Retry;
    case 420: case 429:
      return CRClientResponseType::BackOff;
    default:
      return status >= 500 && status <= 599 ? CRClientResponseType::Retry : CRClientResponseType::Invalid;
  }
}

platform::Error CRNetworkResponseHandler::errorForCode(long code, std::map<std::string, platform::PlistValue> userInfo) {
  return platform::Error(CRNetworkErrorDomain, code, std::move(userInfo));
}

namespace {

std::map<std::string, platform::PlistValue> userInfoForResponse(const CRNetworkResponseHandler::Response& response,
                                                               CRClientResponseType type, long status) {
  using Handler = CRNetworkResponseHandler;
  return {
      {CRNetworkErrorTypeKey, platform::PlistValue(static_cast<long>(type))},
      {CRNetworkErrorStatusCodeKey, platform::PlistValue(status)},
      {CRNetworkErrorRequestIdKey, platform::PlistValue(Handler::requestIdForResponse(response).value_or(""))},
      {CRNetworkErrorContentTypeKey,
       platform::PlistValue(Handler::headerForResponse(response, "Content-Type").value_or(""))},
  };
}

}  // namespace

platform::Error CRNetworkResponseHandler::errorForResponse(const Response& response, CRClientResponseType type,
                                                           long status) {
  long code = CRNetworkErrorCodeInvalidResponse;
  if (type == CRClientResponseType::Retry || type == CRClientResponseType::BackOff) code = CRNetworkErrorCodeRequestFailed;
  if (type == CRClientResponseType::Failure) code = CRNetworkErrorCodeFailureResponse;
  return errorForCode(code, userInfoForResponse(response, type, status));
}

void CRNetworkResponseHandler::handleCompletedResponse(const Response& response,
                                                       const platform::URLRequest& forOriginalRequest,
                                                       const std::optional<platform::Error>& error,
                                                       const CompletionBlock& block) {
  if (error) return block(retryableURLError(*error), error);
  const CRClientResponseType type = clientResponseType(response);
  const long status = response ? response->statusCode : 0;
  switch (type) {
    case CRClientResponseType::Success:
      if (contentTypeForResponse(response, forOriginalRequest)) return block(false, std::nullopt);
      // A success of the wrong content type: the body is not what was asked for.
      return block(false, errorForCode(CRNetworkErrorCodeInvalidResponse, userInfoForResponse(response, type, status)));
    case CRClientResponseType::Invalid:
    case CRClientResponseType::Failure:
      return block(false, errorForResponse(response, type, status));
    case CRClientResponseType::Retry:
    case CRClientResponseType::BackOff:
      return block(true, errorForResponse(response, type, status));
  }
}
