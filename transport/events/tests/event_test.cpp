#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "transport/events/event.h"
#include "transport/events/files.h"
#include "transport/events/transport.h"
#include "transport_test_support.h"

namespace et_testing {
namespace {

using EventTest = TransportTest;

// Writes an "ETEvent" archive with some of the event's keys left out.
struct PartialEventArchive : platform::KeyedCoding {
  std::set<std::string> omitted;
  std::string archiveClassName() const override { return "ETEvent"; }
  void encodeWithCoder(platform::KeyedArchiver& coder) const override {
    auto put = [&](const char* key, const platform::ArchiveValue& value) {
      if (!omitted.contains(key)) coder.encodeObject(value, key);
    };
    put("ETEventEventIDKey", "0123456789ABCDEF0123456789ABCDEF");
    put("ETEventMappingIDKey", "1974");
    coder.encodeInt64(1001, "ETEventTargetKey");
    coder.encodeInt64(3, "ETEventQoSTierKey");
    put("ETEventSerializedDataObjectBytesKey", platform::ArchiveValue::Data{1, 2, 3});
  }
};

std::shared_ptr<ETEvent> roundTrip(const platform::ArchiveValue& object, std::optional<platform::Error>* error = nullptr) {
  auto data = platform::KeyedArchiver::archivedData(object);
  EXPECT_TRUE(data);
  platform::Error readError;
  auto event = platform::KeyedUnarchiver::unarchivedObjectOfClass<ETEvent>(*data, &readError);
  if (error && !event) *error = readError;
  return event;
}

TEST_F(EventTest, ArchiveRoundTripsKeepEveryArchivedField) {
  auto event = ETEvent::initWithMappingID("1206", std::make_shared<ETProductData>(-7), 1002);
  event->setDataObject(std::make_shared<BytesObject>(payload(20)));
  event->setQosTier(4);
  event->setClockSnapshot(std::make_shared<ETClock>(1700000000123, -18000, 1690000000000000000, 42));
  event->setCustomBytes(std::vector<uint8_t>{'{', '}'});

  auto back = roundTrip(event);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->isEqual(*event));
  EXPECT_EQ(back->hash(), event->hash());
  EXPECT_EQ(back->clockSnapshot()->timezoneOffsetSeconds, -18000);
  EXPECT_EQ(back->productData()->productID(), -7);
  EXPECT_EQ(back->customBytes(), event->customBytes());
  EXPECT_EQ(back->expirationDate(), event->expirationDate());
  EXPECT_FALSE(back->dataObject());

  PartialEventArchive withoutID;
  withoutID.omitted = {"ETEventEventIDKey"};
  auto renamed = roundTrip(std::make_shared<PartialEventArchive>(withoutID));
  ASSERT_TRUE(renamed);
  EXPECT_EQ(renamed->eventID().size(), 32u);
  EXPECT_NE(renamed->eventID(), "0123456789ABCDEF0123456789ABCDEF");

  PartialEventArchive withoutBytes;
  withoutBytes.omitted = {"ETEventSerializedDataObjectBytesKey"};
  std::optional<platform::Error> error;
  EXPECT_FALSE(roundTrip(std::make_shared<PartialEventArchive>(withoutBytes), &error));
  EXPECT_TRUE(error);
}

TEST_F(EventTest, InvalidMappingIDsAndTargetsMakeNoEventAndNoTransport) {
  struct Case {
    std::string mappingID;
    long target;
    std::string assertion;
  };
  for (const Case& c : std::vector<Case>{{"", 1001, "Please give a valid mapping ID"},
                                         {"1974", 0, "A target cannot be negative or 0"},
                                         {"1974", -1, "A target cannot be negative or 0"}}) {
    assertions_.clear();
    EXPECT_FALSE(ETEvent::initWithMappingID(c.mappingID, c.target)) << c.mappingID << c.target;
    EXPECT_EQ(assertions(), std::vector<std::string>{c.assertion});
    EXPECT_FALSE(ETTransport::make(c.mappingID, {}, c.target));
  }
  EXPECT_TRUE(ETTransport::make("1206", {}, 1002));
}

TEST_F(EventTest, ANewEventHasTierThreeAHexIDAndExpiresInSevenDays) {
  const double now = platform::Date::now().timeIntervalSince1970();
  auto event = ETEvent::initWithMappingID("1974", 1001);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->qosTier(), 3);
  ASSERT_EQ(event->eventID().size(), 32u);
  EXPECT_EQ(event->eventID().find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_NEAR(event->expirationDate().timeIntervalSince1970() - now, 604800, 5);
  event->setDataObject(std::make_shared<BytesObject>(std::nullopt));
  EXPECT_FALSE(event->serializedDataObjectBytes());
}

TEST_F(EventTest, ACopyTakesTheFieldsAndBytesAnewButNotTheExpiration) {
  auto object = std::make_shared<BytesObject>(payload(8));
  auto event = ETEvent::initWithMappingID("1974", 1001);
  event->setDataObject(object);
  event->setQosTier(4);
  event->setClockSnapshot(ETClock::snapshot());
  event->setCustomBytes(std::vector<uint8_t>{1});
  event->setExpirationDate(platform::Date::fromTimeIntervalSince1970(1000));
  object->bytes = payload(8, 'q');  // the copy asks the object again

  auto copy = event->copy();
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->eventID(), event->eventID());
  EXPECT_EQ(copy->qosTier(), 4);
  EXPECT_EQ(copy->clockSnapshot(), event->clockSnapshot());
  EXPECT_EQ(copy->customBytes(), event->customBytes());
  EXPECT_EQ(copy->serializedDataObjectBytes(), payload(8, 'q'));
  EXPECT_GT(copy->expirationDate().timeIntervalSince1970(), 1000000);
}

