// Small helpers the shell's screens share: texts of the key table and symbol images of the
// symbol table.
#pragma once

#include <string>
#include <string_view>

#include "Brivel/shell/sf_symbols.h"
#include "platform/ui/view.h"

namespace brivel {

// The text content of a localized key (a constant of localized_keys.h).
inline platform::ui::TextContent keyText(std::string_view key) {
  return platform::ui::localized(std::string(key));
}
// A text view of a localized key.
inline platform::ui::View LocalizedText(std::string_view key) { return platform::ui::Text(keyText(key)); }
// The platform symbol image of a case of the symbol table.
inline platform::ui::View SymbolImage(SFSymbols symbol) {
  return platform::ui::SystemImage(std::string(rawValue(symbol)));
}

// A fixed-size frame, centred.
inline platform::ui::Frame fixedFrame(double width, double height) {
  platform::ui::Frame frame;
  frame.width = width;
  frame.height = height;
  frame.alignment = platform::ui::Alignment::center;
  return frame;
}

}  // namespace brivel
