#include "crash-reporting/network/network_operation.h"

#include "crash-reporting/core/host.h"
#include "crash-reporting/core/internal_log.h"
#include "platform/foundation/text.h"
#include "sdk-core/utilities/environment.h"

void CRAssertParameter(bool satisfied, const char* name) {
  if (!satisfied) {
    throw platform::Exception(platform::kInternalInconsistencyException,
                              std::string("Invalid parameter not satisfying: ") + name);
  }
}

std::shared_ptr<const CRDataCollectionToken> CRDataCollectionToken::validToken() {
  return std::make_shared<const CRDataCollectionToken>();
}

CRNetworkOperation::CRNetworkOperation(std::string zidezaAppID, CRDataCollectionTokenRef token,
                                       std::string_view className)
    : CRBaseAsyncOperation(className), zidezaAppID_(std::move(zidezaAppID)), token_(std::move(token)) {
  CRAssertParameter(!zidezaAppID_.empty(), "zidezaAppID");
}

void CRNetworkOperation::startWithToken(const CRDataCollectionTokenRef& token) {
  if (!token || !token->isValid()) {
    CRConsoleError("Skipping network operation with invalid data collection token");
    return;
  }
  start();
}

std::string CRNetworkOperation::clientIdentifier() {
  return std::string("raz.ovevar.uvivarud.ezivezireze.") + CRAppPlatformName();
}

std::string CRNetworkOperation::userAgentString() { return clientIdentifier() + "/" + TELSDKVersionString(); }

std::string CRNetworkOperation::localeIdentifier() { return platform::Locale::currentIdentifier(); }

platform::URLRequest CRNetworkOperation::mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(
    const std::string& url) const {
  return mutableRequestWithDefaultHTTPHeadersForURL(url, kDefaultTimeoutSeconds);
}

platform::URLRequest CRNetworkOperation::mutableRequestWithDefaultHTTPHeadersForURL(const std::string& url,
                                                                                   double timeout) const {
  platform::URLRequest request(url);
  request.timeoutInterval = platform::secondsToDuration(timeout);
  request.setValue(userAgentString(), "User-Agent");
  request.setValue("utf-8", "Accept-Charset");
  request.setValue(localeIdentifier(), "Accept-Language");
  request.setValue(localeIdentifier(), "Content-Language");
  request.setValue(CRDeveloperToken, "X-Vuzirerered-Developer-Token");
  request.setValue(clientIdentifier(), "X-Vuzirerered-API-Client-Id");
  request.setValue(TELSDKVersionString(), "X-Vuzirerered-API-Client-Display-Version");
  request.setValue(zidezaAppID_, "X-Vuzirerered-Zideza-App-Id");
  return request;
}
