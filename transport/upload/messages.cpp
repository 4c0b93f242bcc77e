#include "transport/upload/messages.h"

#include <openssl/evp.h>
#include <pb_decode.h>
#include <pb_encode.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>

#include "platform/foundation/bundle.h"
#include "platform/net/url_request.h"
#include "sdk-core/utilities/environment.h"
#include "sdk-core/utilities/gzip.h"
#include "transport/events/console.h"
#include "transport/events/files.h"
#include "transport/events/nanopb_bytes.h"
#include "transport/upload/messages_internal.h"

namespace {

constexpr int32_t kClientKindApple = 15;
constexpr int32_t kProductIdSourceClient = 5;

bool encodePayload(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  const auto* bytes = static_cast<const std::vector<uint8_t>*>(*arg);
  if (bytes == nullptr) return true;
  if (!pb_encode_tag_for_field(stream, field)) return false;
  return pb_encode_string(stream, bytes->data(), bytes->size());
}

// The country of the process locale ("en_US.UTF-8" gives "US").
std::optional<std::string> currentCountryCode() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    std::string locale(value);
    const size_t underscore = locale.find('_');
    if (underscore == std::string::npos) return std::nullopt;
    std::string country = locale.substr(underscore + 1, locale.find_first_of(".@", underscore) - underscore - 1);
    if (country.empty()) return std::nullopt;
    return country;
  }
  return std::nullopt;
}

std::string preferredLanguage() {
  auto localizations = platform::Bundle::main()->objectForInfoDictionaryKey("CFBundleLocalizations");
  if (const auto* list = localizations ? localizations->asArray() : nullptr) {
    for (const auto& entry : *list) {
      if (const auto* text = entry.asString(); text != nullptr && !text->empty()) return *text;
    }
  }
  return "en";
}

std::string errorText(const pb_ostream_t& stream) {
  const char* text = PB_GET_ERROR(&stream);
  return text != nullptr ? text : "(none)";
}

std::string base64(const std::vector<uint8_t>& data) {
  std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data.data(),
                                     static_cast<int>(data.size()));
  out.resize(length < 0 ? 0 : static_cast<size_t>(length));
  return out;
}

std::optional<std::vector<uint8_t>> unbase64(const std::string& text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::vector<uint8_t> out(text.size() / 4 * 3);
  const int length = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                     static_cast<int>(text.size()));
  if (length < 0) return std::nullopt;
  size_t size = static_cast<size_t>(length);
  // EVP_DecodeBlock counts the padding as zero bytes.
  for (size_t i = text.size(); i > 0 && text[i - 1] == '=' && size > 0; --i) --size;
  out.resize(size);
  return out;
}

}  // namespace

pb_bytes_array_t* UPBytesFromData(const std::vector<uint8_t>& data) { return ETNanopbBytes(data.data(), data.size()); }

pb_bytes_array_t* UPBytesFromString(const std::string& text) { return ETNanopbBytes(text.data(), text.size()); }

AppleClientInfo UPBuildAppleClientInfo() {
  AppleClientInfo info = AppleClientInfo_init_zero;
  const std::string version = UTLAppEnvironmentUtil::systemVersion();
  info.os_major_version = UPBytesFromString(version.substr(0, version.find('.')));
  info.os_version = UPBytesFromString(version);
  const auto bundle = platform::Bundle::main();
  if (auto build = bundle->objectForInfoDictionaryKey("CFBundleVersion"); build && build->asString()) {
    info.app_build_version = UPBytesFromString(*build->asString());
  }
  if (auto country = currentCountryCode()) info.country_code = UPBytesFromString(*country);
  info.device_model = UPBytesFromString(ETHardwareModel());
  info.language = UPBytesFromString(preferredLanguage());
  info.bundle_id = UPBytesFromString(bundle->bundleIdentifier().value_or(""));
  return info;
}

