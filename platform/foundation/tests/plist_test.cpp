#include "platform/foundation/plist.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace platform {
namespace {

PlistValue sampleTree() {
  return PlistValue::Dictionary{
      {"flag", true},
      {"negative", -42},
      {"largest", static_cast<long long>(INT64_MAX)},
      {"smallest", static_cast<long long>(INT64_MIN)},
      {"real", 0.1},
      {"text", "Café ☕️ 👩‍👩‍👧"},
      {"empty", ""},
      {"bytes", PlistValue::Data{0x00, 0xFF, 0x10}},
      {"date", Date{86400.0}},
      {"list", PlistValue::Array{1, "two", PlistValue::Array{}, PlistValue::Dictionary{}}},
      {"nested", PlistValue::Dictionary{{"inner", PlistValue::Dictionary{{"x", 3.5}}}}},
  };
}

class PlistRoundTrip : public ::testing::TestWithParam<PlistFormat> {};

TEST_P(PlistRoundTrip, EveryKindComesBackEqual) {
  auto bytes = encodePlist(sampleTree(), GetParam());
  ASSERT_TRUE(bytes.has_value());
  auto decoded = decodePlist(*bytes);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(*decoded, sampleTree());
}

TEST_P(PlistRoundTrip, TopLevelScalarsAndArrays) {
  for (const PlistValue& value : {PlistValue(7), PlistValue("x"), PlistValue(false),
                                  PlistValue(PlistValue::Array{})}) {
    auto bytes = encodePlist(value, GetParam());
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(decodePlist(*bytes), value);
  }
}

TEST_P(PlistRoundTrip, RefusesWhatItCannotWrite) {
  EXPECT_FALSE(encodePlist(PlistValue(), GetParam()).has_value());
  EXPECT_FALSE(encodePlist(PlistValue::Array{1, PlistValue()}, GetParam()).has_value());
  EXPECT_FALSE(encodePlist(PlistValue::Dictionary{{"k", PlistValue(UINT64_MAX)}}, GetParam())
                   .has_value());
}

INSTANTIATE_TEST_SUITE_P(Formats, PlistRoundTrip,
                         ::testing::Values(PlistFormat::Binary, PlistFormat::Xml),
                         [](const auto& info) {
                           return info.param == PlistFormat::Binary ? "Binary" : "Xml";
                         });

TEST(PlistTest, BinaryStartsWithItsMagicAndIsDeterministic) {
  auto first = encodePlist(sampleTree(), PlistFormat::Binary);
  auto second = encodePlist(sampleTree(), PlistFormat::Binary);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(std::string(first->begin(), first->begin() + 8), "bplist00");
  EXPECT_EQ(*first, *second);
}

TEST(PlistTest, BinaryKeepsUidsAndFractionalDates) {
  PlistValue tree = PlistValue::Dictionary{
      {"$top", PlistUid{7}}, {"when", Date{786297600.125}}, {"before", Date{-86400.0}}};
  auto bytes = encodePlist(tree, PlistFormat::Binary);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(decodePlist(*bytes), tree);
}

TEST(PlistTest, DecodesXmlWrittenElsewhere) {
  const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<array>
  <dict>
    <key>id</key><string>0F5C3E55-1B2A-4C4D-9E8F-001122334455</string>
    <key>amount</key><real>12.5</real>
    <key>occurring</key><integer>1</integer>
    <key>paid</key><false/>
    <key>due</key><date>2001-01-02T00:00:00Z</date>
    <key>blob</key><data>AAEC</data>
  </dict>
</array>
</plist>)";
  auto decoded = decodePlist(xml);
  ASSERT_TRUE(decoded.has_value());
  const auto* array = decoded->asArray();
  ASSERT_TRUE(array != nullptr);
  ASSERT_EQ(array->size(), 1u);
  const PlistValue& record = (*array)[0];
  EXPECT_EQ(*record.find("id")->asString(), "0F5C3E55-1B2A-4C4D-9E8F-001122334455");
  EXPECT_EQ(*record.find("amount")->asReal(), 12.5);
  EXPECT_EQ(*record.find("occurring")->asInteger(), 1);
  EXPECT_EQ(*record.find("paid")->asBool(), false);
  EXPECT_EQ(record.find("due")->asDate()->timeIntervalSinceReferenceDate, 86400.0);
  EXPECT_EQ(*record.find("blob")->asData(), (PlistValue::Data{0, 1, 2}));
  EXPECT_EQ(record.find("missing"), nullptr);
}

TEST(PlistTest, RejectsBytesThatAreNoPropertyList) {
  auto good = encodePlist(sampleTree(), PlistFormat::Binary);
  ASSERT_TRUE(good.has_value());
  std::vector<uint8_t> truncated(good->begin(), good->begin() + good->size() / 2);
  std::vector<uint8_t> badTrailer = *good;
  for (size_t i = badTrailer.size() - 26; i < badTrailer.size(); ++i) badTrailer[i] = 0xFF;

  EXPECT_FALSE(decodePlist(std::vector<uint8_t>{}).has_value());
  EXPECT_FALSE(decodePlist(std::string_view("not a plist at all")).has_value());
  EXPECT_FALSE(decodePlist(std::string_view("<plist><dict><key>a</key></plist>")).has_value());
  EXPECT_FALSE(decodePlist(truncated).has_value());
  EXPECT_FALSE(decodePlist(badTrailer).has_value());

  // A binary array that contains itself: refused, not followed forever.
  std::vector<uint8_t> cyclic = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xA1, 0x00, 8};
  const std::vector<uint8_t> trailer = {0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1,
                                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10};
  cyclic.insert(cyclic.end(), trailer.begin(), trailer.end());
  EXPECT_FALSE(decodePlist(cyclic).has_value());

  // A damaged binary string holding a NUL ("a\0b") decodes without aborting the process.
  std::vector<uint8_t> withNul = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x53, 'a', 0, 'b', 8};
  const std::vector<uint8_t> nulTrailer = {0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1,
                                           0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12};
  withNul.insert(withNul.end(), nulTrailer.begin(), nulTrailer.end());
  auto decoded = decodePlist(withNul);
  ASSERT_TRUE(decoded.has_value());
  ASSERT_NE(decoded->asString(), nullptr);
  EXPECT_EQ(*decoded->asString(), "a");
}

TEST(PlistTest, PrintsReadably) {
  std::ostringstream out;
  out << PlistValue(PlistValue::Dictionary{
      {"a", PlistValue::Array{1, true, "x\"y", PlistValue::Data{0x00, 0xAB}, PlistUid{3}}},
      {"d", Date{0.5}}});
  EXPECT_EQ(out.str(), R"({"a": [1, true, "x\"y", <00ab>, uid(3)], "d": @2001-01-01T00:00:00.5Z})");
}

TEST(PlistTest, NumberViewsCrossNumericKindsOnly) {
  EXPECT_EQ(PlistValue(3).toDouble(), 3.0);
  EXPECT_EQ(PlistValue(2.5).toDouble(), 2.5);
  EXPECT_EQ(PlistValue(2.5).toInt64(), std::nullopt);
  EXPECT_EQ(PlistValue(true).toInt64(), std::nullopt);
  EXPECT_EQ(PlistValue(UINT64_MAX).kind(), PlistValue::Kind::UnsignedInteger);
  EXPECT_EQ(PlistValue(uint64_t{5}).kind(), PlistValue::Kind::Integer);
}

}  // namespace
}  // namespace platform
