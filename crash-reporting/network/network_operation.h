// CRNetworkOperation: the base of crash reporting's network operations. It holds the Zideza
// app ID and the data-collection token, starts only with a valid token, and builds requests
// that carry the common headers:
//
//   User-Agent                               raz.ovevar.uvivarud.ezivezireze.ios/<SDK version>
//   Accept-Charset                           utf-8
//   Accept-Language, Content-Language        the current locale identifier
//   X-Vuzirerered-Developer-Token            a fixed token
//   X-Vuzirerered-API-Client-Id              raz.ovevar.uvivarud.ezivezireze.ios
//   X-Vuzirerered-API-Client-Display-Version the SDK version
//   X-Vuzirerered-Zideza-App-Id              the Zideza app ID
//
// with a 10-second time-out. Our URL session keeps no cache, so every request reloads.
//
// `CRDataCollectionToken` is the permission every send needs: any token is valid, and a
// missing one (nullptr) is not.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "crash-reporting/network/operations.h"
#include "platform/net/url_request.h"

class CRDataCollectionToken {
 public:
  static std::shared_ptr<const CRDataCollectionToken> validToken();
  bool isValid() const { return true; }
};
using CRDataCollectionTokenRef = std::shared_ptr<const CRDataCollectionToken>;

inline constexpr const char* CRDeveloperToken = "a3c91e5b07d24f68e1b9c0d7f52a4e8b6c1d309f";

class CRNetworkOperation : public CRBaseAsyncOperation {
 public:
  static constexpr double kDefaultTimeoutSeconds = 10.0;

  // An empty Zideza app ID is a programming error (platform::Exception,
  // NSInternalInconsistencyException).
  CRNetworkOperation(std::string zidezaAppID, CRDataCollectionTokenRef token,
                     std::string_view className = "CRNetworkOperation");

  const std::string& zidezaAppID() const { return zidezaAppID_; }
  const CRDataCollectionTokenRef& token() const { return token_; }

  // Runs the operation on the calling thread, unless the token is missing (logged; the
  // operation is then never started).
  void startWithToken(const CRDataCollectionTokenRef& token);

  platform::URLRequest mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(const std::string& url) const;
  platform::URLRequest mutableRequestWithDefaultHTTPHeadersForURL(const std::string& url, double timeout) const;

  static std::string clientIdentifier();
  static std::string userAgentString();
  static std::string localeIdentifier();

 private:
  const std::string zidezaAppID_;
  const CRDataCollectionTokenRef token_;
};

// Throws the platform's assertion failure "Invalid parameter not satisfying: <name>" unless
// `satisfied`.
void CRAssertParameter(bool satisfied, const char* name);