LogEvent UPBuildLogEvent(const ETEvent& event) {
  LogEvent logEvent = LogEvent_init_default;
  logEvent.network_connection_info.network_type = NetworkConnectionInfo_NetworkType_NONE;
  if (const auto& clock = event.clockSnapshot()) {
    logEvent.has_event_time_ms = true;
    logEvent.event_time_ms = clock->timeMillis;
    logEvent.has_uptime_ms = true;
    logEvent.uptime_ms = clock->uptimeMilliseconds();
    logEvent.has_timezone_offset_seconds = true;
    logEvent.timezone_offset_seconds = clock->timezoneOffsetSeconds;
  }
  if (event.customBytes()) {
    if (auto data = ETEventCustomBytes::networkConnectionInfoData(event)) {
      const UPNetworkConnectionInfo info = UPNetworkConnectionInfoFromBytes(*data);
      logEvent.has_network_connection_info = true;
      logEvent.network_connection_info.has_network_type = info.networkType.has_value();
      logEvent.network_connection_info.network_type =
          static_cast<NetworkConnectionInfo_NetworkType>(info.networkType.value_or(-1));
      logEvent.network_connection_info.has_mobile_subtype = info.mobileSubtype.has_value();
      logEvent.network_connection_info.mobile_subtype =
          static_cast<NetworkConnectionInfo_MobileSubtype>(info.mobileSubtype.value_or(0));
    }
    if (auto code = ETEventCustomBytes::eventCode(event)) {
      logEvent.has_event_code = true;
      logEvent.event_code = static_cast<int32_t>(*code);
    }
  }
  if (const auto& bytes = event.serializedDataObjectBytes()) {
    logEvent.payload.funcs.encode = encodePayload;
    logEvent.payload.arg = const_cast<std::vector<uint8_t>*>(&*bytes);
  }
  if (const auto& product = event.productData()) {
    logEvent.has_compliance = true;
    logEvent.compliance.has_product_id_source = true;
    logEvent.compliance.product_id_source = static_cast<ComplianceData_ProductIdSource>(kProductIdSourceClient);
    logEvent.compliance.has_privacy_context = true;
    logEvent.compliance.privacy_context.has_product_context = true;
    logEvent.compliance.privacy_context.product_context.has_product_id = true;
    logEvent.compliance.privacy_context.product_context.product_id = product->productID();
  }
  return logEvent;
}

LogRequest UPBuildLogRequest(int32_t logSource, const UPEventList& events) {
  LogRequest request = LogRequest_init_default;
  if (events.empty()) {
    ET_LOG_ERROR(ETMCGeneral, "An empty event set can't be serialized to proto.");
    return request;
  }
  request.has_log_source = true;
  request.log_source = logSource;
  request.has_client = true;
  request.client.has_client_kind = true;
  request.client.client_kind = static_cast<ClientInfo_ClientKind>(kClientKindApple);
  request.client.has_apple_client = true;
  request.client.apple_client = UPBuildAppleClientInfo();
  if (events.size() <= PB_SIZE_MAX) {
    request.events = static_cast<LogEvent*>(std::calloc(events.size(), sizeof(LogEvent)));
  }
  if (request.events != nullptr) {
    request.events_count = static_cast<pb_size_t>(events.size());
    size_t i = 0;
    for (const auto& event : events) request.events[i++] = UPBuildLogEvent(*event);
  }
  const auto clock = ETClock::snapshot();
  request.has_request_time_ms = true;
  request.request_time_ms = clock->timeMillis;
  request.has_request_uptime_ms = true;
  request.request_uptime_ms = clock->uptimeMilliseconds();
  return request;
}

LogBatchRequest UPBuildLogBatchRequest(const UPEventGroups& groups) {
  LogBatchRequest batch = LogBatchRequest_init_default;
  if (groups.empty() || groups.size() > PB_SIZE_MAX) return batch;
  batch.requests = static_cast<LogRequest*>(std::calloc(groups.size(), sizeof(LogRequest)));
  if (batch.requests == nullptr) return batch;
  batch.requests_count = static_cast<pb_size_t>(groups.size());
  size_t i = 0;
  for (const auto& [mappingID, events] : groups) {
    batch.requests[i++] = UPBuildLogRequest(static_cast<int32_t>(std::strtol(mappingID.c_str(), nullptr, 10)), events);
  }
  return batch;
}

