#include "platform/foundation/plist.h"

#include "platform/foundation/binary_plist.h"
#include "platform/foundation/text.h"

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

// Our binary writer against libplist's encoder: both must read back to the same tree, through
// libplist's reader, for every kind, at the width boundaries of integers, lengths and
// references, with shared (deduplicated) leaves and deep nesting.
TEST(PlistTest, BinaryWriterReadsBackLikeLibplistsEncoder) {
  PlistValue::Array many;
  for (int i = 0; i < 300; ++i) many.push_back(PlistValue::Dictionary{{"$class", PlistUid{uint64_t(i)}}, {"n", i % 7}});
  PlistValue::Data blob(70000);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 31);
  const std::vector<std::pair<const char*, PlistValue>> cases = {
      {"sample tree", sampleTree()},
      {"integers", PlistValue::Array{0, 1, 255, 256, 65535, 65536, 4294967295LL, 4294967296LL, -1, -256,
                                     static_cast<long long>(INT64_MAX), static_cast<long long>(INT64_MIN)}},
      {"reals", PlistValue::Array{0.0, -0.0, 0.1, -2.5, 1e308, 5e-324, 3.0}},
      {"dates", PlistValue::Array{Date{0.0}, Date{786297600.125}, Date{-86400.0}, Date{-978307200.0},
                                  Date{2147483647.0}, Date{1e12}, Date{786297600.123457}, Date{-0.5},
                                  Date{-12345.678901}, Date{0.000001}, Date{1.999999}, Date{-1e12}}},
      {"strings", PlistValue::Array{"", "fourteen chars", "fifteen chars!!", "sixteen chars!!!",
                                    std::string(300, 'x'), "é", "Grüße, 東京", "👩‍👩‍👧 and 𝄞",
                                    std::string("cut\0here", 8)}},
      {"data", PlistValue::Array{PlistValue::Data{}, PlistValue::Data(14, 1), PlistValue::Data(15, 2),
                                 PlistValue::Data(500, 'p'), blob}},
      {"uids", PlistValue::Array{PlistUid{0}, PlistUid{255}, PlistUid{256}, PlistUid{70000},
                                 PlistUid{4294967295ULL}}},
      {"nested", PlistValue::Dictionary{
                     {"a", PlistValue::Array{PlistValue::Dictionary{{"b", PlistValue::Array{PlistValue::Array{}}}}}},
                     {"ünïcode key", true},
                     {"same", PlistValue::Array{"x", "x", 1, 1, true, true}}}},
      {"more than 255 objects", PlistValue(many)},
      {"keys meeting at a NUL", PlistValue::Dictionary{{std::string("k\0a", 3), 1}, {std::string("k\0b", 3), 2}}},
  };
  for (const auto& [name, value] : cases) {
    SCOPED_TRACE(name);
    auto ours = detail::writeBinaryPlist(value);
    auto theirs = detail::libplistBinaryPlist(value);
    ASSERT_TRUE(ours.has_value());
    ASSERT_TRUE(theirs.has_value());
    EXPECT_EQ(std::string(ours->begin(), ours->begin() + 8), "bplist00");
    auto oursBack = detail::libplistDecodePlist(ours->data(), ours->size());
    ASSERT_TRUE(oursBack.has_value());
    EXPECT_EQ(*oursBack, detail::libplistDecodePlist(theirs->data(), theirs->size()));
    // Our direct reader gives what libplist's does, for both writers' bytes.
    EXPECT_FALSE(detail::readBinaryPlist(ours->data(), ours->size()).unsupported);
    EXPECT_EQ(decodePlist(*ours), oursBack);
    EXPECT_EQ(decodePlist(*theirs), detail::libplistDecodePlist(theirs->data(), theirs->size()));
  }
  // A reference wider than 4 bytes is refused rather than written as another one.
  EXPECT_FALSE(encodePlist(PlistValue::Array{PlistUid{4294967296ULL}}, PlistFormat::Binary).has_value());
}

TEST(PlistTest, BinaryWriterRepairsTextThatIsNotUtf8) {
  auto bytes = detail::writeBinaryPlist(PlistValue::Array{std::string("ok \xC3\x28 \xFF end")});
  ASSERT_TRUE(bytes.has_value());
  auto back = decodePlist(*bytes);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->asArray()->at(0), PlistValue(repairedUtf8("ok \xC3\x28 \xFF end")));
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
