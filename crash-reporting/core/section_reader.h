// Reading record files back at the next launch: one JSON value per line.
//
// Contract: not for crash time (reads whole files, allocates). Parsing never throws: a line
// that is not JSON (a line cut off by the crash, the empty piece after the last newline) is
// skipped, and so is a line nested deeper than any record (UTLJSONNestingWithin), which
// the code that copies and prints the values could not take.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The parsed lines of the file in order, each passed through `transform` when given (a
// nullopt result drops it). Nothing (nullopt) for a null path or an unreadable file, which
// is removed when `deleteOnFailure` is set.
std::optional<std::vector<nlohmann::json>> CRFileReadSections(
    const char* path, bool deleteOnFailure,
    const std::function<std::optional<nlohmann::json>(nlohmann::json)>& transform = nullptr);

// A number read back from a record as a whole number, its fraction dropped. Nothing for a
// value that is not a number, and for a fraction (text like 1e300) outside the type's range,
// which no cast may take. Integers of the other signedness are their 64 bits read so: the
// writer prints addresses unsigned, and a signed reader of them sees the same bits.
std::optional<int64_t> CRJSONInt64(const nlohmann::json& value);
std::optional<uint64_t> CRJSONUInt64(const nlohmann::json& value);

// Decodes two hex digits a byte (either case) up to the end or the first non-hex character;
// an odd last digit is ignored.
std::string CRFileHexDecodeString(std::string_view hex);
