// The session producer's small encoding helpers over nanopb: byte arrays for text fields,
// the two-pass encoder, the encode error, and the kernel text of the settings request.
//
// Text fields of the session event are allocated byte arrays (`pb_bytes_array_t*`) that the
// message owns: nullptr is an absent field, a zero-length array empty text. They are made
// with malloc, so pb_release (or SESFreeBytes) frees them.
//
// Threads: every helper may be called from any thread.
#pragma once

#include <pb.h>
#include <pb_decode.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "sessions.pb.h"

// The service and code of the producer's log lines.
inline constexpr const char* kSESLogService = "[ZadurodaVodovure]";
inline constexpr const char* kSESLogCode = "I-SES000000";

inline constexpr const char* kSESEncodeErrorDomain = "SESEncodeError";

// An error of domain "SESEncodeError", code -1, described by `text`.
platform::Error SESEncodeErrorWithText(const std::string& text);

// A new byte array holding a copy of the bytes; nullptr when the length exceeds what a
// nanopb byte array can say or memory runs out.
pb_bytes_array_t* SESBytesFromData(const void* data, size_t size);
// The text's UTF-8 bytes as a byte array.
pb_bytes_array_t* SESBytesFromString(std::string_view text);
// The bytes as text: empty text for an empty array (and for nullptr).
std::string SESStringFromBytes(const pb_bytes_array_t* bytes);
void SESFreeBytes(pb_bytes_array_t* bytes);

// The stream's error message, or "(none)".
std::string SESInputStreamError(const pb_istream_t& stream);

// The one-of selector of the Apple app information: 6.
pb_size_t SESAppleInfoSelector();

// Encodes `message` with `fields` in two passes (size, then bytes into a buffer of exactly
// that size). On failure answers std::nullopt and, when `error` is given, fills it with an
// encode error whose text names the nanopb message.
std::optional<std::vector<uint8_t>> SESProtoBytes(const pb_msgdesc_t* fields, const void* message,
                                                  platform::Error* error);
// The session event's bytes; empty after logging the failure (codes I-SES000001 and
// I-SES000002) when it cannot be encoded.
std::vector<uint8_t> SESEventBytes(const telemetry_quality_sessions_SessionEvent& message);

// A named kernel value ("kern.osversion": the kernel's build text) as text, kept in one
// process-wide slot; std::nullopt when the system has no value of that name.
std::optional<std::string> SESSysctlText(const std::string& name);
