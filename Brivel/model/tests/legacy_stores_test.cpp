#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Brivel/model/bill_view_model.h"
#include "Brivel/model/ring_view_model.h"
#include "Brivel/model/tests/holders_test_support.h"
#include "platform/foundation/defaults.h"
#include "platform/foundation/plist.h"

namespace brivel {
namespace {

using platform::PlistValue;
using Dict = PlistValue::Dictionary;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kSuite = "group.ruv.vantoru.Duvenmark";
constexpr const char* kRingA = "0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C2D3";
constexpr const char* kBillA = "11111111-2222-4333-8444-555555555555";
constexpr const char* kBillB = "AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE";

// Records as the earlier generation wrote them, built by hand rather than by the code under
// test.
Dict ringRecord() { return {{"id", kRingA}, {"name", "Home"}}; }
Dict rentRecord() {
  return {{"id", kBillA},          {"title", "Rent"},       {"amount", 950.5},
          {"note", "landlord"},    {"occurring", 0},        {"startingMonth", 0},
          {"startingMonthYearly", 1}, {"ring", ringRecord()}};
}
Dict insuranceRecord() {  // no ring
  return {{"id", kBillB},    {"title", "Insurance"}, {"amount", 120.0},
          {"note", ""},      {"occurring", 2},       {"startingMonth", 0},
          {"startingMonthYearly", 3}};
}

Bytes binaryList(PlistValue::Array records) {
  return *platform::encodePlist(PlistValue(std::move(records)), platform::PlistFormat::Binary);
}

bool isBinaryPlist(const Bytes& bytes) {
  return bytes.size() > 8 && std::string(bytes.begin(), bytes.begin() + 8) == "bplist00";
}

class LegacyStoresTest : public testing::DataDirectoryTest {
 protected:
  std::shared_ptr<platform::UserDefaults> suite() { return platform::UserDefaults::suite(kSuite); }
  void store(const char* key, PlistValue value) {
    ASSERT_TRUE(suite()->set(key, std::move(value)).ok());
  }
  std::optional<PlistValue> stored(const char* key) { return suite()->object(key); }
  // The key's value as it is in the suite's file on disk.
  std::optional<PlistValue> storedOnDisk(const char* key) {
    auto file = platform::loadPreferencesFile(suiteFile(kSuite));
    if (!file || !file->count(key)) return std::nullopt;
    return file->at(key);
  }
};

TEST_F(LegacyStoresTest, BinaryListLoadsWithAndWithoutRingAndIsWrittenBackAtOnce) {
  store("newBillz", binaryList({rentRecord(), insuranceRecord()}));

  BillViewModel model;
  const auto& bills = model.billsCollection();
  ASSERT_EQ(bills.size(), 2u);
  EXPECT_EQ(bills[0].id.uuidString(), kBillA);
  EXPECT_EQ(bills[0].title, "Rent");
  EXPECT_EQ(bills[0].amount, 950.5);
  EXPECT_EQ(bills[0].note, "landlord");
  EXPECT_EQ(bills[0].occurring, 0);
  EXPECT_EQ(bills[0].startingMonthYearly, 1);
  ASSERT_TRUE(bills[0].ring.has_value());
  EXPECT_EQ(bills[0].ring->id.uuidString(), kRingA);
  EXPECT_EQ(bills[0].ring->name, "Home");
  EXPECT_EQ(bills[1].title, "Insurance");
  EXPECT_EQ(bills[1].occurring, 2);
  EXPECT_EQ(bills[1].startingMonthYearly, 3);
  EXPECT_FALSE(bills[1].ring.has_value());

  // Written back in the binary form, without a "ring" key for the second bill, and it reads
  // again as equal bills.
  auto written = storedOnDisk("newBillz");
  ASSERT_TRUE(written && written->asData());
  EXPECT_TRUE(isBinaryPlist(*written->asData()));
  auto root = platform::decodePlist(*written->asData());
  ASSERT_TRUE(root && root->asArray());
  EXPECT_EQ((*root->asArray())[1].find("ring"), nullptr);
  EXPECT_EQ(*(*root->asArray())[0].find("ring")->find("name")->asString(), "Home");
  EXPECT_EQ(BillViewModel().billsCollection(), bills);
}

TEST_F(LegacyStoresTest, XmlListsLoadAndAreStoredBinaryAfterwards) {
  // Unknown keys are ignored; the id may be written in lower case.
  const std::string bills = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<array>
  <dict>
    <key>id</key><string>aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee</string>
    <key>title</key><string>Gym</string>
    <key>amount</key><real>29.9</real>
    <key>note</key><string></string>
    <key>occurring</key><integer>1</integer>
    <key>startingMonth</key><integer>2</integer>
    <key>startingMonthYearly</key><integer>0</integer>
    <key>colour</key><string>red</string>
  </dict>
</array>
</plist>
)";
  const std::string rings = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<array>
  <dict><key>id</key><string>0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C2D3</string><key>name</key><string>Home</string></dict>
  <dict><key>name</key><string>Car</string><key>id</key><string>11111111-2222-4333-8444-555555555555</string></dict>
</array>
</plist>
)";
  store("newBillz", Bytes(bills.begin(), bills.end()));
  store("ringCollectionItems", Bytes(rings.begin(), rings.end()));

