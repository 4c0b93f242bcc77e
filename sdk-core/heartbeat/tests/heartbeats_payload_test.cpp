#include "sdk-core/heartbeat/heartbeats_payload.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "sdk-core/heartbeat/heartbeat_controller.h"
#include "sdk-core/heartbeat/heartbeats_bundle.h"
#include "sdk-core/utilities/gzip.h"

namespace {

using platform::Date;

// 2024-10-09 and the days after it, at 00:00 UTC.
Date day(int offset) { return Date::fromTimeIntervalSince1970((20005 + offset) * 86400.0); }

// The header value taken apart again: URL-safe Base64, then gzip, then JSON.
std::string decodeHeader(const std::string& value) {
  auto packed = dataFromBase64URL(value);
  EXPECT_TRUE(packed);
  if (!packed) return {};
  auto json = UTLGzip::utl_dataByInflatingGzippedData(*packed);
  EXPECT_TRUE(json);
  return json ? std::string(json->begin(), json->end()) : std::string();
}

TEST(HeartbeatsPayloadTest, BundleGroupsByAgentSortedAndKeepsSlotOrderOfDates) {
  HeartbeatsBundle bundle(5);
  bundle.append(Heartbeat("tel-ios/B", day(0), {TimePeriod::daily}));
  bundle.append(Heartbeat("A", day(1), {TimePeriod::daily}));
  bundle.append(Heartbeat("tel-ios/B", day(2), {TimePeriod::daily}));

  const HeartbeatsPayload payload = bundle.toHeartbeatsPayload();
  EXPECT_EQ(payload, HeartbeatsPayload({{"A", {day(1)}}, {"tel-ios/B", {day(0), day(2)}}}, 2));
  EXPECT_EQ(payload.jsonString(),
            R"({"heartbeats":[{"agent":"A","dates":["2024-10-10"]},)"
            R"({"agent":"tel-ios\/B","dates":["2024-10-09","2024-10-11"]}],"version":2})");

  EXPECT_TRUE(HeartbeatsBundle(30).toHeartbeatsPayload().isEmpty());
  EXPECT_EQ(Heartbeat("x", day(3), {}).toHeartbeatsPayload(), HeartbeatsPayload({{"x", {day(3)}}}, 2));
}

TEST(HeartbeatsPayloadTest, HeaderValueDecodesBackToTheJSON) {
  const HeartbeatsPayload payload({{"tel-ios/10.27.0 os-version/12.1", {day(0), day(1)}}, {"ä/ö", {day(2)}}});
  const std::string header = payload.headerValue();
  EXPECT_EQ(header.find_first_of("+/="), std::string::npos);
  const std::string json = decodeHeader(header);
  EXPECT_EQ(json, payload.jsonString());
  auto parsed = nlohmann::json::parse(json);
  EXPECT_EQ(parsed["heartbeats"][1]["agent"], "ä/ö");
  EXPECT_EQ(parsed["version"], 2);

  // The empty payload still has a header value; the logger's function sends none for it.
  const std::string empty = HeartbeatsPayload::emptyPayload().headerValue();
  EXPECT_FALSE(empty.empty());
  EXPECT_EQ(decodeHeader(empty), R"({"heartbeats":[],"version":2})");
  EXPECT_EQ(TELHeaderValueOfHeartbeatsPayload(std::make_shared<TELHeartbeatsPayload>(HeartbeatsPayload())),
            std::nullopt);
  EXPECT_EQ(TELHeaderValueOfHeartbeatsPayload(nullptr), std::nullopt);
  EXPECT_EQ(TELHeaderValueOfHeartbeatsPayload(std::make_shared<TELHeartbeatsPayload>(payload)), header);
}

TEST(HeartbeatsPayloadTest, Base64URLDropsPaddingAndRestoresIt) {
  struct Case {
    std::vector<uint8_t> bytes;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{}, ""},
      {{0xfb}, "-w"},                    // remainder 1: "==" dropped, length 4k+2
      {{0xfb, 0xff}, "-_8"},             // remainder 2: "=" dropped, length 4k+3
      {{0xfb, 0xff, 0xbf}, "-_-_"},      // no padding
      {{'a', 'b', 'c', 'd'}, "YWJjZA"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(base64URLString(c.bytes), c.text);
    EXPECT_EQ(dataFromBase64URL(c.text), c.bytes) << c.text;
  }
  for (const char* invalid : {"a", "ab$c", "YW=J", "YWJjZ==="}) {
    EXPECT_EQ(dataFromBase64URL(invalid), std::nullopt) << invalid;
  }
}

TEST(HeartbeatsPayloadTest, DayStringsAreUTCCalendarDays) {
  EXPECT_EQ(heartbeatDayString(Date::fromTimeIntervalSinceReferenceDate(0)), "2001-01-01");
  EXPECT_EQ(heartbeatDayString(Date::fromTimeIntervalSince1970(86399.9)), "1970-01-01");
  EXPECT_EQ(heartbeatDayString(Date::fromTimeIntervalSince1970(-1)), "1969-12-31");
  EXPECT_EQ(heartbeatDayString(day(0)), "2024-10-09");
}

}  // namespace
