#include "Brivel/shell/palette.h"

namespace brivel {
namespace {

constexpr std::string_view kFallbackName = "appleRed";
constexpr size_t kPaletteSize = 14;  // the first 14 known names

}  // namespace

const std::array<std::string_view, 19> kKnownColorNames = {
    "appleRed",  "appleOrange", "appleYellow", "appleGreen",  "appleMint",
    "appleTeal", "appleCyan",   "appleBlue",   "appleIndigo", "applePurple",
    "applePink", "appleCoral",  "appleBrown",  "appleGray",   "sonicBlue",
    "sonicRed",  "sonicGreen",  "sonicPurple", "tailsOrange",
};

const std::array<std::string_view, 21> kColorResourceNames = {
    "appleBlue",  "appleBrown", "appleCoral",  "appleCyan",   "appleGray",   "appleGreen",
    "appleIndigo", "appleMint", "appleOrange", "applePink",   "applePurple", "appleRed",
    "appleTeal",  "appleYellow", "sonicBlue",  "sonicGray",   "sonicGreen",  "sonicPurple",
    "sonicRed",   "sonicYellow", "tailsOrange",
};

const std::array<std::string_view, 33> kImageResourceNames = {
    "brivelTips",
    "archivebox",
    "archivebox.fill",
    "archivebox.fill.slash",
    "archivebox.slash",
    "calendar.badge.arrow.down",
    "calendar.badge.arrow.up",
    "centsign.circle",
    "centsign.circle.badge.arrow.down",
    "centsign.circle.badge.arrow.up",
    "clock",
    "clock.badge.arrow.down",
    "clock.badge.arrow.up",
    "envelope",
    "envelope.badge.arrow.down",
    "envelope.badge.arrow.up",
    "paintbrush",
    "paintbrush.badge.arrow.down",
    "paintbrush.badge.arrow.up",
    "personalhotspot",
    "personalhotspot.badge.arrow.down",
    "personalhotspot.badge.arrow.up",
    "line.3.horizontal.decrease.slash",
    "creditcard.badge.plus",
    "personalhotspot.badge.plus",
    "creditcard.circle.fill.badge.questionmark",
    "envelope.circle.fill.badge.checkmark",
    "envelope.circle.fill.badge.questionmark",
    "magnifyingglass.circle.fill.badge.questionmark",
    "paperclip.circle.fill.badge.questionmark",
    "person.2.circle.fill.badge.questionmark",
    "personalhotspot.circle.fill.badge.questionmark",
    "externaldrive.connected.to.line.below.fill.badge.person.crop",
};

ColorValue assetColor(std::string_view name) {
  ColorValue color;
  color.kind = ColorValue::Kind::asset;
  color.name = std::string(name);
  return color;
}

std::string assetNameFromColor(const ColorValue& color) {
  for (std::string_view name : kKnownColorNames) {
    if (assetColor(name) == color) return std::string(name);
  }
  return std::string(kFallbackName);
}

ColorValue colorFromAssetName(std::string_view name) {
  for (std::string_view known : kKnownColorNames) {
    if (known == name) return assetColor(known);
  }
  return assetColor(kFallbackName);
}

const std::vector<ColorValue>& assetColorPalette() {
  static const std::vector<ColorValue> palette = [] {
    std::vector<ColorValue> colors;
    for (size_t i = 0; i < kPaletteSize; ++i) colors.push_back(assetColor(kKnownColorNames[i]));
    return colors;
  }();
  return palette;
}

}  // namespace brivel
