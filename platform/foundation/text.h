// Text and locale helpers on ICU, for the screens and the SDK.
//
// Text is UTF-8. "Characters" are user-perceived characters (extended grapheme clusters);
// UTF-16 counts are given where a limit is stated in UTF-16 units. Invalid UTF-8 is read
// with U+FFFD in place of each bad sequence, never a crash.
//
// The current locale is process-wide: by default it comes from LC_ALL, else LANG (the
// "en_US.UTF-8" form; "C", "POSIX" or nothing gives "en_US"), and tests or start-up may set
// it. All functions are safe from any thread.
#pragma once

#include <compare>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/date.h"

namespace platform {

// `text` with every sequence that is not valid UTF-8 replaced by U+FFFD (unchanged when it is
// valid), so that what was read can always be written back.
std::string repairedUtf8(std::string_view text);

class Locale {
 public:
  // The current locale's identifier in ICU form ("en_US", "de_DE").
  static std::string currentIdentifier();
  // Sets the current locale ("de_DE", "de-DE" and "de_DE.UTF-8" are all accepted); an empty
  // text goes back to the environment's locale.
  static void setCurrent(std::string_view identifier);
  // The locale named by the environment (LC_ALL, then LANG).
  static std::string identifierFromEnvironment();
};

// Compares as the platform's localized, case-insensitive comparison does in the current
// locale: case is ignored, diacritics are not. Uses a cached collator per locale.
std::weak_ordering localizedCaseInsensitiveCompare(std::string_view a, std::string_view b);
// The platform's standard order for names a person sees in a list: like the comparison above,
// and digit runs compare by their value ("Profile 9" before "Profile 10").
std::weak_ordering localizedStandardCompare(std::string_view a, std::string_view b);

// True when `text` contains `part`, ignoring case (the current locale's case folding);
// diacritics and character widths count. An empty `part` is not contained in anything.
bool localizedCaseInsensitiveContains(std::string_view text, std::string_view part);

// Removes Unicode white space and line breaks from both ends.
std::string trimmingWhitespaceAndNewlines(std::string_view text);

// Lower-cases without locale tailoring (the same in every locale).
std::string lowercased(std::string_view text);

// Number of user-perceived characters.
size_t graphemeCount(std::string_view text);
// The first `count` user-perceived characters (the whole text when it has fewer).
std::string graphemePrefix(std::string_view text, size_t count);
// The last user-perceived character, or empty for empty text.
std::string lastGrapheme(std::string_view text);

// Number of UTF-16 code units the text takes.
size_t utf16Count(std::string_view text);
// The longest prefix of at most `units` UTF-16 code units; a cut that would split a
// surrogate pair keeps the whole pair out.
std::string utf16Prefix(std::string_view text, size_t units);

// True when the character (one grapheme; its first code point decides) has a Unicode
// numeric value: "7", "٣", "½", "Ⅻ" are numeric; "a", "." and "" are not.
bool isNumericCharacter(std::string_view character);

// The current locale's decimal separator ("." in en_US, "," in de_DE).
std::string decimalSeparator();

// `amount` in the current locale's currency style, with the locale's currency code or
// "USD" when the locale names no currency: "$1,234.50" in en_US, "1.234,50 €" in de_DE.
std::string formatCurrency(double amount);
// The same with an explicit currency code.
std::string formatCurrency(double amount, std::string_view currencyCode);
// The current locale's currency code, or "USD" when it has none.
std::string currencyCode();

// `date` in the current locale and the system's time zone, with the fields of an ICU
// skeleton: "dMMMy" gives "Mar 5, 2024" in en_US and "5. März 2024" in de_DE. An empty
// text when the skeleton is unusable.
std::string formatDate(Date date, std::string_view skeleton);
// The same in an explicit time zone ("UTC", "Europe/Berlin").
std::string formatDate(Date date, std::string_view skeleton, std::string_view timeZone);

// Plain Unicode code-point order of the two texts after NFC normalisation.
std::strong_ordering codePointCompare(std::string_view a, std::string_view b);

// Parses a decimal number typed by a user ("12.5", "-3", " 7 " with surrounding blanks
// trimmed, "1e3"). Answers std::nullopt for empty text, trailing junk, NaN and infinities,
// and values out of range. The separator is always ".".
std::optional<double> parseDouble(std::string_view text);

// The shortest text that reads back to the same double, with "." as separator and a
// trailing ".0" on whole numbers ("10.0", "12.5", "1e+20" stays in exponent form).
std::string doubleDescription(double value);

}  // namespace platform
