#include "platform/foundation/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/testing/environment.h"

namespace platform {
namespace {

// Sets the current locale for one test; the environment restores it afterwards.
class TextTest : public ::testing::Test {
 protected:
  platform::testing::Environment environment_{"text"};
};

TEST_F(TextTest, LocaleIdentifiers) {
  for (auto [given, expected] : std::vector<std::pair<std::string, std::string>>{
           {"de_DE.UTF-8", "de_DE"}, {"fr-CA", "fr_CA"}, {"sr_RS@latin", "sr_RS"},
           {"C", "en_US"}, {"C.UTF-8", "en_US"}, {"POSIX", "en_US"}}) {
    Locale::setCurrent(given);
    EXPECT_EQ(Locale::currentIdentifier(), expected) << given;
  }
  Locale::setCurrent("");
  EXPECT_EQ(Locale::currentIdentifier(), Locale::identifierFromEnvironment());
}

TEST_F(TextTest, LocalizedCaseInsensitiveCompare) {
  Locale::setCurrent("en_US");
  EXPECT_EQ(localizedCaseInsensitiveCompare("apple", "APPLE"), std::weak_ordering::equivalent);
  EXPECT_EQ(localizedCaseInsensitiveCompare("apple", "Banana"), std::weak_ordering::less);
  EXPECT_EQ(localizedCaseInsensitiveCompare("Zebra", "ähnlich"), std::weak_ordering::greater);
  EXPECT_NE(localizedCaseInsensitiveCompare("cafe", "café"), std::weak_ordering::equivalent);
  // Localized, not byte order: "b" sorts before "Č" would fail in code-point order with
  // upper case first; here lower and upper interleave alphabetically.
  std::vector<std::string> names{"delta", "Bravo", "alpha", "Charlie"};
  std::stable_sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
    return localizedCaseInsensitiveCompare(a, b) < 0;
  });
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Bravo", "Charlie", "delta"}));

  // The locale's collation rules apply: Swedish sorts "ö" after "z".
  Locale::setCurrent("sv_SE");
  EXPECT_EQ(localizedCaseInsensitiveCompare("ö", "z"), std::weak_ordering::greater);
  Locale::setCurrent("de_DE");
  EXPECT_EQ(localizedCaseInsensitiveCompare("ö", "z"), std::weak_ordering::less);
}

TEST_F(TextTest, CaseInsensitiveContains) {
  Locale::setCurrent("en_US");
  struct Case { const char* text; const char* part; bool found; };
  for (const Case& c : std::vector<Case>{
           {"Electricity Bill", "BILL", true},
           {"Electricity Bill", "city b", true},
           {"Café", "CAFÉ", true},
           {"Café", "cafe", false},            // diacritics count
           {"Straße", "STRASSE", true},        // full case folding
           {"Netflix", " netflix", false},     // blanks take part in the match
           {"Netflix", "", false},
           {"", "a", false},
           {"ＡＢＣ", "abc", false}}) {        // widths count
    EXPECT_EQ(localizedCaseInsensitiveContains(c.text, c.part), c.found)
        << c.text << " / " << c.part;
  }
  // The locale's case folding applies: dotted capital I matches plain i only in Turkish.
  EXPECT_FALSE(localizedCaseInsensitiveContains("İstanbul", "istanbul"));
  Locale::setCurrent("tr_TR");
  EXPECT_TRUE(localizedCaseInsensitiveContains("İstanbul", "istanbul"));
  EXPECT_TRUE(localizedCaseInsensitiveContains("ISPARTA", "ısparta"));
}

TEST_F(TextTest, TrimmingLoweringAndCounting) {
  EXPECT_EQ(trimmingWhitespaceAndNewlines(" \t\n Rent \u00A0\u2028\r\n"), "Rent");
  EXPECT_EQ(trimmingWhitespaceAndNewlines("  inner  space  "), "inner  space");
  EXPECT_EQ(trimmingWhitespaceAndNewlines("\u3000\u2003"), "");
  EXPECT_EQ(trimmingWhitespaceAndNewlines(""), "");
  EXPECT_EQ(trimmingWhitespaceAndNewlines("\u200Bx"), "\u200Bx");  // zero-width space stays

  EXPECT_EQ(lowercased("ÄBC İ Σ"), "äbc i̇ σ");

  struct Count { const char* text; size_t graphemes; size_t utf16; };
  for (const Count& c : std::vector<Count>{
           {"", 0, 0}, {"abc", 3, 3}, {"é", 1, 1}, {"e\u0301", 1, 2},
           {"👩‍👩‍👧‍👦", 1, 11}, {"🇩🇪🇫🇷", 2, 8}, {"a😀b", 3, 4}}) {
    EXPECT_EQ(graphemeCount(c.text), c.graphemes) << c.text;
    EXPECT_EQ(utf16Count(c.text), c.utf16) << c.text;
  }
  EXPECT_EQ(graphemePrefix("abcdef", 5), "abcde");
  EXPECT_EQ(graphemePrefix("abc", 5), "abc");
  EXPECT_EQ(graphemePrefix("😀👩‍👩‍👧‍👦🇩🇪x", 3), "😀👩‍👩‍👧‍👦🇩🇪");
  EXPECT_EQ(graphemePrefix("abc", 0), "");
  EXPECT_EQ(utf16Prefix("abc", 2), "ab");
  EXPECT_EQ(utf16Prefix("a😀b", 2), "a");  // never half a surrogate pair
  EXPECT_EQ(utf16Prefix("a😀b", 3), "a😀");
  EXPECT_EQ(utf16Prefix("a😀b", 99), "a😀b");
  EXPECT_EQ(lastGrapheme("12.3e\u0301"), "e\u0301");
  EXPECT_EQ(lastGrapheme(""), "");
  // Broken UTF-8 is read, not trusted: it counts as replacement characters.
  EXPECT_EQ(graphemeCount("a\xFF"), 2u);
}

