// How deep a JSON text nests, checked before the text is parsed.
//
// A parsed document is copied, printed, compared and converted by code that recurses once per
// level, and a few hundred kilobytes of "[" exhaust a thread's stack there. Readers of JSON
// that comes from outside the process (a server's reply, a file on disk) therefore refuse text
// that nests deeper than any document they expect, as they refuse text that does not parse:
//
//   if (!UTLJSONNestingWithin(body)) return std::nullopt;
//   auto json = nlohmann::json::parse(body, nullptr, false);
//
// Header only, so that the crash-reporting core can use it without linking the utilities.
#pragma once

#include <cstddef>
#include <string_view>

// Deeper than any document the SDK reads or writes; the property-list readers stop at the same.
inline constexpr size_t kUTLJSONMaxNesting = 512;

// Whether no array or object in `text` opens more than `limit` levels deep. Brackets inside
// strings do not count. The text need not be valid JSON: this only bounds the nesting.
inline bool UTLJSONNestingWithin(std::string_view text, size_t limit = kUTLJSONMaxNesting) {
  size_t depth = 0;
  bool inString = false;
  for (size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (inString) {
      if (c == '\\') {
        ++at;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}
