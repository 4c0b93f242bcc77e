// The wire format of event uploads: the log request built from a batch's events, the
// collector's log response, gzip of the body, and the small JSON object an event may carry
// in its custom bytes (event code, network connection info).
//
// Building is a pure function of the events, the clock and the device facts read at the
// call; every allocation of the message is released right after encoding. Any thread.
//
//   std::vector<uint8_t> body = UPConstructRequestProtoWithEvents(batch->events);
//   auto gz = UPCompressionHelper::gzippedData(body);   // std::nullopt for empty input
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "transport/events/event.h"

// The encoded LogBatchRequest of the events, one LogRequest per mapping ID. Empty when
// encoding failed (never a partly written buffer).
std::vector<uint8_t> UPConstructRequestProtoWithEvents(const ETEventSet& events);

// What the upload reads of the collector's reply.
struct UPLogResponse {
  std::optional<int64_t> nextRequestWaitMillis;
};

// The decoded reply; on failure std::nullopt and `error` (URL error domain, code -1, user
// info "nanopb error:" holding the codec's text or "(none)").
std::optional<UPLogResponse> UPDecodeLogReply(const std::vector<uint8_t>& data, platform::Error* error);

struct UPCompressionHelper {
  // One gzip member (zlib's fastest level, 32 KiB window); std::nullopt for empty or
  // oversized input or when zlib fails.
  static std::optional<std::vector<uint8_t>> gzippedData(const std::vector<uint8_t>& data);
  // At least 2 bytes beginning 0x1F 0x8B.
  static bool isGzipped(const std::vector<uint8_t>& data);
};

// The network facts a log event reports, in the form the custom bytes hold.
struct UPNetworkConnectionInfo {
  std::optional<int32_t> networkType;
  std::optional<uint32_t> mobileSubtype;
};
// The 16-byte form: byte 0 presence of the type, 4-7 the type (little-endian), byte 8
// presence of the subtype, 12-15 the subtype. Missing bytes read as 0.
UPNetworkConnectionInfo UPNetworkConnectionInfoFromBytes(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> UPNetworkConnectionInfoBytes(const UPNetworkConnectionInfo& info);

// The custom-bytes accessors of an event. Failures are logged and leave the bytes as
// they were, unless the JSON could not be written back (then the bytes are cleared).
struct ETEventCustomBytes {
  static std::optional<int64_t> eventCode(const ETEvent& event);
  static void setEventCode(ETEvent& event, std::optional<int64_t> code);
  static bool needsNetworkConnectionInfoPopulated(const ETEvent& event);
  static void setNeedsNetworkConnectionInfoPopulated(ETEvent& event, bool needs);
  static std::optional<std::vector<uint8_t>> networkConnectionInfoData(const ETEvent& event);
  static void setNetworkConnectionInfoData(ETEvent& event, const std::vector<uint8_t>& data);
};
