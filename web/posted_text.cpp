#include "web/posted_text.h"

#include "platform/foundation/text.h"

namespace web {

namespace {

bool isControl(char32_t c) { return c < 0x20 || c == 0x7f; }

}  // namespace

std::string cutPostedText(const std::string& text, size_t maxLength, bool multiline) {
  std::string clean;
  clean.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    auto u = static_cast<unsigned char>(c);
    if (!isControl(u)) {
      clean += c;
    } else if (c == '\t') {
      clean += c;
    } else if (c == '\r' || c == '\n') {
      bool pair = c == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
      if (pair) ++i;
      if (multiline) clean += '\n';
    }
  }
  // graphemePrefix also replaces malformed UTF-8 with U+FFFD.
  return platform::graphemePrefix(clean, maxLength);
}

}  // namespace web