UPEventGroups UPGroupEventsByMappingID(const ETEventSet& events) {
  // The events come from a set, so the groups are lists: nothing is hashed again.
  std::map<std::string, std::vector<UPEventList>> byMappingID;
  for (const auto& event : events) {
    if (!event) continue;
    auto& chunks = byMappingID[event->mappingID()];
    if (chunks.empty() || chunks.back().size() >= PB_SIZE_MAX) chunks.emplace_back();
    chunks.back().push_back(event);
  }
  UPEventGroups groups;
  for (auto& [mappingID, chunks] : byMappingID) {
    for (auto& chunk : chunks) groups.emplace_back(mappingID, std::move(chunk));
  }
  return groups;
}

namespace {

bool appendToVector(pb_ostream_t* stream, const pb_byte_t* bytes, size_t count) {
  auto* out = static_cast<std::vector<uint8_t>*>(stream->state);
  out->insert(out->end(), bytes, bytes + count);
  return true;
}

// The tag of LogBatchRequest.requests (field 1, length-delimited), its only field.
constexpr uint8_t kRequestsTag = (1 << 3) | PB_WT_STRING;
#define UP_COUNT_FIELD(...) +1
static_assert(0 LogBatchRequest_FIELDLIST(UP_COUNT_FIELD, 0) == 1 && LogBatchRequest_requests_tag == 1,
              "the batch is framed by hand: its requests must be its one field, number 1");
#undef UP_COUNT_FIELD

}  // namespace

