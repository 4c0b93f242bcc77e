// File names made of several parts joined with a separator, from identifiers that come from
// elsewhere (an event ID, a tier): fileNameForID (paths.h) with the separators escaped too,
// and the way back, which takes a name only when it parses back exactly.
//
//   fileNamePartForID("a-b", "-") == "a%2Db"; idFromFileNamePart("a%2Db", "-") == "a-b"
//   idFromFileNamePart("a-b", "-") == std::nullopt  (a separator left as it is)
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// fileNameForID(id), and each character of `separators` also written %XX, so the name splits
// back into its parts.
std::string fileNamePartForID(std::string_view id, std::string_view separators);

// The identifier that fileNamePartForID(id, separators) made `name` from; std::nullopt when
// no identifier gives exactly this name (a stray "%", an escape in lower case, a separator
// left as it is).
std::optional<std::string> idFromFileNamePart(std::string_view name, std::string_view separators);

}  // namespace platform
