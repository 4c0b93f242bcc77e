// Colour names, the palette and the asset resources the screens draw with.
//
// Records keep their colour as a short name ("appleRed"); screens turn a name into a colour
// value with colorFromAssetName() and back with assetNameFromColor(). Both know the same 19
// names, in the same order, and fall back to "appleRed" for anything else. The palette is
// the 14 colours a user can pick. Colour values are the view layer's asset colours; two
// are equal when they name the same resource.
//
// Main thread or any thread: everything here is constant after first use.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/node.h"

namespace brivel {

using ColorValue = platform::ui::Color;

// The colour of the named asset resource (no gradient, full opacity).
ColorValue assetColor(std::string_view name);

// The 19 names both conversions know, in their order of testing.
extern const std::array<std::string_view, 19> kKnownColorNames;

// Every colour resource of the app, the known names plus "sonicGray" and "sonicYellow",
// which screens use directly as fixed interface colours.
extern const std::array<std::string_view, 21> kColorResourceNames;

// Every image resource of the app: the tips artwork and the app's own symbol images.
extern const std::array<std::string_view, 33> kImageResourceNames;

// The stored name of a colour value; "appleRed" when the colour is not one of the 19.
std::string assetNameFromColor(const ColorValue& color);

// The colour value of a stored name; the "appleRed" colour for an unknown name.
ColorValue colorFromAssetName(std::string_view name);

// The 14 colours the colour picker offers, "appleRed" to "appleGray".
const std::vector<ColorValue>& assetColorPalette();

}  // namespace brivel
