#include <gtest/gtest.h>

#include <regex>

#include "platform/dispatch/clock.h"
#include "platform/foundation/notifications.h"
#include "transport/sessions/session_generator.h"
#include "transport/sessions/tests/sessions_test_support.h"

namespace {

using Mode = FakeInstallations::Mode;

class SessionGenerationTest : public SdkCoreTest {
 protected:
  platform::VirtualClock clock_;
};

TEST_F(SessionGenerationTest, SessionsCountFromZeroAndKeepTheFirstID) {
  SessionGenerator generator(false);
  EXPECT_FALSE(generator.thisSession());
  const SessionInfo first = generator.nextSession();
  const SessionInfo second = generator.nextSession();
  EXPECT_EQ(first.sessionIndex, 0);
  EXPECT_EQ(first.firstSessionId, first.sessionId);
  EXPECT_EQ(second.sessionIndex, 1);
  EXPECT_EQ(second.firstSessionId, first.sessionId);
  EXPECT_NE(second.sessionId, first.sessionId);
  EXPECT_FALSE(second.shouldDispatchEvents);
  EXPECT_EQ(generator.thisSession()->sessionId, second.sessionId);
  for (const auto& id : {first.sessionId, second.sessionId}) {
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{32}"))) << id;
  }
  EXPECT_FALSE(TELSessionDetails(std::nullopt).sessionId());
}

TEST_F(SessionGenerationTest, ANewSessionStartsOnlyAfterMoreThanTheTimeOutInTheBackground) {
  auto settings = std::make_shared<FakeSettings>();
  auto now = platform::Date::fromTimeIntervalSince1970(1700000000);
  auto initiator = std::make_shared<SessionInitiator>([&now] { return now; }, settings);
  int started = 0;
  initiator->startListening([&started] { ++started; });
  EXPECT_EQ(started, 1) << "the process's first session starts at once";

  auto& center = platform::NotificationCenter::defaultCenter();
  center.post(kSessionsDidBecomeActiveNotification);
  EXPECT_EQ(started, 1) << "the first activation after launch starts nothing";

  const auto background = now;
  center.post(kSessionsDidEnterBackgroundNotification);
  now = background.addingTimeInterval(1800);
  center.post(kSessionsDidBecomeActiveNotification);
  EXPECT_EQ(started, 1) << "exactly the time-out is not more than it";
  now = background.addingTimeInterval(1800.5);
  center.post(kSessionsDidBecomeActiveNotification);
  EXPECT_EQ(started, 2);
  // The background time stays, so a second activation without a background starts another.
  now = background.addingTimeInterval(2100);
  center.post(kSessionsDidBecomeActiveNotification);
  EXPECT_EQ(started, 3);

  settings->timeout = 0;
  center.post(kSessionsDidEnterBackgroundNotification);
  now = now.addingTimeInterval(0.001);
  center.post(kSessionsDidBecomeActiveNotification);
  EXPECT_EQ(started, 4) << "with a time-out of 0 any time in the background is enough";

  initiator.reset();
  center.post(kSessionsDidBecomeActiveNotification);  // a gone initiator hears nothing
  EXPECT_EQ(started, 4);
}

class SessionCoordinatorTest : public SessionGenerationTest {
 protected:
  std::shared_ptr<SessionStartEvent> newEvent() {
    ApplicationInfo appInfo("1:1:ios:1", std::make_shared<FakeNetwork>(), {}, std::nullopt);
    return std::make_shared<SessionStartEvent>(SessionInfo{"s", "s", true, 0}, appInfo, Time());
  }
  SessionStartResult run(Mode mode, std::optional<platform::Error> transportFailure,
                         std::shared_ptr<SessionStartEvent> event) {
    auto logger = std::make_shared<RecordingLogger>();
    logger->failure = transportFailure;
    SessionCoordinator coordinator(std::make_shared<FakeInstallations>(mode), logger);
    ResultLog results;
    coordinator.logSessionStart(event, [&results](SessionStartResult result) { results.add(result); });
    platform::MainLoop::drain();
    if (mode == Mode::TokenAfter11Seconds) clock_.advance(std::chrono::seconds(10));
    EXPECT_TRUE(pumpUntil([&] { return results.size() == 1; }));
    EXPECT_EQ(logger->events().size(), 1u) << "the event goes to the transport in every case";
    return results.all().at(0);
  }
};

TEST_F(SessionCoordinatorTest, TheEventAlwaysGoesOutAndTheTransportsFailureWins) {
  auto event = newEvent();
  EXPECT_EQ(run(Mode::AtOnce, std::nullopt, event), std::nullopt);
  auto copy = event->decodedWireCopy();
  EXPECT_EQ(SESStringFromBytes(copy->proto.session_data.telemetry_installation_id), "fid-123");
  EXPECT_EQ(SESStringFromBytes(copy->proto.session_data.telemetry_authentication_token), "token-abc");
  EXPECT_EQ(linesWith("I-SES000000").size(), 1u);  // "Successfully logged Session Start event to …"

  auto timedOut = newEvent();
  auto result = run(Mode::TokenAfter11Seconds, std::nullopt, timedOut);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->kind, ZadurodaVodovureError::Case::SessionInstallationsTimeOutError);
  auto timedOutCopy = timedOut->decodedWireCopy();
  ASSERT_NE(timedOutCopy->proto.session_data.telemetry_installation_id, nullptr);
  EXPECT_EQ(timedOutCopy->proto.session_data.telemetry_installation_id->size, 0) << "empty, not absent";
  const auto lines = linesWith("I-SES000000");
  EXPECT_NE(lines.back().find("Successfully logged Session Start event to DiroriVazuZodurozir"), std::string::npos);

  const auto failure = platform::Error::described("disk", 28, "full");
  auto lost = run(Mode::TokenAfter11Seconds, failure, newEvent());
  ASSERT_TRUE(lost);
  EXPECT_EQ(lost->kind, ZadurodaVodovureError::Case::DataTransportError);
  EXPECT_EQ(lost->underlying, failure);

  auto refused = run(Mode::Error, std::nullopt, newEvent());
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->kind, ZadurodaVodovureError::Case::SessionInstallationsError);
}

}  // namespace
