#include "crash-reporting/network/url_builder.h"

#include <curl/curl.h>

#include <memory>

#include "crash-reporting/core/internal_log.h"

namespace {

bool isAlphanumeric(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string percentEncode(std::string_view text, std::string_view allowedPunctuation) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (isAlphanumeric(c) || allowedPunctuation.find(static_cast<char>(c)) != std::string_view::npos) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

void refuseEmptyComponent() { CRConsoleError("URLBuilder parameter component must not be empty"); }

}  // namespace

CRURLBuilder CRURLBuilder::URLWithBase(std::string_view base) {
  CRURLBuilder builder;
  builder.URLString_ = std::string(base);
  return builder;
}

// What a URL query may hold, less the characters that would change its structure.
std::string CRURLBuilder::escapeString(std::string_view text) { return percentEncode(text, "-._~!$'()*,;:@/"); }

std::string CRURLBuilder::escapePathComponent(std::string_view text) {
  return percentEncode(text, "-._~!$&'()*+,;=:@");
}

void CRURLBuilder::appendComponent(std::string_view component) {
  if (component.empty()) return refuseEmptyComponent();
  URLString_ += component;
}

void CRURLBuilder::escapeAndAppendComponent(std::string_view component) {
  appendComponent(escapePathComponent(component));
}

void CRURLBuilder::appendValue(const std::optional<std::string>& value, std::string_view forQueryParam) {
  if (!value) return;
  URLString_ += queryParams_ == 0 ? '?' : '&';
  ++queryParams_;
  URLString_ += forQueryParam;
  URLString_ += '=';
  URLString_ += escapeString(*value);
}

void CRURLBuilder::appendValue(int64_t value, std::string_view forQueryParam) {
  appendValue(std::optional<std::string>(std::to_string(value)), forQueryParam);
}

std::optional<std::string> CRURLBuilder::URL() const {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), &curl_url_cleanup);
  if (!url || curl_url_set(url.get(), CURLUPART_URL, URLString_.c_str(), 0) != CURLUE_OK) return std::nullopt;
  char* scheme = nullptr;
  if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) return std::nullopt;
  const std::string schemeText = scheme;
  curl_free(scheme);
  if (schemeText != "http" && schemeText != "https") return std::nullopt;
  char* host = nullptr;
  if (curl_url_get(url.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK) return std::nullopt;
  const bool hasHost = host[0] != '\0';
  curl_free(host);
  if (!hasHost) return std::nullopt;
  return URLString_;
}
