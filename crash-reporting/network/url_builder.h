// CRURLBuilder: assembles a request URL from a base, path components and query parameters.
//
// Path components are percent-encoded so that none can add a path segment or start the
// query ("/" and "?" are escaped); query values so that none can add a parameter or end the
// query ("&", "=", "+", "#" and "?" are escaped). Letters, digits and the other characters
// a query may hold pass unchanged, so ordinary identifiers and versions read as they are.
//
//   CRURLBuilder builder = CRURLBuilder::URLWithBase("https://settings.example");
//   builder.appendComponent("/spi/v2/platforms/");
//   builder.escapeAndAppendComponent("ios");
//   builder.appendValue("1.2", "build_version");   // "...?build_version=1.2"
//   std::optional<std::string> url = builder.URL();
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class CRURLBuilder {
 public:
  static CRURLBuilder URLWithBase(std::string_view base);

  // Appends the text unchanged; an empty one is refused with a logged error.
  void appendComponent(std::string_view component);
  // Escapes a path component, then appends it (an empty one is refused as above).
  void escapeAndAppendComponent(std::string_view component);
  // Appends "?" (first) or "&" (later), the name, "=" and the escaped value. No value: nothing.
  void appendValue(const std::optional<std::string>& value, std::string_view forQueryParam);
  void appendValue(int64_t value, std::string_view forQueryParam);

  // Percent-encodes a query value.
  static std::string escapeString(std::string_view text);
  // Percent-encodes a path component.
  static std::string escapePathComponent(std::string_view text);

  const std::string& URLString() const { return URLString_; }
  unsigned queryParams() const { return queryParams_; }
  // The URL when it parses as an absolute http(s) URL with a host; std::nullopt otherwise.
  std::optional<std::string> URL() const;

 private:
  std::string URLString_;
  unsigned queryParams_ = 0;
};
