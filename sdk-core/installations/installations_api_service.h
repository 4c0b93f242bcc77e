// TELInstallationsAPIService: the installations client's only contact with the
// installations service (registration, auth-token generation, deletion), over HTTP with
// JSON bodies, at the installations base URL of the SDK's endpoint table.
//
// Every request carries "X-Zideza-Api-Key", "X-Ios-Bundle-Identifier", "Content-Type:
// application/json" and, when the app's heartbeat logger has heartbeats to send,
// "X-telemetry-client" (flushing them: heartbeats flushed into a request that then fails
// are gone). A reply of status 500 is tried once more after 1.0 s; any other failure is
// final. Debug lines never show the API key, the "Authorization" value, the legacy token of
// the migration header or tokens in bodies (they read "<redacted>").
//
// Threads: requests are built and sent on the utility global queue (a repeat after a 500 is
// sent from the default queue), replies arrive on the URL session's queue, later steps run
// on the promise library's default queue. The service keeps no mutable state.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/url_session.h"
#include "sdk-core/heartbeat/heartbeat_controller.h"
#include "sdk-core/installations/installations_item.h"
#include "sdk-core/promises/promise.h"

// What one attempt hands on: the response and its body (empty when there was none).
struct TELInstallationsURLSessionResponse {
  platform::HTTPURLResponse HTTPResponse;
  std::vector<uint8_t> data;
};

class TELInstallationsAPIService {
 public:
  // Over an ephemeral session of its own.
  TELInstallationsAPIService(std::string APIKey, std::string projectID,
                             std::shared_ptr<TELHeartbeatLoggerProtocol> heartbeatLogger);
  TELInstallationsAPIService(std::shared_ptr<platform::URLSession> URLSession, std::string APIKey,
                             std::string projectID, std::shared_ptr<TELHeartbeatLoggerProtocol> heartbeatLogger);

  const std::shared_ptr<platform::URLSession>& URLSession() const { return URLSession_; }
  const std::string& APIKey() const { return APIKey_; }
  const std::string& projectID() const { return projectID_; }

  // Each answers a promise of std::shared_ptr<TELInstallationsItem>: the registered item
  // (status 2), a copy carrying the new auth token, or the item itself once deleted.
  PRMPromise::Ptr registerInstallation(const std::shared_ptr<TELInstallationsItem>& installation);
  PRMPromise::Ptr refreshAuthTokenForInstallation(const std::shared_ptr<TELInstallationsItem>& installation);
  PRMPromise::Ptr deleteInstallation(const std::shared_ptr<TELInstallationsItem>& installation);

  // ---- Steps, public for tests ----
  // Promises of a platform::URLRequest.
  PRMPromise::Ptr registerRequestWithInstallation(const std::shared_ptr<TELInstallationsItem>& installation);
  PRMPromise::Ptr authTokenRequestWithInstallation(const std::shared_ptr<TELInstallationsItem>& installation);
  PRMPromise::Ptr deleteInstallationRequestWithInstallation(const std::shared_ptr<TELInstallationsItem>& installation);
  // Sends with the one repeat on a 500; a promise of TELInstallationsURLSessionResponse.
  PRMPromise::Ptr sendURLRequest(const platform::URLRequest& request);
  // Passes a response of status 200-299 on; rejects any other with the HTTP error.
  static PRMPromise::Ptr validateHTTPResponseStatusCode(const PRMPromise::Ptr& response);
  // "i:10.27.0".
  static std::string SDKVersion();
  // A request or reply text with its secrets replaced by "<redacted>", for debug lines.
  static std::string redactedHeaders(const platform::HTTPHeaders& headers);
  static std::string redactedBody(const std::vector<uint8_t>& body);

 private:
  // How a reply becomes a result: the parsed object, or nil with `error`; the type's name and
  // the codes of its two debug lines.
  struct ReplyParser {
    const char* typeName;
    const char* failureCode;
    const char* successCode;
    std::function<PRMObject(const std::vector<uint8_t>& data, platform::Date date, platform::Error* error)> parse;
  };
  // Parses the reply a promise of TELInstallationsURLSessionResponse brings.
  static PRMPromise::Ptr parseReply(const PRMPromise::Ptr& response, const ReplyParser& parser);
  // The request of each operation, built on the utility queue: a promise of the
  // platform::URLRequest or, with `sendWith`, of the TELInstallationsURLSessionResponse of
  // sending it through that session from the same block.
  PRMPromise::Ptr registerRequest(const std::shared_ptr<TELInstallationsItem>& installation,
                                  const std::shared_ptr<platform::URLSession>& sendWith);
  PRMPromise::Ptr authTokenRequest(const std::shared_ptr<TELInstallationsItem>& installation,
                                   const std::shared_ptr<platform::URLSession>& sendWith);
  PRMPromise::Ptr deleteRequest(const std::shared_ptr<TELInstallationsItem>& installation,
                                const std::shared_ptr<platform::URLSession>& sendWith);
  PRMPromise::Ptr requestWithURL(const std::string& URL, const std::string& HTTPMethod, const std::string& bodyJSON,
                                 const std::optional<std::string>& refreshToken,
                                 const std::vector<std::pair<std::string, std::string>>& additionalHeaders,
                                 const std::shared_ptr<platform::URLSession>& sendWith);
  static PRMPromise::Ptr sendURLRequestWithSession(const std::shared_ptr<platform::URLSession>& session,
                                                   const platform::URLRequest& request);
  static PRMPromise::Ptr URLRequestPromise(const std::shared_ptr<platform::URLSession>& session,
                                           const platform::URLRequest& request);

  std::shared_ptr<platform::URLSession> URLSession_;
  std::string APIKey_;
  std::string projectID_;
  std::shared_ptr<TELHeartbeatLoggerProtocol> heartbeatLogger_;
};