  BillViewModel billModel;
  ASSERT_EQ(billModel.billsCollection().size(), 1u);
  EXPECT_EQ(billModel.billsCollection()[0].id.uuidString(), kBillB);
  EXPECT_EQ(billModel.billsCollection()[0].amount, 29.9);
  EXPECT_EQ(billModel.billsCollection()[0].startingMonth, 2);

  RingViewModel ringModel;
  ASSERT_EQ(ringModel.ringCollection().size(), 2u);
  EXPECT_EQ(ringModel.ringCollection()[1].name, "Car");
  EXPECT_EQ(ringModel.ringCollection()[1].id.uuidString(), kBillA);

  for (const char* key : {"newBillz", "ringCollectionItems"}) {
    auto written = storedOnDisk(key);
    ASSERT_TRUE(written && written->asData()) << key;
    EXPECT_TRUE(isBinaryPlist(*written->asData())) << key;
  }
}

// A list decodes whole or not at all: the list stays empty and the stored value is kept
// byte for byte.
TEST_F(LegacyStoresTest, AnUnreadableBillListLoadsNothingAndStaysAsItWas) {
  auto without = [](const char* key) {
    Dict record = insuranceRecord();
    record.erase(key);
    return record;
  };
  auto with = [](const char* key, PlistValue value) {
    Dict record = insuranceRecord();
    record[key] = std::move(value);
    return record;
  };
  const std::string xmlWithTextAmount = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><array><dict>
  <key>id</key><string>AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE</string>
  <key>title</key><string>Gym</string><key>amount</key><string>29.9</string>
  <key>note</key><string></string><key>occurring</key><integer>0</integer>
  <key>startingMonth</key><integer>0</integer><key>startingMonthYearly</key><integer>1</integer>
</dict></array></plist>
)";
  const std::string truncatedXml = xmlWithTextAmount.substr(0, 120);
  struct Case {
    const char* what;
    PlistValue stored;
  };
  const std::vector<Case> cases = {
      {"XML record with a text amount", Bytes(xmlWithTextAmount.begin(), xmlWithTextAmount.end())},
      {"truncated XML", Bytes(truncatedXml.begin(), truncatedXml.end())},
      {"second record lacks startingMonthYearly",
       binaryList({rentRecord(), without("startingMonthYearly")})},
      {"record lacks id", binaryList({without("id")})},
      {"record lacks note", binaryList({without("note")})},
      {"title is a number", binaryList({with("title", 7)})},
      {"amount is text", binaryList({with("amount", "12.5")})},
      {"amount is a boolean", binaryList({with("amount", true)})},
      {"occurring is a fraction", binaryList({with("occurring", 1.5)})},
      {"id is not a UUID", binaryList({with("id", "not-a-uuid")})},
      {"ring lacks its name", binaryList({with("ring", Dict{{"id", kRingA}})})},
      {"ring is a string", binaryList({with("ring", "Home")})},
      {"record is not a dictionary", binaryList({PlistValue("Rent")})},
      {"root is a dictionary", *platform::encodePlist(PlistValue(rentRecord()),
                                                      platform::PlistFormat::Binary)},
      {"bytes are no property list", PlistValue(Bytes{'b', 'p', 'l', 'i', 's', 't', '0', '0', 1})},
      {"value is not data", PlistValue(PlistValue::Array{PlistValue(rentRecord())})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    store("newBillz", c.stored);
    BillViewModel model;
    EXPECT_TRUE(model.billsCollection().empty());
    EXPECT_EQ(stored("newBillz"), c.stored);
    EXPECT_EQ(storedOnDisk("newBillz"), c.stored);
  }
}