TEST_F(EventTest, EqualityComparesTheHashedFieldsSoHashCollisionsStayApart) {
  auto event = makeEvent();
  auto other = event->copy();
  other->setExpirationDate(platform::Date::fromTimeIntervalSince1970(5));
  other->setCustomBytes(std::vector<uint8_t>{9});
  other->setDataObject(std::make_shared<BytesObject>(payload(500)));
  EXPECT_TRUE(other->isEqual(*event));

  // Tier and target swapped: the exclusive-or of the hashes is the same, the events are not.
  auto a = ETEvent::initWithMappingID("1974", 3);
  a->setQosTier(4);
  auto b = ETEvent::initWithMappingID("1974", 4);
  b->setQosTier(3);
  b->setEventID(a->eventID());
  EXPECT_EQ(a->hash(), b->hash());
  EXPECT_FALSE(a->isEqual(*b));
  ETEventSet set{a, b};
  EXPECT_EQ(set.size(), 2u);
}

TEST_F(EventTest, IsAfterComparesBootTimesFirstThenWallTimePlusOffset) {
  struct Case {
    ETClock receiver, other;
    bool after;
  };
  const std::vector<Case> cases = {
      {{0, 0, 200, 0}, {999999, 0, 100, 0}, true},    // booted later: after, whatever the wall time
      {{999999, 0, 100, 0}, {0, 0, 200, 0}, false},
      {{1000, 5, 100, 0}, {1004, 0, 100, 0}, true},   // the offset's seconds count as milliseconds
      {{1000, 0, 100, 0}, {1000, 0, 100, 0}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.receiver.isAfter(c.other), c.after);
  EXPECT_EQ(ETClock(0, 0, 0, 1999999).uptimeMilliseconds(), 1);
}

TEST_F(EventTest, ASnapshotTakesTheKernelBootTimeAndTheUptimeSinceIt) {
  std::ifstream stat("/proc/stat");
  std::string word;
  long long btime = 0;
  while (stat >> word) {
    if (word == "btime") stat >> btime;
  }
  auto clock = ETClock::snapshot();
  EXPECT_EQ(clock->kernelBootTime(), btime * 1000000000LL);
  std::ifstream uptimeFile("/proc/uptime");
  double uptime = 0;
  uptimeFile >> uptime;
  // btime is in whole seconds, so the two uptimes differ by under a second or two.
  EXPECT_NEAR(static_cast<double>(clock->uptime()) / 1e9, uptime, 2.0);
  EXPECT_NEAR(static_cast<double>(clock->timeMillis) / 1000, platform::Date::now().timeIntervalSince1970(), 2.0);
  auto later = ETClock::clockSnapshotInTheFuture(60000);
  EXPECT_NEAR(static_cast<double>(later->timeMillis - clock->timeMillis), 60000, 2000);
}

TEST(TransportFunctionsTest, ReachabilityFlags) {
  EXPECT_FALSE(ETFlagsSayReachable(2 | 4));
  EXPECT_TRUE(ETFlagsSayReachable(2 | 0x40000));
  EXPECT_FALSE(ETFlagsSayReachable(0));
  EXPECT_TRUE(ETFlagsSayCellular(2 | 0x40000));
  EXPECT_FALSE(ETFlagsSayCellular(2));
  EXPECT_FALSE(ETHardwareModel().empty());
}

}  // namespace
}  // namespace et_testing
