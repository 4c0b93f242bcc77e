#include "Brivel/bills/bill_input.h"

#include <locale.h>
#include <stdlib.h>

#include <cmath>
#include <string>

#include "platform/foundation/text.h"

namespace brivel {

namespace {

// The C locale, made once, so that parsing never depends on the process's locale.
locale_t cLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

bool isRejectedLeadingCharacter(char c) {
  return c == '\0' || c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

double costFromText(std::string_view text) {
  std::string normalized(text);
  for (char& c : normalized) {
    if (c == ',') c = '.';
  }
  if (normalized.empty() || isRejectedLeadingCharacter(normalized.front())) return 0.0;
  const char* begin = normalized.c_str();
  char* end = nullptr;
  const double value = strtod_l(begin, &end, cLocale());
  // The whole text must be consumed; an embedded NUL stops strtod early and so rejects too.
  if (end != begin + normalized.size()) return 0.0;
  // Past the largest cost a year's total, a sum over bills or a balance could overflow; such
  // figures would show as infinities, so the text is as unreadable as "inf".
  if (!std::isfinite(value) || std::fabs(value) > kLargestCost) return 0.0;
  return value;
}

std::string costFieldText(double cost) { return platform::doubleDescription(cost); }

OccurringType occurringFromIndex(std::int64_t index) {
  return fromRawValue<OccurringType>(index).value_or(OccurringType::monthly);
}

QuarterType quarterFromIndex(std::int64_t index) {
  return fromRawValue<QuarterType>(index).value_or(QuarterType::quarter1);
}

BillPeriod billPeriodFromIndices(std::int64_t occurring, std::int64_t quarterly, std::int64_t yearly) {
  BillPeriod period;
  period.occurring = occurringFromIndex(occurring);
  if (period.occurring == OccurringType::quarterly) period.quarterly = quarterFromIndex(quarterly);
  if (period.occurring == OccurringType::yearly) period.yearly = yearlyTypeFromIndex(yearly);
  return period;
}

std::optional<std::string> noteFromInput(bool connectNote, std::string_view note) {
  if (!connectNote) return std::nullopt;
  std::string trimmed = platform::trimmingWhitespaceAndNewlines(note);
  if (trimmed.empty()) return std::nullopt;
  return trimmed;
}

bool isBlankName(std::string_view name) { return platform::trimmingWhitespaceAndNewlines(name).empty(); }

}  // namespace brivel
