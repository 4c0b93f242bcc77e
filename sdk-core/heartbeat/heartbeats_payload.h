// HeartbeatsPayload: the heartbeats grouped by user agent, as the installations requests
// send them in the "X-telemetry-client" header. The header value is the payload's JSON,
// gzip-compressed, in URL-safe Base64 without padding:
//
//   {"heartbeats":[{"agent":"tel-ios\/10.27.0","dates":["2026-12-10"]}],"version":2}
//
// Plain values; every function here may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/date.h"

// Something that is sent as the value of an HTTP header.
class HTTPHeaderRepresentable {
 public:
  virtual ~HTTPHeaderRepresentable() = default;
  virtual std::string headerValue() const = 0;
};

struct HeartbeatsPayload final : HTTPHeaderRepresentable {
  struct UserAgentPayload {
    std::string agent;
    std::vector<platform::Date> dates;
    friend bool operator==(const UserAgentPayload&, const UserAgentPayload&) = default;
  };

  std::vector<UserAgentPayload> userAgentPayloads;
  int64_t version = 2;

  HeartbeatsPayload() = default;
  HeartbeatsPayload(std::vector<UserAgentPayload> entries, int64_t version = 2)
      : userAgentPayloads(std::move(entries)), version(version) {}

  // No entries, version 2.
  static const HeartbeatsPayload& emptyPayload();

  bool isEmpty() const { return userAgentPayloads.empty(); }
  // The JSON text: keys in the order above, "/" written as "\/", dates as "yyyy-MM-dd" (UTC).
  std::string jsonString() const;
  // gzip of the JSON (the JSON itself when compression fails), in URL-safe Base64 without "=".
  std::string headerValue() const override;

  friend bool operator==(const HeartbeatsPayload& a, const HeartbeatsPayload& b) {
    return a.userAgentPayloads == b.userAgentPayloads && a.version == b.version;
  }
};

// A date's UTC calendar day as "yyyy-MM-dd".
std::string heartbeatDayString(platform::Date date);

// Standard Base64 without line breaks, then "/" → "_", "+" → "-", and every "=" removed.
std::string base64URLString(const std::vector<uint8_t>& bytes);
// The reverse: "_" → "/", "-" → "+", "=" appended to a multiple of four, standard Base64
// decoding; std::nullopt for text that is not valid Base64.
std::optional<std::vector<uint8_t>> dataFromBase64URL(const std::string& text);