std::vector<uint8_t> UPEncodeLogBatchRequest(const LogBatchRequest& request) {
  // Each request is encoded once, straight into the output, and framed by hand as the
  // batch's repeated field: the codec's own framing would size every request (and every
  // event in it) in a pass of its own before writing it, several times over. A request's
  // length goes in front of it once it is known, in the room left for the longest varint.
  constexpr size_t kLengthRoom = 5;  // a varint of up to 32 bits
  size_t estimate = 16;
  for (pb_size_t i = 0; i < request.requests_count; ++i) {
    const LogRequest& part = request.requests[i];
    estimate += 256;
    for (pb_size_t j = 0; j < part.events_count; ++j) {
      const auto& payload = part.events[j].payload;
      const auto* bytes = payload.funcs.encode == &encodePayload ? static_cast<const std::vector<uint8_t>*>(payload.arg)
                                                                 : nullptr;
      estimate += 64 + (bytes != nullptr ? bytes->size() : 0);
    }
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(estimate);
  for (pb_size_t i = 0; i < request.requests_count; ++i) {
    bytes.push_back(kRequestsTag);
    const size_t lengthAt = bytes.size();
    bytes.resize(lengthAt + kLengthRoom);
    pb_ostream_t stream{};
    stream.callback = &appendToVector;
    stream.state = &bytes;
    stream.max_size = std::numeric_limits<uint32_t>::max();
    if (!pb_encode(&stream, LogRequest_fields, &request.requests[i])) {
      ET_LOG_ERROR(ETMCGeneral, "Error in nanopb encoding for bytes: %s", errorText(stream).c_str());
      return {};
    }
    pb_byte_t length[kLengthRoom];
    pb_ostream_t lengthStream = pb_ostream_from_buffer(length, sizeof length);
    pb_encode_varint(&lengthStream, stream.bytes_written);
    const size_t contentAt = lengthAt + kLengthRoom;
    std::memmove(bytes.data() + lengthAt + lengthStream.bytes_written, bytes.data() + contentAt, stream.bytes_written);
    std::memcpy(bytes.data() + lengthAt, length, lengthStream.bytes_written);
    bytes.resize(lengthAt + lengthStream.bytes_written + stream.bytes_written);
  }
  return bytes;
}

namespace {

// What a request built here owns: each request's client strings and its events array. The
// events themselves own nothing (their payload is a callback), so they are freed as one
// block instead of walked field by field.
#define UP_POINTER_FIELD(a, atype, htype, ltype, name, tag) +(PB_ATYPE_##atype == PB_ATYPE_POINTER)
static_assert(0 LogRequest_FIELDLIST(UP_POINTER_FIELD, 0) == 1 && 0 LogEvent_FIELDLIST(UP_POINTER_FIELD, 0) == 0 &&
                  0 NetworkConnectionInfo_FIELDLIST(UP_POINTER_FIELD, 0) == 0 &&
                  0 ComplianceData_FIELDLIST(UP_POINTER_FIELD, 0) == 0 &&
                  0 PrivacyContext_FIELDLIST(UP_POINTER_FIELD, 0) == 0 &&
                  0 ProductContext_FIELDLIST(UP_POINTER_FIELD, 0) == 0,
              "a request's only allocation besides its client is its events array, and events own nothing");
#undef UP_POINTER_FIELD

void releaseBuiltRequest(LogBatchRequest& batch) {
  for (pb_size_t i = 0; i < batch.requests_count; ++i) {
    pb_release(ClientInfo_fields, &batch.requests[i].client);
    std::free(batch.requests[i].events);
  }
  std::free(batch.requests);
  batch = LogBatchRequest_init_default;
}

}  // namespace

std::vector<uint8_t> UPConstructRequestProtoWithEvents(const ETEventSet& events) {
  const UPEventGroups groups = UPGroupEventsByMappingID(events);
  LogBatchRequest request = UPBuildLogBatchRequest(groups);
  // A message that lost parts to a failed allocation would drop events: send nothing.
  bool complete = request.requests_count == groups.size();
  for (pb_size_t i = 0; complete && i < request.requests_count; ++i) {
    complete = request.requests[i].events_count == groups[i].second.size();
  }
  std::vector<uint8_t> bytes = complete ? UPEncodeLogBatchRequest(request) : std::vector<uint8_t>{};
  releaseBuiltRequest(request);
  return bytes;
}

std::optional<UPLogResponse> UPDecodeLogReply(const std::vector<uint8_t>& data, platform::Error* error) {
  LogResponse response = LogResponse_init_default;
  pb_istream_t stream = pb_istream_from_buffer(data.data(), data.size());
  const bool decoded = pb_decode(&stream, LogResponse_fields, &response);
  std::optional<UPLogResponse> result;
  if (decoded) {
    result.emplace();
    if (response.has_next_request_wait_ms) result->nextRequestWaitMillis = response.next_request_wait_ms;
  } else if (error != nullptr) {
    const char* text = PB_GET_ERROR(&stream);
    *error = platform::Error{platform::kURLErrorDomain, -1, {}};
    error->userInfo["nanopb error:"] = platform::PlistValue(std::string(text != nullptr ? text : "(none)"));
  }
  pb_release(LogResponse_fields, &response);
  return result;
}

// Upload bodies are compressed at zlib's fastest level: on a typical 50 KB batch it takes
// about a tenth of the default level's time for a body about a third larger, and the
// collector inflates any level to the same bytes.
constexpr int kUploadGzipLevel = 1;

std::optional<std::vector<uint8_t>> UPCompressionHelper::gzippedData(const std::vector<uint8_t>& data) {
  return UTLGzip::utl_dataByGzippingDataAtLevel(data, kUploadGzipLevel);
}

bool UPCompressionHelper::isGzipped(const std::vector<uint8_t>& data) {
  return data.size() >= 2 && data[0] == 0x1F && data[1] == 0x8B;
}

// ---- Network connection info ----------------------------------------------------------

namespace {
uint32_t readLittleEndian32(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) {
    const uint8_t byte = offset + i < bytes.size() ? bytes[offset + i] : 0;
    value |= static_cast<uint32_t>(byte) << (8 * i);
  }
  return value;
}
void writeLittleEndian32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}
}  // namespace

UPNetworkConnectionInfo UPNetworkConnectionInfoFromBytes(const std::vector<uint8_t>& bytes) {
  UPNetworkConnectionInfo info;
  if (!bytes.empty() && bytes[0] != 0) info.networkType = static_cast<int32_t>(readLittleEndian32(bytes, 4));
  if (bytes.size() > 8 && bytes[8] != 0) info.mobileSubtype = readLittleEndian32(bytes, 12);
  return info;
}

