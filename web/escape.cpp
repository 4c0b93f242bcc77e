#include "web/escape.h"

namespace web {

void appendEscapedHtml(std::string& out, std::string_view text) {
  // Runs of plain characters are appended whole: most texts need no escaping at all.
  std::size_t plain = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::string_view replacement;
    switch (text[i]) {
      case '&': replacement = "&amp;"; break;
      case '<': replacement = "&lt;"; break;
      case '>': replacement = "&gt;"; break;
      case '"': replacement = "&quot;"; break;
      case '\'': replacement = "&#39;"; break;
      case '\0': break;
      default: continue;
    }
    out.append(text.data() + plain, i - plain);
    out += replacement;
    plain = i + 1;
  }
  out.append(text.data() + plain, text.size() - plain);
}

std::string escapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  appendEscapedHtml(out, text);
  return out;
}

}  // namespace web
