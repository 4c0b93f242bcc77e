#include "transport/upload/testing/log_collector.h"

#include <pb_decode.h>
#include <pb_encode.h>

#include "transport_log.pb.h"

namespace {

constexpr const char* kUploadPaths[] = {"/v0/log/batch", "/v1/tellog/legacy/batchlog", "/dummy/api/very/long"};

bool readPayload(pb_istream_t* stream, const pb_field_t*, void** arg) {
  auto* out = static_cast<std::vector<uint8_t>*>(*arg);
  const size_t offset = out->size();
  out->resize(offset + stream->bytes_left);
  return pb_read(stream, out->data() + offset, stream->bytes_left);
}

// Each length-delimited field of `tag` in the message bytes, as a byte range.
bool forEachEmbedded(const uint8_t* data, size_t size, uint32_t wanted,
                     const std::function<bool(const uint8_t*, size_t)>& visit) {
  pb_istream_t stream = pb_istream_from_buffer(data, size);
  pb_wire_type_t wireType;
  uint32_t tag = 0;
  bool eof = false;
  while (pb_decode_tag(&stream, &wireType, &tag, &eof)) {
    if (tag == wanted && wireType == PB_WT_STRING) {
      pb_istream_t sub;
      if (!pb_make_string_substream(&stream, &sub)) return false;
      const auto* start = static_cast<const uint8_t*>(sub.state);
      const size_t length = sub.bytes_left;
      if (!visit(start, length)) return false;
      if (!pb_read(&sub, nullptr, sub.bytes_left) || !pb_close_string_substream(&stream, &sub)) return false;
    } else if (!pb_skip_field(&stream, wireType)) {
      return false;
    }
  }
  return eof;
}

// The message bytes without any field of `tag` (so that decoding skips a large repeated field
// whose one-by-one growth would be slow).
std::vector<uint8_t> withoutField(const uint8_t* data, size_t size, uint32_t dropped) {
  std::vector<uint8_t> kept;
  pb_istream_t stream = pb_istream_from_buffer(data, size);
  pb_wire_type_t wireType;
  uint32_t tag = 0;
  bool eof = false;
  while (true) {
    const size_t start = size - stream.bytes_left;
    if (!pb_decode_tag(&stream, &wireType, &tag, &eof) || !pb_skip_field(&stream, wireType)) break;
    const size_t end = size - stream.bytes_left;
    if (tag != dropped) kept.insert(kept.end(), data + start, data + end);
  }
  return kept;
}

std::string text(const pb_bytes_array_t* bytes) {
  return bytes == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(bytes->bytes), bytes->size);
}

}  // namespace

size_t CollectedUpload::eventCount() const {
  size_t count = 0;
  if (requests) {
    for (const auto& request : *requests) count += request.events.size();
  }
  return count;
}

LoopbackLogCollector::LoopbackLogCollector() {
  standing_ = platform::LoopbackResponse{.status = 200, .body = "", .contentType = "application/x-protobuf"};
  for (const char* path : kUploadPaths) {
    server_.on("POST", path, [this](const platform::RecordedRequest& request) { return answer(request); });
  }
}

LoopbackLogCollector::~LoopbackLogCollector() { server_.stop(); }

void LoopbackLogCollector::queue(std::vector<platform::LoopbackResponse> replies) {
  std::lock_guard lock(mutex_);
  for (auto& reply : replies) scripted_.push_back(std::move(reply));
}

void LoopbackLogCollector::setStandingReply(platform::LoopbackResponse reply) {
  std::lock_guard lock(mutex_);
  standing_ = std::move(reply);
}

void LoopbackLogCollector::route(const std::string& path, platform::LoopbackResponse reply) {
  server_.on("POST", path, [reply](const platform::RecordedRequest&) { return reply; });
}

platform::LoopbackResponse LoopbackLogCollector::answer(const platform::RecordedRequest&) {
  std::lock_guard lock(mutex_);
  if (scripted_.empty()) return standing_;
  auto reply = std::move(scripted_.front());
  scripted_.pop_front();
  return reply;
}

