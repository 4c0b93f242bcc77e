// The colour table of the web front: the value of every named colour of the app, for light and
// dark appearance, and the style sheet made from it.
//
// Screens name colours ("sonicBlue", "appleRed"); the page draws them through CSS custom
// properties "--c-<name>" and the classes below, so the table is the one place that holds the
// values. Constant data; safe from any thread.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace web {

struct PaletteColor {
  std::string_view name;
  std::string_view light;  // "#rrggbb"
  std::string_view dark;
  std::string_view spoken;  // what a screen reader calls it ("Deep blue")
};

// Every named colour, in a fixed order.
std::span<const PaletteColor> paletteColors();
// The colour of that name (exact, case-sensitive), if there is one.
std::optional<PaletteColor> paletteColor(std::string_view name);

// The style sheet of the table: ":root" custom properties for both appearances, and for each
// colour the classes "fg-<name>" (text and icons), "bg-<name>" (fill), "grad-<name>" (the
// colour's own subtle gradient as fill) and "tint-<name>" (the accent colour of a subtree).
std::string paletteCss();

}  // namespace web
