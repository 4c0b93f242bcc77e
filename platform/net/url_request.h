// The values a URL session works with: header fields, a request, an HTTP response, and the
// errors of the URL-loading domain.
//
// All of them are plain values, safe to copy between threads. Header field names compare
// without regard to case, as HTTP requires; the spelling first set is the one sent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/dispatch/clock.h"
#include "platform/foundation/error.h"

namespace platform {

// The error domain of every failure a URL session reports itself (transport failures,
// time-outs, cancellation). HTTP statuses are not errors: they arrive in the response.
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";
// User-info key holding the URL of the failed request, as text.
inline constexpr const char* kURLErrorFailingURLStringKey = "NSErrorFailingURLStringKey";

// Codes of kURLErrorDomain.
enum URLErrorCode : long {
  kURLErrorUnknown = -1,
  kURLErrorCancelled = -999,
  kURLErrorBadURL = -1000,
  kURLErrorTimedOut = -1001,
  kURLErrorUnsupportedURL = -1002,
  kURLErrorCannotFindHost = -1003,
  kURLErrorCannotConnectToHost = -1004,
  kURLErrorNetworkConnectionLost = -1005,
  kURLErrorHTTPTooManyRedirects = -1007,
  kURLErrorResourceUnavailable = -1008,
  kURLErrorNotConnectedToInternet = -1009,
  kURLErrorBadServerResponse = -1011,
  kURLErrorSecureConnectionFailed = -1200,
  kURLErrorServerCertificateUntrusted = -1202,
  kURLErrorCannotCreateFile = -3000,
  kURLErrorCannotWriteToFile = -3003,
};

// An error of kURLErrorDomain with a readable description and the failing URL.
Error makeURLError(long code, const std::string& failingURL, const std::string& detail = {});

// HTTP header fields in the order they were first set. Lookups ignore case; setting a
// field that exists replaces its value (and keeps its first spelling and position).
class HTTPHeaders {
 public:
  using Field = std::pair<std::string, std::string>;

  HTTPHeaders() = default;
  HTTPHeaders(std::initializer_list<Field> fields);

  void set(std::string_view name, std::string value);
  // Appends `value` to an existing field with ", " (HTTP's rule for repeated fields), or
  // sets it.
  void add(std::string_view name, std::string_view value);
  void remove(std::string_view name);
  std::optional<std::string> value(std::string_view name) const;
  bool contains(std::string_view name) const { return find(name) != nullptr; }

  const std::vector<Field>& fields() const { return fields_; }
  bool empty() const { return fields_.empty(); }
  size_t size() const { return fields_.size(); }

  friend bool operator==(const HTTPHeaders&, const HTTPHeaders&) = default;

 private:
  const Field* find(std::string_view name) const;
  std::vector<Field> fields_;
};

// One HTTP request. `timeoutInterval` is the longest the request may sit idle (no byte
// sent or received, connecting included) before it fails with kURLErrorTimedOut; zero
// (the default) takes the session configuration's timeoutIntervalForRequest.
struct URLRequest {
  std::string url;
  std::string httpMethod = "GET";
  HTTPHeaders allHTTPHeaderFields;
  std::optional<std::vector<uint8_t>> httpBody;
  Duration timeoutInterval = Duration::zero();

  URLRequest() = default;
  explicit URLRequest(std::string url) : url(std::move(url)) {}

  void setValue(std::string value, std::string_view forHTTPHeaderField) {
    allHTTPHeaderFields.set(forHTTPHeaderField, std::move(value));
  }
  void addValue(std::string_view value, std::string_view forHTTPHeaderField) {
    allHTTPHeaderFields.add(forHTTPHeaderField, value);
  }
  std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const {
    return allHTTPHeaderFields.value(name);
  }
  void setHTTPBody(std::string_view text) { httpBody.emplace(text.begin(), text.end()); }

  friend bool operator==(const URLRequest&, const URLRequest&) = default;
};

// The response of an HTTP exchange: the URL that answered (after redirects), its status
// and its header fields.
struct HTTPURLResponse {
  std::string url;
  long statusCode = 0;
  HTTPHeaders allHeaderFields;

  std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const {
    return allHeaderFields.value(name);
  }

  friend bool operator==(const HTTPURLResponse&, const HTTPURLResponse&) = default;
};

}  // namespace platform
