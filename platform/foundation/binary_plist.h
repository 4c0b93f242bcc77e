// Internal to platform/foundation: the binary property-list writer and reader behind
// encodePlist(..., PlistFormat::Binary) and decodePlist.
//
// It writes the "bplist00" layout directly from a PlistValue tree, without building a
// libplist node tree first: the hot path of every keyed archive the event store writes.
// Equal strings, numbers, data, dates and UIDs are written once and shared by reference;
// containers are not shared. The bytes read back through libplist (and decodePlist) to the
// same tree as libplist's own encoder gives; the tests hold the two against each other.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "platform/foundation/plist.h"

namespace platform::detail {

// Dates are kept as whole seconds and microseconds since 2001-01-01 in 32-bit fields (the form
// libplist holds them in): clamped to that range, rounded to the microsecond; a value that is
// not finite is the reference date. Both encoders store this same instant.
std::pair<int32_t, int32_t> dateSecondsAndMicroseconds(const Date& date);

// std::nullopt when the tree holds a null, an unsigned integer above INT64_MAX or a UID above
// UINT32_MAX (which libplist's encoder would silently write as another reference).
std::optional<std::vector<uint8_t>> writeBinaryPlist(const PlistValue& value);

// The reading side: a file that passed decodePlist's structural checks, read straight into
// a tree. `unsupported` asks the caller to read it through libplist instead (rare forms:
// 16-byte integers, sets, strings with NULs or unpaired surrogates, odd widths); otherwise
// `value` is what decoding through libplist gives (std::nullopt where that fails).
struct BinaryReadResult {
  std::optional<PlistValue> value;
  bool unsupported = false;
  static BinaryReadResult unsupportedForm() { return {std::nullopt, true}; }
};
BinaryReadResult readBinaryPlist(const uint8_t* bytes, size_t size);

// libplist's binary encoder and decoder, kept for the equivalence tests.
std::optional<std::vector<uint8_t>> libplistBinaryPlist(const PlistValue& value);
std::optional<PlistValue> libplistDecodePlist(const uint8_t* bytes, size_t size);

}  // namespace platform::detail
