#include "platform/foundation/text.h"

#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/dcfmtsym.h>
#include <unicode/dtptngen.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/numfmt.h>
#include <unicode/uchar.h>
#include <unicode/ucurr.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "platform/process_state/process_state.h"

namespace platform {

namespace {

// ---- locale ----

std::mutex gLocaleMutex;
std::string gLocaleOverride;

// "de-DE.UTF-8@euro" -> "de_DE". "C", "POSIX" or nothing names no preference: the screens
// then use "en_US" (the POSIX locale's own number formats are meant for machines).
std::string normalizeIdentifier(std::string_view text) {
  std::string id(text);
  if (auto at = id.find('@'); at != std::string::npos) id.erase(at);
  if (auto dot = id.find('.'); dot != std::string::npos) id.erase(dot);
  for (char& c : id) {
    if (c == '-') c = '_';
  }
  if (id.empty() || id == "C" || id == "POSIX") return "en_US";
  return id;
}

icu::UnicodeString toUnicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

icu::Locale currentIcuLocale() { return icu::Locale(Locale::currentIdentifier().c_str()); }

// Per-thread caches: ICU collators and break iterators are not shared between threads.
// Case-insensitive collators per locale; `numeric` ones order digit runs by their value.
const icu::Collator* caseInsensitiveCollator(const std::string& localeId, bool numeric = false) {
  thread_local std::map<std::pair<std::string, bool>, std::unique_ptr<icu::Collator>> cache;
  auto it = cache.find({localeId, numeric});
  if (it != cache.end()) return it->second.get();
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(
      icu::Collator::createInstance(icu::Locale(localeId.c_str()), status));
  if (U_FAILURE(status) || !collator) {
    status = U_ZERO_ERROR;
    collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) collator.reset();
  }
  if (collator) {
    collator->setStrength(icu::Collator::SECONDARY);
    if (numeric) {
      status = U_ZERO_ERROR;
      collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    }
  }
  return cache.emplace(std::make_pair(localeId, numeric), std::move(collator)).first->second.get();
}

icu::BreakIterator* characterIterator() {
  thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> created(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) created.reset();
    return created;
  }();
  return iterator.get();
}

const icu::Normalizer2* nfc() {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
  return U_FAILURE(status) ? nullptr : normalizer;
}

icu::UnicodeString normalized(const icu::UnicodeString& text) {
  const icu::Normalizer2* normalizer = nfc();
  if (normalizer == nullptr) return text;
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString result = normalizer->normalize(text, status);
  return U_FAILURE(status) ? text : result;
}

bool isWhitespaceOrNewline(UChar32 c) { return u_isUWhiteSpace(c) != 0; }

}  // namespace

