#include "sdk-core/heartbeat/heartbeat_controller.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "platform/dispatch/clock.h"
#include "sdk-core/heartbeat/tests/heartbeat_test_support.h"

namespace {

using platform::Date;
using namespace std::chrono_literals;

// 2024-10-09 00:00:00 UTC.
const auto kMidnight = std::chrono::system_clock::time_point(std::chrono::seconds(20005LL * 86400));
Date day(int offset) { return Date::fromTimeIntervalSince1970((20005 + offset) * 86400.0); }

class HeartbeatControllerTest : public HeartbeatDataDirectoryTest {
 protected:
  std::optional<HeartbeatsBundle> storedBundle(const std::string& id) {
    auto bytes = platform::readFileContents(heartbeatFile("heartbeats-" + id));
    if (!bytes || bytes->empty()) return std::nullopt;
    return decodeHeartbeatsBundle(*bytes);
  }
};

TEST_F(HeartbeatControllerTest, LogsAtMostOneHeartbeatPerUTCDay) {
  platform::VirtualClock clock(kMidnight + 10h);
  HeartbeatController controller("1:1:ios:1");

  controller.log("agent");  // first ever: the cache holds the distant past
  controller.log("agent");
  clock.advance(13h);  // 23:00, same day
  controller.log("agent");
  EXPECT_EQ(controller.flush(), HeartbeatsPayload({{"agent", {day(0)}}}));
  EXPECT_EQ(controller.flush(), HeartbeatsPayload::emptyPayload());

  // After a flush the cache survives: still nothing new today.
  controller.log("agent");
  EXPECT_TRUE(controller.flush().isEmpty());

  clock.advance(1h);  // 00:00 of the next day: exactly one period later counts
  controller.log("agent");
  clock.advance(24h);
  controller.log("other");
  EXPECT_EQ(controller.flush(), HeartbeatsPayload({{"agent", {day(1)}}, {"other", {day(2)}}}));

  auto bundle = storedBundle("1_1_ios_1");
  ASSERT_TRUE(bundle);
  EXPECT_TRUE(bundle->heartbeats().empty());
  EXPECT_EQ(bundle->lastAddedHeartbeatDates.at(TimePeriod::daily), day(2));
}

TEST_F(HeartbeatControllerTest, AClockSetBackAddsNothingUntilAFullDayPastTheLastHeartbeat) {
  Date now = day(5);
  HeartbeatController controller(HeartbeatStorage::sharedInstance("app"), [&] { return now; });
  controller.log("a");
  for (int offset : {-3, 0, 5}) {
    now = day(offset);
    controller.log("a");
  }
  now = day(6);
  controller.log("a");
  EXPECT_EQ(controller.flush(), HeartbeatsPayload({{"a", {day(5), day(6)}}}));
}

TEST_F(HeartbeatControllerTest, FlushOfAMissingEmptyOrDamagedStoreIsEmpty) {
  const std::string id = "app";
  EXPECT_TRUE(HeartbeatController(id).flush().isEmpty());  // no file
  std::filesystem::create_directories(heartbeatFile("").parent_path());
  for (const char* contents : {"", "{\"capacity\":"}) {
    std::ofstream(heartbeatFile("heartbeats-app")) << contents;
    // A new storage reads the file afresh (a live one keeps what it read).
    EXPECT_TRUE(HeartbeatController(id).flush().isEmpty()) << contents;
  }
  // The damaged one was set aside; the empty one stays as it was.
  EXPECT_FALSE(std::filesystem::exists(heartbeatFile("heartbeats-app")));
  EXPECT_EQ(std::filesystem::file_size(heartbeatFile("heartbeats-app.unreadable")), 12u);
}

TEST_F(HeartbeatControllerTest, AFailedFlushKeepsTheHeartbeatsForTheNextOne) {
  platform::VirtualClock clock(kMidnight);
  HeartbeatController controller("app");
  controller.log("a");
  EXPECT_EQ(controller.flushHeartbeatFromToday(), HeartbeatsPayload({{"a", {day(0)}}}));
  controller.log("a");  // same day: the cache still holds today
  clock.advance(24h);
  controller.log("a");
  controller.storage()->updateSynchronously([](auto bundle) { return bundle; });  // the log is on disk

  platform::setFileWriteFault(platform::FileWriteFault::Rename);
  EXPECT_TRUE(controller.flush().isEmpty());
  platform::setFileWriteFault(platform::FileWriteFault::None);
  EXPECT_EQ(controller.flush(), HeartbeatsPayload({{"a", {day(1)}}}));
}

TEST_F(HeartbeatControllerTest, TodaysHeartbeatIsTakenOnceAndCodedForTheLogger) {
  platform::VirtualClock clock(kMidnight + 5h);
  int calls = 0;
  TELHeartbeatLogger logger("1:9:ios:f", [&] { return "agent/" + std::to_string(++calls); });

  EXPECT_EQ(logger.heartbeatCodeForToday(), 0);  // nothing stored yet
  logger.log();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(logger.heartbeatCodeForToday(), 2);
  EXPECT_EQ(logger.heartbeatCodeForToday(), 0);  // consumed
  logger.log();                                   // same day: nothing added
  EXPECT_EQ(logger.heartbeatCodeForToday(), 0);

  clock.advance(24h);
  logger.log();
  clock.advance(24h);
  logger.log();
  // Only today's heartbeat is taken; yesterday's stays for the next flush.
  auto today = logger.heartbeatController()->flushHeartbeatFromToday();
  EXPECT_EQ(today->heartbeatsPayload(), HeartbeatsPayload({{"agent/4", {day(2)}}}));
  auto rest = logger.flushHeartbeatsIntoPayload();
  EXPECT_EQ(rest->heartbeatsPayload(), HeartbeatsPayload({{"agent/3", {day(1)}}}));
  EXPECT_EQ(TELHeaderValueOfHeartbeatsPayload(logger.flushHeartbeatsIntoPayload()), std::nullopt);
}

TEST_F(HeartbeatControllerTest, ControllersOfOneIdentifierShareTheStore) {
  platform::VirtualClock clock(kMidnight);
  HeartbeatController first("shared");
  HeartbeatController second("shared");
  EXPECT_EQ(first.storage(), second.storage());
  first.log("a");
  second.log("b");  // same day: the shared cache already holds today
  EXPECT_EQ(second.flush(), HeartbeatsPayload({{"a", {day(0)}}}));
}

TEST(HeartbeatDayTest, DayStartIsMidnightUTC) {
  EXPECT_EQ(HeartbeatController::dayStart(day(0).addingTimeInterval(86399.5)), day(0));
  EXPECT_EQ(HeartbeatController::dayStart(day(0)), day(0));
  EXPECT_EQ(HeartbeatController::dayStart(Date::fromTimeIntervalSince1970(-0.5)),
            Date::fromTimeIntervalSince1970(-86400));
}

}  // namespace
