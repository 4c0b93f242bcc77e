// The small closed value types held by the stored records, and the two screen-only enums.
//
// Every stored enum is persisted by its integer code, which is the case's position in the
// declaration counted from 0. The codes are a stored format: never renumber or reorder a case.
//
//   auto sort = fromRawValue<BillSortType>(5);   // BillSortType::timestampReversed
//   auto none = fromRawValue<SalaryType>(2);     // std::nullopt
//   YearlyType month = yearlyTypeFromIndex(12);  // YearlyType::january (never fails)
//
// Plain values; safe on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <type_traits>

#include "platform/foundation/plist.h"

namespace brivel {

enum class SalaryType : std::int64_t { fixed = 0, variable = 1 };

enum class OccurringType : std::int64_t { monthly = 0, quarterly = 1, yearly = 2 };

enum class QuarterType : std::int64_t { quarter1 = 0, quarter2 = 1, quarter3 = 2 };

enum class YearlyType : std::int64_t {
  january = 0,
  february = 1,
  march = 2,
  april = 3,
  may = 4,
  june = 5,
  july = 6,
  august = 7,
  september = 8,
  october = 9,
  november = 10,
  december = 11,
};

enum class CollectionFilterType : std::int64_t { off = 0, bankAccount = 1, category = 2 };

enum class FavoriteQuickAction : std::int64_t {
  openBankAccounts = 0,
  openCategories = 1,
  openNotes = 2,
  openSalary = 3,
};

enum class BillSortType : std::int64_t {
  name = 0,
  nameReversed = 1,
  cost = 2,
  costReversed = 3,
  timestamp = 4,
  timestampReversed = 5,
};

enum class BankAccountSortType : std::int64_t {
  name = 0,
  nameReversed = 1,
  color = 2,
  colorReversed = 3,
  number = 4,
  numberReversed = 5,
  timestamp = 6,
  timestampReversed = 7,
};

enum class CategorySortType : std::int64_t {
  name = 0,
  nameReversed = 1,
  color = 2,
  colorReversed = 3,
  timestamp = 4,
  timestampReversed = 5,
};

enum class NoteSortType : std::int64_t {
  name = 0,
  nameReversed = 1,
  color = 2,
  colorReversed = 3,
  timestamp = 4,
  timestampReversed = 5,
};

// Screen-only enums: not stored, no integer code.
enum class ForecastType { all, month, quarter, year };
enum class ToastMessageType { added, imported, updated, setQuickAction };

// The number of cases of each stored enum; codes run from 0 to caseCount - 1.
template <class E>
struct StoredEnum : std::false_type {};

#define BRIVEL_STORED_ENUM(E, N)                   \
  template <>                                      \
  struct StoredEnum<E> : std::true_type {          \
    static constexpr std::int64_t caseCount = N;   \
  }
BRIVEL_STORED_ENUM(SalaryType, 2);
BRIVEL_STORED_ENUM(OccurringType, 3);
BRIVEL_STORED_ENUM(QuarterType, 3);
BRIVEL_STORED_ENUM(YearlyType, 12);
BRIVEL_STORED_ENUM(CollectionFilterType, 3);
BRIVEL_STORED_ENUM(FavoriteQuickAction, 4);
BRIVEL_STORED_ENUM(BillSortType, 6);
BRIVEL_STORED_ENUM(BankAccountSortType, 8);
BRIVEL_STORED_ENUM(CategorySortType, 6);
BRIVEL_STORED_ENUM(NoteSortType, 6);
#undef BRIVEL_STORED_ENUM

template <class E>
concept StoredEnumType = StoredEnum<E>::value;

// The integer code of a case.
template <StoredEnumType E>
constexpr std::int64_t rawValue(E value) {
  return static_cast<std::int64_t>(value);
}

// The case whose code is `raw`, or std::nullopt for any integer outside 0..caseCount-1.
template <StoredEnumType E>
constexpr std::optional<E> fromRawValue(std::int64_t raw) {
  if (raw < 0 || raw >= StoredEnum<E>::caseCount) {
    return std::nullopt;
  }
  return static_cast<E>(raw);
}

// The month at a month index as a bill editor holds it: 0..11 give january..december, any
// other integer gives january. Unlike fromRawValue it never fails.
constexpr YearlyType yearlyTypeFromIndex(std::int64_t index) {
  return fromRawValue<YearlyType>(index).value_or(YearlyType::january);
}

// Thrown when a coded value cannot be turned back into the type asked for.
class DecodingError : public std::exception {
 public:
  enum class Kind { dataCorrupted };

  DecodingError(Kind kind, std::string debugDescription)
      : kind_(kind), debugDescription_(std::move(debugDescription)) {}

  Kind kind() const { return kind_; }
  const std::string& debugDescription() const { return debugDescription_; }
  const char* what() const noexcept override { return debugDescription_.c_str(); }

 private:
  Kind kind_;
  std::string debugDescription_;
};

// Encoding writes the case's code as one integer value.
template <StoredEnumType E>
platform::PlistValue encode(E value) {
  return platform::PlistValue(rawValue(value));
}

// Decoding reads one integer value and gives its case. A value that is not an integer, or an
// integer that is no code of E, throws DecodingError::Kind::dataCorrupted.
template <StoredEnumType E>
E decode(const platform::PlistValue& value) {
  std::optional<std::int64_t> raw = value.asInteger() ? std::optional(*value.asInteger())
                                                      : std::nullopt;
  if (!raw) {
    throw DecodingError(DecodingError::Kind::dataCorrupted,
                        "Expected a single integer value for a stored enum.");
  }
  std::optional<E> result = fromRawValue<E>(*raw);
  if (!result) {
    throw DecodingError(DecodingError::Kind::dataCorrupted,
                        "Cannot initialize the enum from invalid Int value " +
                            std::to_string(*raw) + ".");
  }
  return *result;
}

}  // namespace brivel