std::string Locale::identifierFromEnvironment() {
  for (const char* name : {"LC_ALL", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return normalizeIdentifier(value);
  }
  return normalizeIdentifier("");
}

std::string Locale::currentIdentifier() {
  {
    std::lock_guard lock(gLocaleMutex);
    if (!gLocaleOverride.empty()) return gLocaleOverride;
  }
  return identifierFromEnvironment();
}

void Locale::setCurrent(std::string_view identifier) {
  addProcessStateReset(+[] { Locale::setCurrent(""); });
  std::lock_guard lock(gLocaleMutex);
  gLocaleOverride = identifier.empty() ? std::string() : normalizeIdentifier(identifier);
}

namespace {
std::weak_ordering collate(std::string_view a, std::string_view b, bool numeric) {
  const icu::Collator* collator = caseInsensitiveCollator(Locale::currentIdentifier(), numeric);
  if (collator != nullptr) {
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult result = collator->compareUTF8(
        icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
        icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
    if (U_SUCCESS(status)) {
      if (result == UCOL_LESS) return std::weak_ordering::less;
      if (result == UCOL_GREATER) return std::weak_ordering::greater;
      return std::weak_ordering::equivalent;
    }
  }
  // No collator: fall back to folded code-point order.
  icu::UnicodeString left = toUnicode(a);
  icu::UnicodeString right = toUnicode(b);
  int8_t order = left.caseCompare(right, U_FOLD_CASE_DEFAULT);
  return order < 0 ? std::weak_ordering::less
                   : order > 0 ? std::weak_ordering::greater : std::weak_ordering::equivalent;
}
}  // namespace

std::weak_ordering localizedCaseInsensitiveCompare(std::string_view a, std::string_view b) {
  return collate(a, b, /*numeric=*/false);
}

std::weak_ordering localizedStandardCompare(std::string_view a, std::string_view b) {
  return collate(a, b, /*numeric=*/true);
}

std::string repairedUtf8(std::string_view text) {
  // Most text is valid: check first and copy as it is.
  int32_t offset = 0;
  const auto length = static_cast<int32_t>(text.size());
  bool valid = true;
  while (offset < length) {
    UChar32 c;
    U8_NEXT(reinterpret_cast<const uint8_t*>(text.data()), offset, length, c);
    if (c < 0) {
      valid = false;
      break;
    }
  }
  if (valid) return std::string(text);
  return toUtf8(toUnicode(text));
}

bool localizedCaseInsensitiveContains(std::string_view text, std::string_view part) {
  if (part.empty()) return false;
  const std::string language = currentIcuLocale().getLanguage();
  const uint32_t options = (language == "tr" || language == "az") ? U_FOLD_CASE_EXCLUDE_SPECIAL_I
                                                                  : U_FOLD_CASE_DEFAULT;
  icu::UnicodeString haystack = normalized(toUnicode(text).foldCase(options));
  icu::UnicodeString needle = normalized(toUnicode(part).foldCase(options));
  if (needle.isEmpty()) return false;
  return haystack.indexOf(needle) >= 0;
}

std::string trimmingWhitespaceAndNewlines(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const int32_t length = static_cast<int32_t>(text.size());
  int32_t start = 0;
  while (start < length) {
    int32_t next = start;
    UChar32 c;
    U8_NEXT(bytes, next, length, c);
    if (c < 0 || !isWhitespaceOrNewline(c)) break;
    start = next;
  }
  int32_t end = length;
  while (end > start) {
    int32_t previous = end;
    UChar32 c;
    U8_PREV(bytes, start, previous, c);
    if (c < 0 || !isWhitespaceOrNewline(c)) break;
    end = previous;
  }
  return std::string(text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
}

std::string lowercased(std::string_view text) {
  icu::UnicodeString unicode = toUnicode(text);
  unicode.toLower(icu::Locale::getRoot());
  return toUtf8(unicode);
}

size_t graphemeCount(std::string_view text) {
  if (text.empty()) return 0;
  icu::UnicodeString unicode = toUnicode(text);
  icu::BreakIterator* iterator = characterIterator();
  if (iterator == nullptr) return static_cast<size_t>(unicode.countChar32());
  iterator->setText(unicode);
  size_t count = 0;
  for (int32_t at = iterator->next(); at != icu::BreakIterator::DONE; at = iterator->next()) {
    ++count;
  }
  return count;
}

std::string graphemePrefix(std::string_view text, size_t count) {
  icu::UnicodeString unicode = toUnicode(text);
  icu::BreakIterator* iterator = characterIterator();
  if (iterator == nullptr) return toUtf8(unicode);
  iterator->setText(unicode);
  int32_t end = 0;
  for (size_t i = 0; i < count; ++i) {
    int32_t next = iterator->next();
    if (next == icu::BreakIterator::DONE) break;
    end = next;
  }
  return toUtf8(unicode.tempSubString(0, end));
}

std::string lastGrapheme(std::string_view text) {
  if (text.empty()) return {};
  icu::UnicodeString unicode = toUnicode(text);
  icu::BreakIterator* iterator = characterIterator();
  if (iterator == nullptr) return toUtf8(unicode.tempSubString(unicode.moveIndex32(unicode.length(), -1)));
  iterator->setText(unicode);
  int32_t end = iterator->last();
  int32_t start = iterator->previous();
  if (start == icu::BreakIterator::DONE) start = 0;
  return toUtf8(unicode.tempSubString(start, end - start));
}

size_t utf16Count(std::string_view text) { return static_cast<size_t>(toUnicode(text).length()); }

std::string utf16Prefix(std::string_view text, size_t units) {
  icu::UnicodeString unicode = toUnicode(text);
  if (units >= static_cast<size_t>(unicode.length())) return toUtf8(unicode);
  auto end = static_cast<int32_t>(units);
  if (end > 0 && U16_IS_LEAD(unicode.charAt(end - 1))) --end;
  return toUtf8(unicode.tempSubString(0, end));
}

bool isNumericCharacter(std::string_view character) {
  if (character.empty()) return false;
  const auto* bytes = reinterpret_cast<const uint8_t*>(character.data());
  int32_t at = 0;
  UChar32 c;
  U8_NEXT(bytes, at, static_cast<int32_t>(character.size()), c);
  if (c < 0) return false;
  return u_getNumericValue(c) != U_NO_NUMERIC_VALUE;
}

std::string decimalSeparator() {
  UErrorCode status = U_ZERO_ERROR;
  icu::DecimalFormatSymbols symbols(currentIcuLocale(), status);
  if (U_FAILURE(status)) return ".";
  std::string separator = toUtf8(symbols.getSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol));
  return separator.empty() ? "." : separator;
}

std::string currencyCode() {
  UErrorCode status = U_ZERO_ERROR;
  UChar buffer[8] = {};
  int32_t length = ucurr_forLocale(Locale::currentIdentifier().c_str(), buffer, 8, &status);
  if (U_FAILURE(status) || length != 3) return "USD";
  return toUtf8(icu::UnicodeString(buffer, length));
}

std::string formatCurrency(double amount) { return formatCurrency(amount, currencyCode()); }

std::string formatCurrency(double amount, std::string_view code) {
  // One formatter per locale and currency on each thread; lists format many amounts.
  thread_local std::map<std::string, std::unique_ptr<icu::NumberFormat>> cache;
  const std::string localeId = Locale::currentIdentifier();
  const std::string currency(code.size() == 3 ? code : std::string_view("USD"));
  const std::string key = localeId + "|" + currency;
  auto it = cache.find(key);
  if (it == cache.end()) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::NumberFormat> format(
        icu::NumberFormat::createInstance(icu::Locale(localeId.c_str()), UNUM_CURRENCY, status));
    if (U_FAILURE(status)) format.reset();
    if (format) {
      icu::UnicodeString code16 = toUnicode(currency);
      format->setCurrency(code16.getTerminatedBuffer(), status);
    }
    it = cache.emplace(key, std::move(format)).first;
  }
  if (!it->second) return doubleDescription(amount);
  icu::UnicodeString result;
  it->second->format(amount, result);
  return toUtf8(result);
}

namespace {
std::string formatDateIn(Date date, std::string_view skeleton, icu::TimeZone* zone) {
  std::unique_ptr<icu::TimeZone> owned(zone);
  const icu::Locale locale = currentIcuLocale();
  UErrorCode status = U_ZERO_ERROR;
  // Building a pattern generator is slow: keep the generated pattern per locale and skeleton.
  thread_local std::map<std::string, icu::UnicodeString> patterns;
  const std::string key = std::string(locale.getName()) + "|" + std::string(skeleton);
  auto it = patterns.find(key);
  if (it == patterns.end()) {
    std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(locale, status));
    if (U_FAILURE(status) || !generator) return {};
    icu::UnicodeString generated = generator->getBestPattern(toUnicode(skeleton), status);
    if (U_FAILURE(status)) return {};
    it = patterns.emplace(key, generated).first;
  }
  const icu::UnicodeString& pattern = it->second;
  if (pattern.isEmpty()) return {};
  icu::SimpleDateFormat format(pattern, locale, status);
  if (U_FAILURE(status)) return {};
  if (owned) format.adoptTimeZone(owned.release());
  icu::UnicodeString result;
  format.format(date.timeIntervalSince1970() * 1000.0, result);
  return toUtf8(result);
}
}  // namespace

