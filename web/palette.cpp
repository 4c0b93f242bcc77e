#include "web/palette.h"

#include <array>

namespace web {

namespace {

constexpr std::array<PaletteColor, 21> kColors{{
    {"appleRed", "#ff3b30", "#ff453a", "Red"},
    {"appleOrange", "#ff9500", "#ff9f0a", "Orange"},
    {"appleYellow", "#ffcc00", "#ffd60a", "Yellow"},
    {"appleGreen", "#34c759", "#30d158", "Green"},
    {"appleMint", "#00c7be", "#63e6e2", "Mint"},
    {"appleTeal", "#30b0c7", "#40cbe0", "Teal"},
    {"appleCyan", "#32ade6", "#64d2ff", "Cyan"},
    {"appleBlue", "#007aff", "#0a84ff", "Blue"},
    {"appleIndigo", "#5856d6", "#5e5ce6", "Indigo"},
    {"applePurple", "#af52de", "#bf5af2", "Purple"},
    {"applePink", "#ff2d55", "#ff375f", "Pink"},
    {"appleCoral", "#ff7f50", "#ff8a65", "Coral"},
    {"appleBrown", "#a2845e", "#ac8e68", "Brown"},
    {"appleGray", "#8e8e93", "#98989d", "Grey"},
    {"sonicBlue", "#1f5fc4", "#3d8bfd", "Deep blue"},
    {"sonicRed", "#d7263d", "#f0455a", "Deep red"},
    {"sonicGreen", "#2ba84a", "#3cc95e", "Deep green"},
    {"sonicPurple", "#6f3fc7", "#8e62e0", "Deep purple"},
    {"tailsOrange", "#f28c28", "#f7a24b", "Deep orange"},
    {"sonicGray", "#6e7781", "#9aa3ad", "Slate"},
    {"sonicYellow", "#f2c230", "#f6d05a", "Gold"},
}};

}  // namespace

std::span<const PaletteColor> paletteColors() { return kColors; }

std::optional<PaletteColor> paletteColor(std::string_view name) {
  for (const auto& color : kColors) {
    if (color.name == name) return color;
  }
  return std::nullopt;
}

std::string paletteCss() {
  std::string css;
  auto properties = [&](bool dark) {
    css += ":root{";
    for (const auto& c : kColors) {
      css += "--c-" + std::string(c.name) + ":" + std::string(dark ? c.dark : c.light) + ";";
    }
    css += "}\n";
  };
  properties(false);
  css += "@media (prefers-color-scheme: dark){";
  properties(true);
  css += "}\n";
  for (const auto& c : kColors) {
    std::string n(c.name);
    std::string v = "var(--c-" + n + ")";
    css += ".fg-" + n + "{color:" + v + "}";
    css += ".bg-" + n + "{background-color:" + v + "}";
    // The colour's own gradient: a little lighter at the top, a little darker at the bottom.
    css += ".grad-" + n + "{background:linear-gradient(180deg,color-mix(in srgb," + v + ",#fff 16%)," + v +
           " 55%,color-mix(in srgb," + v + ",#000 10%))}";
    css += ".tint-" + n + "{--tint:" + v + "}\n";
  }
  return css;
}

}  // namespace web
