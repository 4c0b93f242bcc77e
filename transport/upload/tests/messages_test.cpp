#include "transport/upload/messages.h"

#include <gtest/gtest.h>
#include <pb_decode.h>
#include <pb_encode.h>

#include "platform/testing/environment.h"
#include "sdk-core/utilities/environment.h"
#include "transport/upload/testing/log_collector.h"
#include "sdk-core/utilities/gzip.h"
#include "transport/upload/messages_internal.h"
#include "transport/upload/tests/test_support.h"

namespace {

class VersionProbe : public UTLEnvironmentProbe {
 public:
  std::string systemVersion() const override { return "17.4.1"; }
};

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override { UTLAppEnvironmentUtil::setProbe(std::make_shared<VersionProbe>()); }
  platform::testing::Environment environment_{"messages"};
};

const CollectedLogRequest* requestFor(const std::vector<CollectedLogRequest>& requests, int32_t source) {
  for (const auto& request : requests) {
    if (request.logSource == source) return &request;
  }
  return nullptr;
}

TEST_F(MessagesTest, GroupsEventsByMappingIDIntoOneRequestEach) {
  ETEventSet events{makeEvent("1206", 1002, "a"), makeEvent("1206", 1002, "b"), makeEvent("1710", 1002, "c")};
  auto decoded = LoopbackLogCollector::decodeBatch(UPConstructRequestProtoWithEvents(events));
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->size(), 2u);
  const auto* crash = requestFor(*decoded, 1206);
  const auto* metrics = requestFor(*decoded, 1710);
  ASSERT_TRUE(crash && metrics);
  EXPECT_EQ(crash->events.size(), 2u);
  EXPECT_EQ(metrics->events.size(), 1u);

  EXPECT_EQ(crash->clientKind, 15);
  EXPECT_EQ(crash->appleClient.at("os_major_version"), "17");
  EXPECT_EQ(crash->appleClient.at("os_version"), "17.4.1");
  EXPECT_EQ(crash->appleClient.at("language"), "en");
  EXPECT_FALSE(crash->appleClient.at("device_model").empty());
  EXPECT_FALSE(crash->hasExtraClient);
  EXPECT_FALSE(crash->hasQosTier);
  EXPECT_TRUE(crash->requestTimeMs && crash->requestUptimeMs);

  // Events without custom bytes carry neither an event code nor network info.
  const CollectedEvent& event = metrics->events.at(0);
  EXPECT_EQ(event.payload, std::vector<uint8_t>({'c'}));
  EXPECT_FALSE(event.eventCode);
  EXPECT_FALSE(event.hasNetworkConnectionInfo);
  EXPECT_FALSE(event.productID);
  EXPECT_TRUE(event.eventTimeMs && event.uptimeMs && event.timezoneOffsetSeconds);
}

TEST_F(MessagesTest, PayloadsLargerThan64KiBAndProductDataTravel) {
  std::string big(200000, 'x');
  big[123456] = 'y';
  auto event = ETEvent::initWithMappingID("1206", std::make_shared<ETProductData>(4242), 1002);
  event->setDataObject(std::make_shared<BytesPayload>(std::vector<uint8_t>(big.begin(), big.end())));
  event->setClockSnapshot(ETClock::snapshot());
  auto decoded = LoopbackLogCollector::decodeBatch(UPConstructRequestProtoWithEvents({event}));
  ASSERT_TRUE(decoded);
  const auto& collected = decoded->at(0).events.at(0);
  EXPECT_EQ(std::string(collected.payload.begin(), collected.payload.end()), big);
  EXPECT_EQ(collected.productID, 4242);
}

// The batch is framed by hand around requests encoded once: its bytes are those of the
// codec's own encoding of the whole message, for several requests, for a request longer than
// 16 KiB (a three-byte length) and for events with product data and custom bytes.
TEST_F(MessagesTest, EncodingGivesTheCodecsBytes) {
  auto withProduct = ETEvent::initWithMappingID("1206", std::make_shared<ETProductData>(99), 1002);
  withProduct->setDataObject(std::make_shared<BytesPayload>(std::vector<uint8_t>(40000, 'z')));
  withProduct->setClockSnapshot(ETClock::snapshot());
  auto withCode = makeEvent("1710", 1002, "coded");
  ETEventCustomBytes::setEventCode(*withCode, 12);
  const std::vector<ETEventSet> batches = {
      {makeEvent("1206", 1002, "a")},
      {makeEvent("1206", 1002, "a"), makeEvent("1206", 1002, "bb"), withProduct, withCode, makeEvent("9", 1002, "")},
  };
  for (const auto& events : batches) {
    LogBatchRequest request = UPBuildLogBatchRequest(UPGroupEventsByMappingID(events));
    size_t size = 0;
    ASSERT_TRUE(pb_get_encoded_size(&size, LogBatchRequest_fields, &request));
    std::vector<uint8_t> expected(size);
    pb_ostream_t stream = pb_ostream_from_buffer(expected.data(), expected.size());
    ASSERT_TRUE(pb_encode(&stream, LogBatchRequest_fields, &request));
    EXPECT_EQ(UPEncodeLogBatchRequest(request), expected) << events.size() << " events";
    pb_release(LogBatchRequest_fields, &request);
  }
}

