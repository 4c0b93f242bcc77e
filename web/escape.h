// Escaping of text for the HTML the web front writes.
//
// Every text that comes from the user or the store goes through one of these before it is put
// into a page, so that a hostile name ("<script>", quotes, ampersands) shows as typed and never
// acts as markup.
#pragma once

#include <string>
#include <string_view>

namespace web {

// Escapes &, <, >, " and ' for use in element content and in quoted attribute values.
// NUL characters are dropped.
std::string escapeHtml(std::string_view text);
// Appends the escaped text to `out`.
void appendEscapedHtml(std::string& out, std::string_view text);

}  // namespace web