std::vector<uint8_t> UPNetworkConnectionInfoBytes(const UPNetworkConnectionInfo& info) {
  std::vector<uint8_t> bytes(16, 0);
  bytes[0] = info.networkType ? 1 : 0;
  writeLittleEndian32(bytes, 4, static_cast<uint32_t>(info.networkType.value_or(-1)));
  bytes[8] = info.mobileSubtype ? 1 : 0;
  writeLittleEndian32(bytes, 12, info.mobileSubtype.value_or(0));
  return bytes;
}

// ---- Custom bytes ---------------------------------------------------------------------

namespace {
using nlohmann::json;

constexpr const char* kEventCodeKey = "event_code_info";
constexpr const char* kNeedsNetworkKey = "needs_network_connection_info";
constexpr const char* kNetworkInfoKey = "network_connection_info";

// The stored object; std::nullopt when the bytes are not a JSON object.
std::optional<json> storedObject(const ETEvent& event) {
  if (!event.customBytes()) return json::object();
  json parsed = json::parse(event.customBytes()->begin(), event.customBytes()->end(), nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) return std::nullopt;
  return parsed;
}

void writeBack(ETEvent& event, const json& object) {
  const std::string text = object.dump();
  event.setCustomBytes(std::vector<uint8_t>(text.begin(), text.end()));
}
}  // namespace

std::optional<int64_t> ETEventCustomBytes::eventCode(const ETEvent& event) {
  if (!event.customBytes()) return std::nullopt;
  auto object = storedObject(event);
  if (!object || !object->contains(kEventCodeKey) || !(*object)[kEventCodeKey].is_string()) return std::nullopt;
  const std::string text = (*object)[kEventCodeKey].get<std::string>();
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || end == text.c_str()) return std::nullopt;
  return static_cast<int64_t>(value);
}

void ETEventCustomBytes::setEventCode(ETEvent& event, std::optional<int64_t> code) {
  if (!code && !event.customBytes()) return;
  auto object = storedObject(event);
  if (!object) {
    ET_LOG_DEBUG("Error when setting an event's event_code: %s", "unreadable custom bytes");
    return;
  }
  if (code) {
    (*object)[kEventCodeKey] = std::to_string(*code);
  } else {
    object->erase(kEventCodeKey);
  }
  writeBack(event, *object);
}

bool ETEventCustomBytes::needsNetworkConnectionInfoPopulated(const ETEvent& event) {
  if (!event.customBytes()) return false;
  auto object = storedObject(event);
  if (!object || !object->contains(kNeedsNetworkKey)) return false;
  const json& value = (*object)[kNeedsNetworkKey];
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number()) return value.get<double>() != 0;
  return false;
}

void ETEventCustomBytes::setNeedsNetworkConnectionInfoPopulated(ETEvent& event, bool needs) {
  if (needs) {
    auto object = storedObject(event);
    if (!object) {
      ET_LOG_DEBUG("Error when setting the event for needs_network_connection_info: %s", "unreadable custom bytes");
      return;
    }
    (*object)[kNeedsNetworkKey] = true;
    writeBack(event, *object);
    return;
  }
  if (!event.customBytes()) return;
  auto object = storedObject(event);
  if (!object || !object->contains(kEventCodeKey)) return;
  writeBack(event, json{{kEventCodeKey, (*object)[kEventCodeKey]}});
}

std::optional<std::vector<uint8_t>> ETEventCustomBytes::networkConnectionInfoData(const ETEvent& event) {
  if (!event.customBytes()) return std::nullopt;
  auto object = storedObject(event);
  if (!object) {
    ET_LOG_DEBUG("Error when getting an event's network_connection_info: %s", "unreadable custom bytes");
    return std::nullopt;
  }
  if (!object->contains(kNetworkInfoKey) || !(*object)[kNetworkInfoKey].is_string()) return std::nullopt;
  return unbase64((*object)[kNetworkInfoKey].get<std::string>());
}

void ETEventCustomBytes::setNetworkConnectionInfoData(ETEvent& event, const std::vector<uint8_t>& data) {
  const std::string text = base64(data);
  if (text.empty()) return;
  auto object = storedObject(event);
  if (!object) {
    ET_LOG_DEBUG("Error when setting an event's network_connection_info: %s", "unreadable custom bytes");
    return;
  }
  (*object)[kNetworkInfoKey] = text;
  writeBack(event, *object);
}