std::string formatDate(Date date, std::string_view skeleton) {
  return formatDateIn(date, skeleton, nullptr);
}

std::string formatDate(Date date, std::string_view skeleton, std::string_view timeZone) {
  return formatDateIn(date, skeleton, icu::TimeZone::createTimeZone(toUnicode(timeZone)));
}

std::strong_ordering codePointCompare(std::string_view a, std::string_view b) {
  // UTF-8 byte order is code-point order.
  const std::string left = toUtf8(normalized(toUnicode(a)));
  const std::string right = toUtf8(normalized(toUnicode(b)));
  int order = left.compare(right);
  return order < 0 ? std::strong_ordering::less
                   : order > 0 ? std::strong_ordering::greater : std::strong_ordering::equal;
}

std::optional<double> parseDouble(std::string_view text) {
  // from_chars takes no leading '+', which user text may carry.
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) return std::nullopt;
  }
  if (text.empty()) return std::nullopt;
  double value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (error != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::string doubleDescription(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[64];
  const double magnitude = std::fabs(value);
  const bool plain = value == 0 || (magnitude >= 1e-4 && magnitude < 9007199254740992.0);
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                              plain ? std::chars_format::fixed : std::chars_format::scientific);
  std::string text(buffer, result.ptr);
  if (plain && text.find('.') == std::string::npos) text += ".0";
  return text;
}

}  // namespace platform
