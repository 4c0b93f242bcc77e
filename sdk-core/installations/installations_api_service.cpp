#include "sdk-core/installations/installations_api_service.h"

#include <nlohmann/json.hpp>

#include "platform/dispatch/queue.h"
#include "platform/foundation/bundle.h"
#include "sdk-core/core/endpoints.h"
#include "sdk-core/utilities/environment.h"
#include "sdk-core/utilities/json_nesting.h"
#include "sdk-core/utilities/logger.h"
#include "sdk-core/installations/installations_errors.h"
#include "sdk-core/installations/installations_logger.h"

namespace {

constexpr const char* kAPIKeyHeader = "X-Zideza-Api-Key";
constexpr const char* kBundleIdentifierHeader = "X-Ios-Bundle-Identifier";
constexpr const char* kAuthorizationHeader = "Authorization";
constexpr const char* kHeartbeatHeader = "X-telemetry-client";
constexpr const char* kMigrationHeader = "x-zideza-tis-ios-iid-migration-auth";
constexpr const char* kRedacted = "<redacted>";
constexpr double kRetryDelay = 1.0;

std::string text(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

// Whether a debug line is written at all: the redacted bodies it would show cost a JSON parse
// and print each, on the way of every request and response.
bool writesDebugLines() { return UTLLoggerIsInDebugMode() || UTLLoggerMaximumLevel() >= UTLLoggerLevel::Debug; }

// Where requests are built and sent.
std::shared_ptr<platform::DispatchQueue> utilityQueue() { return platform::DispatchQueue::global(platform::QoS::Utility); }

std::string requestDescription(const platform::URLRequest& request) {
  return "<" + request.httpMethod + " " + request.url + ">";
}

void redactTokens(nlohmann::json& json) {
  if (json.is_object()) {
    for (auto& [key, value] : json.items()) {
      if ((key == "token" || key == "refreshToken") && value.is_string()) {
        value = kRedacted;
      } else {
        redactTokens(value);
      }
    }
  } else if (json.is_array()) {
    for (auto& value : json) redactTokens(value);
  }
}

}  // namespace

TELInstallationsAPIService::TELInstallationsAPIService(std::string APIKey, std::string projectID,
                                                       std::shared_ptr<TELHeartbeatLoggerProtocol> heartbeatLogger)
    : TELInstallationsAPIService(
          platform::URLSession::make(platform::URLSessionConfiguration::ephemeralSessionConfiguration()),
          std::move(APIKey), std::move(projectID), std::move(heartbeatLogger)) {}

TELInstallationsAPIService::TELInstallationsAPIService(std::shared_ptr<platform::URLSession> URLSession,
                                                       std::string APIKey, std::string projectID,
                                                       std::shared_ptr<TELHeartbeatLoggerProtocol> heartbeatLogger)
    : URLSession_(std::move(URLSession)),
      APIKey_(std::move(APIKey)),
      projectID_(std::move(projectID)),
      heartbeatLogger_(std::move(heartbeatLogger)) {}

std::string TELInstallationsAPIService::SDKVersion() { return "i:" + TELSDKVersionString(); }

std::string TELInstallationsAPIService::redactedHeaders(const platform::HTTPHeaders& headers) {
  std::string out = "{";
  for (const auto& [name, value] : headers.fields()) {
    if (out.size() > 1) out += ", ";
    // The legacy token of the migration header is a credential as well.
    const platform::HTTPHeaders field{{name, ""}};
    const bool secret = field.contains(kAPIKeyHeader) || field.contains(kAuthorizationHeader) ||
                        field.contains(kMigrationHeader);
    out += name + ": " + (secret ? std::string(kRedacted) : value);
  }
  return out + "}";
}

std::string TELInstallationsAPIService::redactedBody(const std::vector<uint8_t>& body) {
  const std::string_view bytes(reinterpret_cast<const char*>(body.data()), body.size());
  if (!UTLJSONNestingWithin(bytes)) return text(body);
  auto json = nlohmann::json::parse(bytes, nullptr, false);
  if (json.is_discarded()) return text(body);
  redactTokens(json);
  return json.dump();
}

// ---- Requests --------------------------------------------------------------------------

PRMPromise::Ptr TELInstallationsAPIService::requestWithURL(
    const std::string& URL, const std::string& HTTPMethod, const std::string& bodyJSON,
    const std::optional<std::string>& refreshToken,
    const std::vector<std::pair<std::string, std::string>>& additionalHeaders,
    const std::shared_ptr<platform::URLSession>& sendWith) {
  auto logger = heartbeatLogger_;
  const std::string APIKey = APIKey_;
  return PRMPromise::asyncOn(utilityQueue(), [=](auto fulfill, auto) {
    platform::URLRequest request(URL);
    request.httpMethod = HTTPMethod;
    request.setValue(APIKey, kAPIKeyHeader);
    request.setValue(platform::Bundle::main()->bundleIdentifier().value_or(""), kBundleIdentifierHeader);
    request.setValue("application/json", "Content-Type");
    request.setHTTPBody(bodyJSON);
    if (refreshToken) request.setValue("TIS_v2 " + *refreshToken, kAuthorizationHeader);
    if (logger) {
      if (auto header = TELHeaderValueOfHeartbeatsPayload(logger->flushHeartbeatsIntoPayload())) {
        request.setValue(*header, kHeartbeatHeader);
      }
    }
    for (const auto& [name, value] : additionalHeaders) request.setValue(value, name);
    if (sendWith) {
      fulfill(sendURLRequestWithSession(sendWith, request));
    } else {
      fulfill(request);
    }
  });
}

PRMPromise::Ptr TELInstallationsAPIService::registerRequestWithInstallation(
    const std::shared_ptr<TELInstallationsItem>& installation) {
  return registerRequest(installation, nullptr);
}

PRMPromise::Ptr TELInstallationsAPIService::authTokenRequestWithInstallation(
    const std::shared_ptr<TELInstallationsItem>& installation) {
  return authTokenRequest(installation, nullptr);
}

PRMPromise::Ptr TELInstallationsAPIService::deleteInstallationRequestWithInstallation(
    const std::shared_ptr<TELInstallationsItem>& installation) {
  return deleteRequest(installation, nullptr);
}

PRMPromise::Ptr TELInstallationsAPIService::registerRequest(const std::shared_ptr<TELInstallationsItem>& installation,
                                                            const std::shared_ptr<platform::URLSession>& sendWith) {
  const std::string URL = TELEndpoints::installationsBaseURL() + "/v1/projects/" + projectID_ + "/installations/";
  nlohmann::ordered_json body;
  body["instId"] = installation->telemetryInstallationID.value_or("");
  body["authVersion"] = "TIS_v2";
  body["appId"] = installation->appID();
  body["sdkVersion"] = SDKVersion();
  std::vector<std::pair<std::string, std::string>> headers;
  if (installation->IIDDefaultToken) headers.emplace_back(kMigrationHeader, *installation->IIDDefaultToken);
  return requestWithURL(URL, "POST", body.dump(), std::nullopt, headers, sendWith);
}

PRMPromise::Ptr TELInstallationsAPIService::authTokenRequest(const std::shared_ptr<TELInstallationsItem>& installation,
                                                             const std::shared_ptr<platform::URLSession>& sendWith) {
  const std::string URL = TELEndpoints::installationsBaseURL() + "/v1/projects/" + projectID_ + "/installations/" +
                          installation->telemetryInstallationID.value_or("") + "/authTokens:generate";
  nlohmann::ordered_json body;
  body["installation"]["sdkVersion"] = SDKVersion();
  return requestWithURL(URL, "POST", body.dump(), installation->refreshToken, {}, sendWith);
}

PRMPromise::Ptr TELInstallationsAPIService::deleteRequest(const std::shared_ptr<TELInstallationsItem>& installation,
                                                          const std::shared_ptr<platform::URLSession>& sendWith) {
  const std::string URL = TELEndpoints::installationsBaseURL() + "/v1/projects/" + projectID_ + "/installations/" +
                          installation->telemetryInstallationID.value_or("") + "/";
  return requestWithURL(URL, "DELETE", "{}", installation->refreshToken, {}, sendWith);
}

// ---- Sending ---------------------------------------------------------------------------

PRMPromise::Ptr TELInstallationsAPIService::URLRequestPromise(const std::shared_ptr<platform::URLSession>& session,
                                                              const platform::URLRequest& request) {
  // Sent from the thread that asks: a request built on the utility queue leaves from there,
  // in the block that built it.
  auto sent = PRMPromise::pendingPromise();
  if (writesDebugLines()) {
    TELLoggerLogDebug(kTELInstallationsLoggerService, "I-TIS001001", "Sending request: %s, body:%s, headers: %s.",
                      requestDescription(request).c_str(),
                      redactedBody(request.httpBody.value_or(std::vector<uint8_t>{})).c_str(),
                      redactedHeaders(request.allHTTPHeaderFields).c_str());
  }
  auto task = session->dataTask(request, [request, sent](auto data, auto response, auto error) {
    if (error || !response) {
      const platform::Error failure =
          error ? *error : platform::makeURLError(platform::kURLErrorBadServerResponse, request.url);
      TELLoggerLogDebug(kTELInstallationsLoggerService, "I-TIS001002", "Request failed: %s, error: %s.",
                        requestDescription(request).c_str(), failure.localizedDescription().c_str());
      sent->reject(failure);
      return;
    }
    const std::vector<uint8_t> body = data.value_or(std::vector<uint8_t>{});
    if (writesDebugLines()) {
      TELLoggerLogDebug(kTELInstallationsLoggerService, "I-TIS001003",
                        "Request response received: %s, error: (null), body: %s.", requestDescription(request).c_str(),
                        redactedBody(body).c_str());
    }
    sent->fulfill(TELInstallationsURLSessionResponse{*response, body});
  });
  if (task) {
    task->resume();
  } else {
    sent->reject(platform::makeURLError(platform::kURLErrorCancelled, request.url));
  }
  return validateHTTPResponseStatusCode(sent);
}

PRMPromise::Ptr TELInstallationsAPIService::validateHTTPResponseStatusCode(const PRMPromise::Ptr& response) {
  return response->then([](const PRMObject& value) -> PRMObject {
    const auto& response = *value.get<TELInstallationsURLSessionResponse>();
    const long status = response.HTTPResponse.statusCode;
    if (status >= 200 && status <= 299) return value;
    if (writesDebugLines()) {
      TELLoggerLogDebug(kTELInstallationsLoggerService, "I-TIS001004", "Unexpected API response: %s, body: %s.",
                        ("<" + std::to_string(status) + " " + response.HTTPResponse.url + ">").c_str(),
                        redactedBody(response.data).c_str());
    }
    return TELInstallationsErrorUtil::APIErrorWithHTTPResponse(response.HTTPResponse, response.data);
  });
}

PRMPromise::Ptr TELInstallationsAPIService::sendURLRequest(const platform::URLRequest& request) {
  return sendURLRequestWithSession(URLSession_, request);
}

PRMPromise::Ptr TELInstallationsAPIService::sendURLRequestWithSession(
    const std::shared_ptr<platform::URLSession>& session, const platform::URLRequest& request) {
  return PRMPromise::attempts(
      1, kRetryDelay,
      [](std::int64_t, const platform::Error& error) { return TELInstallationsErrorUtil::isAPIError(error, 500); },
      [session, request]() -> PRMObject { return URLRequestPromise(session, request); });
}

// ---- Operations ------------------------------------------------------------------------

PRMPromise::Ptr TELInstallationsAPIService::parseReply(const PRMPromise::Ptr& response, const ReplyParser& parser) {
  return response->then([parser](const PRMObject& value) -> PRMObject {
        const auto& response = *value.get<TELInstallationsURLSessionResponse>();
        TELLoggerLogDebug(kTELInstallationsLoggerService, "I-TIS001005", "Parsing server response for %s.",
                          response.HTTPResponse.url.c_str());
        platform::Error error;
        PRMObject parsed = parser.parse(response.data, platform::Date::now(), &error);
        if (!parsed) {
          TELLoggerLogDebug(kTELInstallationsLoggerService, parser.failureCode, "Failed to parse %s: %s.",
                            parser.typeName, error.localizedDescription().c_str());
          return error;
        }
        TELLoggerLogDebug(kTELInstallationsLoggerService, parser.successCode, "%s parsed successfully.",
                          parser.typeName);
        return parsed;
      });
}

PRMPromise::Ptr TELInstallationsAPIService::registerInstallation(
    const std::shared_ptr<TELInstallationsItem>& installation) {
  platform::Error invalid;
  if (!installation->isValid(&invalid)) return TELInstallationsErrorUtil::rejectedPromiseWithError(invalid);
  return parseReply(registerRequest(installation, URLSession_),
                      {"TELInstallationsItem", "I-TIS001006", "I-TIS001007",
                       [installation](const std::vector<uint8_t>& data, platform::Date date, platform::Error* error) {
                         auto registered = installation->registeredInstallationWithJSONData(data, date, error);
                         return registered ? PRMObject(registered) : PRMObject();
                       }});
}

PRMPromise::Ptr TELInstallationsAPIService::refreshAuthTokenForInstallation(
    const std::shared_ptr<TELInstallationsItem>& installation) {
  return parseReply(authTokenRequest(installation, URLSession_),
                      {"TELInstallationsStoredAuthToken", "I-TIS001008", "I-TIS001009",
                       [installation](const std::vector<uint8_t>& data, platform::Date date, platform::Error* error) {
                         auto token = TELInstallationsItem::authTokenWithGenerateTokenAPIJSONData(data, date, error);
                         if (!token) return PRMObject();
                         auto updated = installation->copy();
                         updated->authToken = token;
                         return PRMObject(updated);
                       }});
}

PRMPromise::Ptr TELInstallationsAPIService::deleteInstallation(
    const std::shared_ptr<TELInstallationsItem>& installation) {
  return deleteRequest(installation, URLSession_)->then([installation](const PRMObject&) -> PRMObject {
    return installation;
  });
}