TEST_F(LegacyStoresTest, NumbersAreReadByValue) {
  // An amount written as an integer and a month written as a whole real both read.
  Dict record = insuranceRecord();
  record["amount"] = 120;
  record["startingMonthYearly"] = 3.0;
  store("newBillz", binaryList({record}));

  BillViewModel model;
  ASSERT_EQ(model.billsCollection().size(), 1u);
  EXPECT_EQ(model.billsCollection()[0].amount, 120.0);
  EXPECT_EQ(model.billsCollection()[0].startingMonthYearly, 3);
}

TEST_F(LegacyStoresTest, AnUnreadableRingListLoadsNothing) {
  const PlistValue data = binaryList({ringRecord(), Dict{{"name", "Car"}}});
  store("ringCollectionItems", data);
  RingViewModel model;
  EXPECT_TRUE(model.ringCollection().empty());
  EXPECT_EQ(stored("ringCollectionItems"), data);
}

TEST_F(LegacyStoresTest, NothingStoredMeansEmptyListsAndNoWrite) {
  BillViewModel bills;
  RingViewModel rings;
  EXPECT_TRUE(bills.billsCollection().empty());
  EXPECT_TRUE(rings.ringCollection().empty());
  EXPECT_FALSE(stored("newBillz").has_value());
  EXPECT_FALSE(stored("ringCollectionItems").has_value());
  EXPECT_FALSE(std::filesystem::exists(suiteFile(kSuite)));
}

TEST_F(LegacyStoresTest, EveryAssignmentAnnouncesFirstThenSaves) {
  store("ringCollectionItems", binaryList({ringRecord()}));
  RingViewModel model;
  ASSERT_EQ(model.ringCollection().size(), 1u);

  std::vector<std::size_t> sizesSeenByObservers;
  model.objectWillChange().subscribe(
      [&] { sizesSeenByObservers.push_back(model.ringCollection().size()); });

  // Emptying the list stores an encoded empty array; the key is not removed.
  model.setRingCollection({});
  EXPECT_EQ(sizesSeenByObservers, std::vector<std::size_t>{1});
  auto written = storedOnDisk("ringCollectionItems");
  ASSERT_TRUE(written && written->asData());
  EXPECT_EQ(platform::decodePlist(*written->asData()), PlistValue(PlistValue::Array{}));

  // Assigning the same contents again is still a change and a save.
  ASSERT_TRUE(suite()->remove("ringCollectionItems").ok());
  model.setRingCollection({});
  EXPECT_EQ(sizesSeenByObservers.size(), 2u);
  EXPECT_TRUE(storedOnDisk("ringCollectionItems").has_value());

  BillViewModel bills;
  bills.setBillsCollection({Bill{}});
  EXPECT_EQ(BillViewModel().billsCollection(), bills.billsCollection());
}

TEST(LegacyRecordsTest, EqualityIgnoresRingIdsButNothingElse) {
  const Ring home{platform::UUID::random(), "Home"};
  const Ring homeAgain{platform::UUID::random(), "Home"};
  EXPECT_EQ(home, homeAgain);
  EXPECT_NE(home, (Ring{home.id, "home"}));

  const Bill bill{platform::UUID::random(), "Rent", 950.5, "", 0, 0, 1, home};
  Bill other = bill;
  other.ring = homeAgain;
  EXPECT_EQ(bill, other);

  other = bill;
  other.id = platform::UUID::random();
  EXPECT_NE(bill, other);
  other = bill;
  other.amount = 950.5000001;
  EXPECT_NE(bill, other);
  other = bill;
  other.ring.reset();
  EXPECT_NE(bill, other);
  other.ring = Ring{home.id, "Car"};
  EXPECT_NE(bill, other);
}

TEST(LegacyRecordsTest, OrderingComparesTheMonthTheLeftBillUses) {
  Bill a;
  a.occurring = 1;
  a.startingMonth = 0;
  a.startingMonthYearly = 12;
  Bill b;
  b.occurring = 2;
  b.startingMonth = 2;
  b.startingMonthYearly = 12;
  // a is quarterly: its quarter months compare (0 < 2), whatever else b holds.
  EXPECT_TRUE(a < b);
  EXPECT_TRUE(b > a);
  // b is yearly: the yearly months compare (12 < 12 fails).
  EXPECT_FALSE(b < a);
  EXPECT_TRUE(a <= b);
  EXPECT_FALSE(a >= b);

  // With b's yearly month earlier, each bill is "less" than the other: the left operand
  // alone picks the field.
  b.startingMonthYearly = 1;
  EXPECT_TRUE(a < b);
  EXPECT_TRUE(b < a);
  // Any occurring value other than 1 compares the yearly month.
  b.occurring = 7;
  EXPECT_TRUE(b < a);
  EXPECT_FALSE(a < a);
}

}  // namespace
}  // namespace brivel
