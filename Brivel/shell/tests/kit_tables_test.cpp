#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/sf_symbols.h"
#include "Brivel/shell/text_field_rules.h"

namespace brivel {
namespace {

TEST(SFSymbolsTest, RawValuesRoundTripAndOnlyExactNamesMatch) {
  for (SFSymbols symbol : kAllSFSymbols) {
    EXPECT_EQ(sfSymbolsFromRawValue(rawValue(symbol)), symbol) << rawValue(symbol);
  }
  EXPECT_EQ(sfSymbolsFromRawValue("tray.full"), SFSymbols::trayFull);
  EXPECT_EQ(rawValue(SFSymbols::centSign), "centsign");
  EXPECT_EQ(sfSymbolsFromRawValue("centSign"), std::nullopt);
  EXPECT_EQ(sfSymbolsFromRawValue(""), std::nullopt);
  EXPECT_EQ(static_cast<int>(SFSymbols::xmark), 40);
}

TEST(LocalizedKeysTest, KeysAreUniqueAndPrefixed) {
  std::set<std::string_view> seen;
  for (std::string_view key : kLocalizedKeys) {
    EXPECT_TRUE(key.starts_with("localizable_")) << key;
    EXPECT_TRUE(seen.insert(key).second) << key;
  }
  EXPECT_EQ(kLocalizedKeys.size(), 134u);
}

TEST(PaletteTest, KnownNamesSurviveTheRoundTrip) {
  for (std::string_view name : kKnownColorNames) {
    EXPECT_EQ(assetNameFromColor(colorFromAssetName(name)), name);
  }
}

TEST(PaletteTest, UnknownNamesAndColoursFallBackToAppleRed) {
  for (std::string_view name : {"AppleRed", "", "sonicYellow", "sonicGray", "pink"}) {
    EXPECT_EQ(colorFromAssetName(name), assetColor("appleRed")) << name;
  }
  EXPECT_EQ(assetNameFromColor(assetColor("sonicGray")), "appleRed");
  ColorValue system;  // a platform colour, not an asset
  EXPECT_EQ(assetNameFromColor(system), "appleRed");
}

TEST(PaletteTest, PaletteIsTheFourteenPickableColoursInOrder) {
  const auto& palette = assetColorPalette();
  ASSERT_EQ(palette.size(), 14u);
  EXPECT_EQ(palette.front(), assetColor("appleRed"));
  EXPECT_EQ(palette.back(), assetColor("appleGray"));
  for (const ColorValue& color : palette) EXPECT_NE(color, assetColor("sonicBlue"));
}

TEST(TextFieldRulesTest, LengthRuleCutsToGraphemes) {
  EXPECT_EQ(lengthRuleWriteBack("abcdef", 5), "abcde");
  EXPECT_EQ(lengthRuleWriteBack("abcde", 5), std::nullopt);
  // Five family emoji, each several code points, are five characters.
  const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
  EXPECT_EQ(lengthRuleWriteBack(family + family + family + family + family, 5), std::nullopt);
  EXPECT_EQ(lengthRuleWriteBack(family + family, 1), family);
  EXPECT_EQ(lengthRuleWriteBack("x", 0), "");
}

TEST(TextFieldRulesTest, DecimalRuleTable) {
  struct Case {
    const char* typed;
    const char* separator;
    const char* shown;
  };
  const Case cases[] = {
      {"12.34", ".", "12.34"}, {"12.345", ".", "12.34"}, {"12.", ".", "12."},
      {"12.3a", ".", "12.3a"}, {"1.2.3", ".", "1.2"},    {"1234", ".", "1234"},
      {".555", ".", ".555"},   {"12.3456", ".", "12.34"}, {"3,14", ",", "3,14"},
      {"3,141", ",", "3,14"},  {"3.141", ",", "3.141"},  {"1.2\xD9\xA3\xD9\xA4", ".", "1.2\xD9\xA3"},
      {"", ".", ""},
  };
  // "1.2.3" loses its last character, and "1.2." still holds two separators, so the rule
  // runs again and rests at "1.2": a field never keeps two separators.
  for (const Case& c : cases) {
    EXPECT_EQ(applyDecimalRule(c.typed, c.separator), c.shown) << c.typed;
  }
}

}  // namespace
}  // namespace brivel
