#include "transport/sessions/ses_nanopb.h"

#include <pb_encode.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "sdk-core/utilities/environment.h"
#include "sdk-core/utilities/logger.h"

platform::Error SESEncodeErrorWithText(const std::string& text) {
  return platform::Error::described(kSESEncodeErrorDomain, -1, text);
}

pb_bytes_array_t* SESBytesFromData(const void* data, size_t size) {
  if (size > PB_SIZE_MAX) return nullptr;
  auto* bytes = static_cast<pb_bytes_array_t*>(std::malloc(PB_BYTES_ARRAY_T_ALLOCSIZE(size)));
  if (!bytes) return nullptr;
  bytes->size = static_cast<pb_size_t>(size);
  if (size > 0) std::memcpy(bytes->bytes, data, size);
  return bytes;
}

pb_bytes_array_t* SESBytesFromString(std::string_view text) { return SESBytesFromData(text.data(), text.size()); }

std::string SESStringFromBytes(const pb_bytes_array_t* bytes) {
  if (!bytes || bytes->size == 0) return {};
  return std::string(reinterpret_cast<const char*>(bytes->bytes), bytes->size);
}

void SESFreeBytes(pb_bytes_array_t* bytes) { std::free(bytes); }

std::string SESInputStreamError(const pb_istream_t& stream) {
  return stream.errmsg ? std::string(stream.errmsg) : std::string("(none)");
}

pb_size_t SESAppleInfoSelector() { return telemetry_quality_sessions_ApplicationInfo_apple_app_info_tag; }

namespace {
std::string streamError(const pb_ostream_t& stream) {
  return stream.errmsg ? std::string(stream.errmsg) : std::string("(none)");
}
}  // namespace

std::optional<std::vector<uint8_t>> SESProtoBytes(const pb_msgdesc_t* fields, const void* message,
                                                  platform::Error* error) {
  pb_ostream_t sizing = PB_OSTREAM_SIZING;
  if (!pb_encode(&sizing, fields, message)) {
    if (error) *error = SESEncodeErrorWithText("Error in nanopb encoding to get size: " + streamError(sizing));
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(sizing.bytes_written);
  pb_ostream_t output = pb_ostream_from_buffer(bytes.data(), bytes.size());
  if (!pb_encode(&output, fields, message)) {
    if (error) *error = SESEncodeErrorWithText("Error in nanopb encoding: " + streamError(output));
    return std::nullopt;
  }
  return bytes;
}

std::vector<uint8_t> SESEventBytes(const telemetry_quality_sessions_SessionEvent& message) {
  platform::Error error;
  auto bytes = SESProtoBytes(telemetry_quality_sessions_SessionEvent_fields, &message, &error);
  if (!bytes) {
    const std::string text = "Session Event failed to encode as proto with error: " + error.domain + " " +
                             std::to_string(error.code) + " \"" + error.localizedDescription() + "\"";
    TELLoggerLogError("ZadurodaVodovure", "I-SES000001", "%s", text.c_str());
    TELLoggerLogError("ZadurodaVodovure", "I-SES000002", "%s",
                      "Session Event generated nil transportBytes. Returning empty data.");
    return {};
  }
  return std::move(*bytes);
}

std::optional<std::string> SESSysctlText(const std::string& name) {
  static std::mutex slotMutex;
  static std::string slot;
  auto value = UTLAppEnvironmentUtil::getSysctlEntry(name);
  if (!value) return std::nullopt;
  std::lock_guard lock(slotMutex);
  slot = *value;
  return slot;
}