platform::LoopbackResponse LoopbackLogCollector::logResponse(int status, std::optional<int64_t> nextRequestWaitMs) {
  LogResponse response = LogResponse_init_default;
  response.has_next_request_wait_ms = nextRequestWaitMs.has_value();
  response.next_request_wait_ms = nextRequestWaitMs.value_or(0);
  uint8_t buffer[64];
  pb_ostream_t stream = pb_ostream_from_buffer(buffer, sizeof(buffer));
  pb_encode(&stream, LogResponse_fields, &response);
  return platform::LoopbackResponse{.status = status,
                                    .body = std::string(reinterpret_cast<char*>(buffer), stream.bytes_written),
                                    .contentType = "application/x-protobuf"};
}

platform::LoopbackResponse LoopbackLogCollector::garbage(int status) {
  return platform::LoopbackResponse{.status = status, .body = "\xff\xff\xff\xff", .contentType = "application/x-protobuf"};
}

std::vector<CollectedUpload> LoopbackLogCollector::uploads() const {
  std::vector<CollectedUpload> uploads;
  for (auto& request : server_.requests()) {
    CollectedUpload upload{request, decodeBatch(request.bodyBytes())};
    uploads.push_back(std::move(upload));
  }
  return uploads;
}

std::optional<std::vector<CollectedLogRequest>> LoopbackLogCollector::decodeBatch(const std::vector<uint8_t>& body) {
  std::vector<CollectedLogRequest> out;
  const bool ok = forEachEmbedded(body.data(), body.size(), 1, [&out](const uint8_t* data, size_t size) {
    LogRequest request = LogRequest_init_default;
    const std::vector<uint8_t> withoutEvents = withoutField(data, size, 3);
    pb_istream_t stream = pb_istream_from_buffer(withoutEvents.data(), withoutEvents.size());
    if (!pb_decode(&stream, LogRequest_fields, &request)) {
      pb_release(LogRequest_fields, &request);
      return false;
    }
    CollectedLogRequest collected;
    if (request.has_log_source) collected.logSource = request.log_source;
    if (request.has_client && request.client.has_client_kind) collected.clientKind = request.client.client_kind;
    collected.hasExtraClient = request.has_client && request.client.has_extra_client;
    collected.hasQosTier = request.has_qos_tier;
    if (request.has_request_time_ms) collected.requestTimeMs = request.request_time_ms;
    if (request.has_request_uptime_ms) collected.requestUptimeMs = request.request_uptime_ms;
    if (request.has_client && request.client.has_apple_client) {
      const AppleClientInfo& info = request.client.apple_client;
      const std::pair<const char*, const pb_bytes_array_t*> fields[] = {
          {"os_major_version", info.os_major_version}, {"os_version", info.os_version},
          {"app_build_version", info.app_build_version}, {"country_code", info.country_code},
          {"device_model", info.device_model}, {"language", info.language}, {"bundle_id", info.bundle_id}};
      for (const auto& [name, value] : fields) {
        if (value != nullptr) collected.appleClient[name] = text(value);
      }
    }
    pb_release(LogRequest_fields, &request);
    // The events again, each with its payload.
    const bool eventsOk = forEachEmbedded(data, size, 3, [&collected](const uint8_t* eventData, size_t eventSize) {
      LogEvent event = LogEvent_init_default;
      CollectedEvent result;
      event.payload.funcs.decode = readPayload;
      event.payload.arg = &result.payload;
      pb_istream_t eventStream = pb_istream_from_buffer(eventData, eventSize);
      if (!pb_decode(&eventStream, LogEvent_fields, &event)) return false;
      if (event.has_event_time_ms) result.eventTimeMs = event.event_time_ms;
      if (event.has_event_code) result.eventCode = event.event_code;
      if (event.has_timezone_offset_seconds) result.timezoneOffsetSeconds = event.timezone_offset_seconds;
      if (event.has_uptime_ms) result.uptimeMs = event.uptime_ms;
      result.hasNetworkConnectionInfo = event.has_network_connection_info;
      if (event.network_connection_info.has_network_type) result.networkType = event.network_connection_info.network_type;
      if (event.network_connection_info.has_mobile_subtype) {
        result.mobileSubtype = event.network_connection_info.mobile_subtype;
      }
      if (event.has_compliance && event.compliance.privacy_context.product_context.has_product_id) {
        result.productID = event.compliance.privacy_context.product_context.product_id;
      }
      collected.events.push_back(std::move(result));
      return true;
    });
    if (!eventsOk) return false;
    out.push_back(std::move(collected));
    return true;
  });
  if (!ok) return std::nullopt;
  return out;
}
