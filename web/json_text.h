// The few pieces of JSON text the server writes itself, straight into the string it sends.
//
// Renders and patches are large (the HTML of a long list) and written once per version, so they
// are written as text in one pass instead of being built as JSON values and dumped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace web {

// Appends `text` as a JSON string, quotes included. Bytes that are not valid UTF-8 (text from
// the store may hold any) become U+FFFD, so that the result always parses.
void appendJsonString(std::string& out, std::string_view text);
// Appends the characters of `text` as they stand inside a JSON string (no quotes).
void appendJsonStringBody(std::string& out, std::string_view text);
void appendJsonNumber(std::string& out, uint64_t value);

}  // namespace web
