#include "Brivel/model/enums.h"

#include <gtest/gtest.h>

namespace brivel {
namespace {

// Every stored enum accepts exactly the codes 0..caseCount-1, and each code maps back to
// itself.
template <class E>
void expectCodesRoundTrip(std::int64_t expectedCount) {
  EXPECT_EQ(StoredEnum<E>::caseCount, expectedCount);
  EXPECT_EQ(fromRawValue<E>(-1), std::nullopt);
  EXPECT_EQ(fromRawValue<E>(expectedCount), std::nullopt);
  for (std::int64_t code = 0; code < expectedCount; ++code) {
    auto value = fromRawValue<E>(code);
    ASSERT_TRUE(value.has_value()) << code;
    EXPECT_EQ(rawValue(*value), code);
  }
}

TEST(EnumsTest, EachStoredEnumAcceptsExactlyItsCodes) {
  expectCodesRoundTrip<SalaryType>(2);
  expectCodesRoundTrip<OccurringType>(3);
  expectCodesRoundTrip<QuarterType>(3);
  expectCodesRoundTrip<YearlyType>(12);
  expectCodesRoundTrip<CollectionFilterType>(3);
  expectCodesRoundTrip<FavoriteQuickAction>(4);
  expectCodesRoundTrip<BillSortType>(6);
  expectCodesRoundTrip<BankAccountSortType>(8);
  expectCodesRoundTrip<CategorySortType>(6);
  expectCodesRoundTrip<NoteSortType>(6);
}

TEST(EnumsTest, CodesAreDeclarationPositions) {
  // The stored format: a sample of positions that must never move.
  EXPECT_EQ(fromRawValue<BillSortType>(5), BillSortType::timestampReversed);
  EXPECT_EQ(fromRawValue<BankAccountSortType>(4), BankAccountSortType::number);
  EXPECT_EQ(fromRawValue<BankAccountSortType>(7), BankAccountSortType::timestampReversed);
  EXPECT_EQ(fromRawValue<NoteSortType>(2), NoteSortType::color);
  EXPECT_EQ(fromRawValue<FavoriteQuickAction>(3), FavoriteQuickAction::openSalary);
  EXPECT_EQ(fromRawValue<CollectionFilterType>(1), CollectionFilterType::bankAccount);
  EXPECT_EQ(fromRawValue<YearlyType>(11), YearlyType::december);
  EXPECT_EQ(fromRawValue<SalaryType>(1), SalaryType::variable);
  EXPECT_EQ(fromRawValue<BankAccountSortType>(8), std::nullopt);
}

TEST(EnumsTest, MonthIndexFallsBackToJanuary) {
  struct Case {
    std::int64_t index;
    YearlyType month;
  };
  for (const Case& c : {Case{0, YearlyType::january}, Case{11, YearlyType::december},
                        Case{5, YearlyType::june}, Case{12, YearlyType::january},
                        Case{-1, YearlyType::january}, Case{INT64_MIN, YearlyType::january}}) {
    EXPECT_EQ(yearlyTypeFromIndex(c.index), c.month) << c.index;
  }
}

TEST(EnumsTest, EncodingWritesTheCodeAndDecodingChecksIt) {
  EXPECT_EQ(encode(NoteSortType::timestampReversed), platform::PlistValue(5));
  EXPECT_EQ(encode(FavoriteQuickAction::openNotes), platform::PlistValue(2));
  EXPECT_EQ(decode<OccurringType>(platform::PlistValue(2)), OccurringType::yearly);

  for (const platform::PlistValue& bad :
       {platform::PlistValue(3), platform::PlistValue(-1), platform::PlistValue("2"),
        platform::PlistValue(2.0), platform::PlistValue()}) {
    try {
      decode<OccurringType>(bad);
      ADD_FAILURE() << "decoding should fail";
    } catch (const DecodingError& error) {
      EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
    }
  }
}

}  // namespace
}  // namespace brivel
