// Reading record files back at the next launch: one JSON value per line.
//
// Contract: not for crash time (reads whole files, allocates). Parsing never throws: a line
// that is not JSON (a line cut off by the crash, the empty piece after the last newline) is
// skipped.
#pragma once

#include <nlohmann/json.hpp>

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

// Decodes two hex digits a byte (either case) up to the end or the first non-hex character;
// an odd last digit is ignored.
std::string CRFileHexDecodeString(std::string_view hex);