TEST_F(MessagesTest, CustomBytesGiveEventCodeAndNetworkInfoReadByLayout) {
  auto event = makeEvent("1974", 1001, "p");
  ETEventCustomBytes::setEventCode(*event, 77);
  // Type 1 (Wi-Fi) present, subtype 13 present, written byte by byte.
  std::vector<uint8_t> info = {1, 0xAA, 0xAA, 0xAA, 1, 0, 0, 0, 1, 0xBB, 0xBB, 0xBB, 13, 0, 0, 0};
  ETEventCustomBytes::setNetworkConnectionInfoData(*event, info);
  ETEventCustomBytes::setNeedsNetworkConnectionInfoPopulated(*event, true);
  EXPECT_EQ(ETEventCustomBytes::eventCode(*event), 77);
  EXPECT_TRUE(ETEventCustomBytes::needsNetworkConnectionInfoPopulated(*event));
  EXPECT_EQ(ETEventCustomBytes::networkConnectionInfoData(*event), info);

  auto decoded = LoopbackLogCollector::decodeBatch(UPConstructRequestProtoWithEvents({event}));
  ASSERT_TRUE(decoded);
  const auto& collected = decoded->at(0).events.at(0);
  EXPECT_EQ(collected.eventCode, 77);
  EXPECT_TRUE(collected.hasNetworkConnectionInfo);
  EXPECT_EQ(collected.networkType, 1);
  EXPECT_EQ(collected.mobileSubtype, 13);

  // NO keeps only the event code; nil removes it.
  ETEventCustomBytes::setNeedsNetworkConnectionInfoPopulated(*event, false);
  EXPECT_FALSE(ETEventCustomBytes::needsNetworkConnectionInfoPopulated(*event));
  EXPECT_FALSE(ETEventCustomBytes::networkConnectionInfoData(*event));
  EXPECT_EQ(ETEventCustomBytes::eventCode(*event), 77);
  ETEventCustomBytes::setEventCode(*event, std::nullopt);
  EXPECT_FALSE(ETEventCustomBytes::eventCode(*event));

  // Bytes that are no JSON object are left alone.
  event->setCustomBytes(std::vector<uint8_t>{'[', '1', ']'});
  ETEventCustomBytes::setEventCode(*event, 5);
  EXPECT_EQ(event->customBytes(), (std::vector<uint8_t>{'[', '1', ']'}));
  EXPECT_FALSE(ETEventCustomBytes::eventCode(*event));
}

TEST(NetworkConnectionInfoTest, ShortBytesReadAsZero) {
  struct Case {
    std::vector<uint8_t> bytes;
    std::optional<int32_t> type;
    std::optional<uint32_t> subtype;
  };
  const Case cases[] = {
      {{}, std::nullopt, std::nullopt},
      {{1}, 0, std::nullopt},
      {{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, -1, std::nullopt},
      {{0, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0, 2}, std::nullopt, 2},
  };
  for (const auto& c : cases) {
    auto info = UPNetworkConnectionInfoFromBytes(c.bytes);
    EXPECT_EQ(info.networkType, c.type);
    EXPECT_EQ(info.mobileSubtype, c.subtype);
  }
  UPNetworkConnectionInfo info{.networkType = -1, .mobileSubtype = 20};
  auto round = UPNetworkConnectionInfoFromBytes(UPNetworkConnectionInfoBytes(info));
  EXPECT_EQ(round.networkType, -1);
  EXPECT_EQ(round.mobileSubtype, 20u);
}

TEST(CompressionTest, GzipAndItsMagic) {
  struct Case {
    std::vector<uint8_t> data;
    bool gzipped;
  };
  const Case cases[] = {{{}, false}, {{0x1F}, false}, {{0x1F, 0x8B}, true}, {{0x1F, 0x8C, 0}, false}, {{0x8B, 0x1F}, false}};
  for (const auto& c : cases) EXPECT_EQ(UPCompressionHelper::isGzipped(c.data), c.gzipped);

  EXPECT_FALSE(UPCompressionHelper::gzippedData({}));
  std::vector<uint8_t> text(5000, 'q');
  auto packed = UPCompressionHelper::gzippedData(text);
  ASSERT_TRUE(packed);
  EXPECT_TRUE(UPCompressionHelper::isGzipped(*packed));
  EXPECT_EQ(UTLGzip::utl_dataByInflatingGzippedData(*packed), text);
}

TEST(LogResponseTest, DecodesTheWaitOrReportsTheCodecError) {
  auto withWait = LoopbackLogCollector::logResponse(200, 1234).body;
  platform::Error error;
  auto decoded = UPDecodeLogReply(std::vector<uint8_t>(withWait.begin(), withWait.end()), &error);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->nextRequestWaitMillis, 1234);

  auto without = LoopbackLogCollector::logResponse(200).body;
  decoded = UPDecodeLogReply(std::vector<uint8_t>(without.begin(), without.end()), &error);
  ASSERT_TRUE(decoded);
  EXPECT_FALSE(decoded->nextRequestWaitMillis);

  auto garbage = LoopbackLogCollector::garbage(200).body;
  EXPECT_FALSE(UPDecodeLogReply(std::vector<uint8_t>(garbage.begin(), garbage.end()), &error));
  EXPECT_EQ(error.domain, platform::kURLErrorDomain);
  EXPECT_EQ(error.code, -1);
  EXPECT_TRUE(error.userInfo.count("nanopb error:"));
}

}  // namespace

namespace {

TEST(MessagesSplitTest, MoreEventsOfOneSourceThanARequestHoldsGoInSeveralRequests) {
  ETEventSet events;
  for (size_t i = 0; i < 65536; ++i) {
    auto event = ETEvent::initWithMappingID("1974", 1001);
    event->setDataObject(std::make_shared<BytesPayload>(std::vector<uint8_t>{'x'}));
    events.insert(event);
  }
  auto decoded = LoopbackLogCollector::decodeBatch(UPConstructRequestProtoWithEvents(events));
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->size(), 2u);
  EXPECT_EQ(decoded->at(0).events.size() + decoded->at(1).events.size(), 65536u);
  EXPECT_EQ(decoded->at(1).logSource, 1974);
}

}  // namespace