TEST_F(TextTest, NumericCharacters) {
  for (const char* yes : {"0", "7", "٣", "७", "½", "Ⅻ"}) EXPECT_TRUE(isNumericCharacter(yes)) << yes;
  for (const char* no : {"", "a", ".", ",", " ", "\xFF"}) EXPECT_FALSE(isNumericCharacter(no)) << no;
}

TEST_F(TextTest, LocaleNumberFormats) {
  Locale::setCurrent("en_US");
  EXPECT_EQ(decimalSeparator(), ".");
  EXPECT_EQ(currencyCode(), "USD");
  EXPECT_EQ(formatCurrency(1234.5), "$1,234.50");

  Locale::setCurrent("de_DE");
  EXPECT_EQ(decimalSeparator(), ",");
  EXPECT_EQ(currencyCode(), "EUR");
  EXPECT_EQ(formatCurrency(1234.5), "1.234,50\u00A0€");

  Locale::setCurrent("ja_JP");
  EXPECT_EQ(formatCurrency(1234.0), "￥1,234");

  // A locale without a region names no currency: amounts are shown in USD.
  Locale::setCurrent("en");
  EXPECT_EQ(currencyCode(), "USD");
  EXPECT_EQ(formatCurrency(-5), "-$5.00");
  EXPECT_EQ(formatCurrency(12, "EUR"), "€12.00");
}

TEST_F(TextTest, DatesInTheLocale) {
  const Date march5 = Date::fromTimeIntervalSince1970(1709640000);  // 2024-03-05 12:00 UTC
  Locale::setCurrent("en_US");
  EXPECT_EQ(formatDate(march5, "dMMMy", "UTC"), "Mar 5, 2024");
  Locale::setCurrent("de_DE");
  EXPECT_EQ(formatDate(march5, "dMMMy", "UTC"), "5. März 2024");
  // The zone decides the day.
  EXPECT_EQ(formatDate(march5.addingTimeInterval(13 * 3600), "d", "Europe/Berlin"), "6");
  EXPECT_FALSE(formatDate(march5, "dMMMy").empty());
}

TEST_F(TextTest, CodePointCompareNormalisesFirst) {
  EXPECT_EQ(codePointCompare("e\u0301", "é"), std::strong_ordering::equal);
  EXPECT_EQ(codePointCompare("Z", "a"), std::strong_ordering::less);  // not alphabetical
  EXPECT_EQ(codePointCompare("\uFFFF", "😀"), std::strong_ordering::less);  // not UTF-16 order
  EXPECT_EQ(codePointCompare("ab", "a"), std::strong_ordering::greater);
}

TEST_F(TextTest, ParseDouble) {
  struct Case { const char* text; std::optional<double> value; };
  for (const Case& c : std::vector<Case>{
           {"12.5", 12.5}, {"-3", -3.0}, {"+4", 4.0}, {"0", 0.0}, {".5", 0.5}, {"1.", 1.0},
           {"1e3", 1000.0}, {"", std::nullopt}, {"-", std::nullopt}, {"12,5", std::nullopt},
           {"12.5abc", std::nullopt}, {" 12", std::nullopt}, {"12 ", std::nullopt},
           {"nan", std::nullopt}, {"NaN", std::nullopt}, {"inf", std::nullopt},
           {"-infinity", std::nullopt}, {"1e999", std::nullopt}, {"++1", std::nullopt},
           {"+-1", std::nullopt}, {"0x10", std::nullopt}}) {
    EXPECT_EQ(parseDouble(c.text), c.value) << '"' << c.text << '"';
  }
}

TEST_F(TextTest, DoubleDescription) {
  struct Case { double value; const char* text; };
  for (const Case& c : std::vector<Case>{
           {0.0, "0.0"}, {10.0, "10.0"}, {12.5, "12.5"}, {1500.0, "1500.0"},
           {1234.56, "1234.56"}, {0.1, "0.1"}, {-2.0, "-2.0"}, {1e20, "1e+20"},
           {0.00001, "1e-05"}}) {
    EXPECT_EQ(doubleDescription(c.value), c.text);
  }
  for (const char* text : {"0.1", "1234.56", "99.99"}) {
    EXPECT_EQ(doubleDescription(*parseDouble(text)), text);
  }
}

}  // namespace
}  // namespace platform
