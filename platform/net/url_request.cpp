#include "platform/net/url_request.h"

#include <algorithm>
#include <cctype>

namespace platform {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

const char* describeURLError(long code) {
  switch (code) {
    case kURLErrorCancelled:
      return "The request was cancelled.";
    case kURLErrorBadURL:
      return "The request is malformed.";
    case kURLErrorTimedOut:
      return "The request timed out.";
    case kURLErrorUnsupportedURL:
      return "The URL is not supported.";
    case kURLErrorCannotFindHost:
      return "The server's host name could not be found.";
    case kURLErrorCannotConnectToHost:
      return "Could not connect to the server.";
    case kURLErrorNetworkConnectionLost:
      return "The network connection was lost.";
    case kURLErrorHTTPTooManyRedirects:
      return "Too many HTTP redirects.";
    case kURLErrorResourceUnavailable:
      return "The resource is unavailable.";
    case kURLErrorNotConnectedToInternet:
      return "The device is not connected to a network.";
    case kURLErrorBadServerResponse:
      return "The server's reply could not be understood.";
    case kURLErrorSecureConnectionFailed:
      return "A secure connection to the server could not be made.";
    case kURLErrorServerCertificateUntrusted:
      return "The server's certificate is not trusted.";
    case kURLErrorCannotCreateFile:
      return "The downloaded file could not be created.";
    case kURLErrorCannotWriteToFile:
      return "The downloaded file could not be written.";
    default:
      return "An unknown network error occurred.";
  }
}

}  // namespace

Error makeURLError(long code, const std::string& failingURL, const std::string& detail) {
  std::map<std::string, PlistValue> userInfo;
  std::string description = describeURLError(code);
  if (!detail.empty()) description += " (" + detail + ")";
  userInfo[kErrorLocalizedDescriptionKey] = description;
  if (!failingURL.empty()) userInfo[kURLErrorFailingURLStringKey] = failingURL;
  return Error(kURLErrorDomain, code, std::move(userInfo));
}

HTTPHeaders::HTTPHeaders(std::initializer_list<Field> fields) {
  for (const auto& [name, value] : fields) set(name, value);
}

const HTTPHeaders::Field* HTTPHeaders::find(std::string_view name) const {
  for (const auto& field : fields_) {
    if (equalsIgnoringCase(field.first, name)) return &field;
  }
  return nullptr;
}

void HTTPHeaders::set(std::string_view name, std::string value) {
  if (auto* field = const_cast<Field*>(find(name))) {
    field->second = std::move(value);
  } else {
    fields_.emplace_back(std::string(name), std::move(value));
  }
}

void HTTPHeaders::add(std::string_view name, std::string_view value) {
  if (auto* field = const_cast<Field*>(find(name))) {
    field->second.append(", ").append(value);
  } else {
    fields_.emplace_back(std::string(name), std::string(value));
  }
}

void HTTPHeaders::remove(std::string_view name) {
  std::erase_if(fields_, [&](const Field& field) { return equalsIgnoringCase(field.first, name); });
}

std::optional<std::string> HTTPHeaders::value(std::string_view name) const {
  if (const auto* field = find(name)) return field->second;
  return std::nullopt;
}

}  // namespace platform
