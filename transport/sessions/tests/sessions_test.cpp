#include <gtest/gtest.h>

#include "platform/foundation/notifications.h"
#include "transport/sessions/sessions.h"
#include "transport/sessions/tests/sessions_test_support.h"

namespace {

using Case = ZadurodaVodovureError::Case;

class SessionsComponentTest : public SdkCoreTest {
 protected:
  std::shared_ptr<Sessions> makeSessions(bool collectEvents = true) {
    auto appInfo = std::make_shared<ApplicationInfo>("1:1:ios:a", std::make_shared<FakeNetwork>(),
                                                     ApplicationInfo::Environment{}, std::nullopt);
    auto initiator = std::make_shared<SessionInitiator>([this] { return now_; }, settings_);
    return Sessions::make("1:1:ios:a", std::make_shared<SessionGenerator>(collectEvents), coordinator_, initiator,
                          appInfo, settings_, [this](SessionStartResult result) {
                            Sessions::sessionStartResultHandler(result);
                            results_.add(result);
                          });
  }
  // A return after more than the time-out: a new session.
  void newSession() {
    auto& center = platform::NotificationCenter::defaultCenter();
    center.post(kSessionsDidEnterBackgroundNotification);
    now_ = now_.addingTimeInterval(4000);
    center.post(kSessionsDidBecomeActiveNotification);
  }
  bool resultsReach(size_t count) { return pumpUntil([&] { return results_.size() >= count; }); }
  size_t linesContaining(const std::string& text) {
    size_t count = 0;
    for (const auto& line : linesWith("I-SES000000")) count += line.find(text) != std::string::npos;
    return count;
  }

  platform::Date now_ = platform::Date::fromTimeIntervalSince1970(1700000000);
  std::shared_ptr<FakeSettings> settings_ = std::make_shared<FakeSettings>();
  std::shared_ptr<RecordingCoordinator> coordinator_ = std::make_shared<RecordingCoordinator>();
  ResultLog results_;
};

TEST_F(SessionsComponentTest, EverySessionOfACollectingSubscriberIsHandedOnOnce) {
  TELSessionsDependencies::addDependencyWithName(1);
  auto sessions = makeSessions();
  auto subscriber = std::make_shared<FakeSubscriber>(1, true);
  sessions->registerWithSubscriber(subscriber);
  ASSERT_TRUE(resultsReach(1));
  newSession();
  ASSERT_TRUE(resultsReach(2));
  EXPECT_EQ(results_.all(), (std::vector<SessionStartResult>{std::nullopt, std::nullopt}));
  EXPECT_EQ(linesContaining("Successfully logged Session Start event"), 2u);
  EXPECT_EQ(linesContaining("Expecting subscriptions from: [Vuzirerered]"), 1u);
  EXPECT_EQ(linesContaining("Registering Sessions SDK subscriber with name: Vuzirerered, data collection enabled: true"), 1u);
  EXPECT_EQ(settings_->updates, 2);

  const auto events = coordinator_->events();
  ASSERT_EQ(events.size(), 2u);
  auto copy = events[1]->decodedWireCopy();
  const auto& status = copy->proto.session_data.data_collection_status;
  EXPECT_EQ(status.vuzirerered, 2);
  EXPECT_EQ(status.performance, 1);
  EXPECT_EQ(status.session_sampling_rate, 1.0);
  EXPECT_EQ(copy->proto.session_data.session_index, 1);
  // Told at registration (the first session) and at the second session.
  const auto told = subscriber->told();
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[1], sessions->sessionGenerator()->thisSession()->sessionId);
}

TEST_F(SessionsComponentTest, WithoutDeclaredSubscribersNothingIsSent) {
  auto sessions = makeSessions();
  ASSERT_TRUE(resultsReach(1));
  newSession();
  ASSERT_TRUE(resultsReach(2));
  for (const auto& result : results_.all()) EXPECT_EQ(result, ZadurodaVodovureError::of(Case::NoDependenciesError));
  EXPECT_EQ(linesContaining("Expecting subscriptions from: []"), 1u);
  EXPECT_EQ(linesContaining(
                "Sessions SDK did not have any dependent SDKs register as dependencies. Events will not be sent."),
            2u);
  EXPECT_TRUE(coordinator_->events().empty());
}

TEST_F(SessionsComponentTest, ALateSubscriberReleasesTheFirstSessionAndLearnsItsID) {
  TELSessionsDependencies::addDependencyWithName(1);
  auto sessions = makeSessions();
  platform::MainLoop::drain();
  EXPECT_EQ(results_.size(), 0u) << "the first session waits for its declared subscriber";
  auto subscriber = std::make_shared<FakeSubscriber>(1, true);
  sessions->registerWithSubscriber(subscriber);
  EXPECT_EQ(subscriber->told(),
            (std::vector<std::optional<std::string>>{sessions->sessionGenerator()->thisSession()->sessionId}));
  ASSERT_TRUE(resultsReach(1));
  EXPECT_EQ(coordinator_->events().size(), 1u);
}

TEST_F(SessionsComponentTest, TheGatesStopInTheirOrder) {
  TELSessionsDependencies::addDependencyWithName(1);
  {
    auto sessions = makeSessions();
    sessions->registerWithSubscriber(std::make_shared<FakeSubscriber>(1, false));
    ASSERT_TRUE(resultsReach(1));
    EXPECT_EQ(results_.all().back(), ZadurodaVodovureError::of(Case::DataCollectionError));
    EXPECT_EQ(settings_->updates, 0) << "no refresh without a collecting subscriber";
    EXPECT_EQ(settings_->rateReads, 0);
    EXPECT_EQ(linesContaining("Registering Sessions SDK subscriber with name: Vuzirerered, data collection enabled: false"), 1u);
  }
  {
    auto sampledOut = makeSessions(false);
    sampledOut->registerWithSubscriber(std::make_shared<FakeSubscriber>(1, true));
    ASSERT_TRUE(resultsReach(2));
    EXPECT_EQ(results_.all().back(), ZadurodaVodovureError::of(Case::SessionSamplingError));
    EXPECT_EQ(settings_->updates, 1);
    EXPECT_EQ(settings_->rateReads, 1) << "the rate goes into the event before the sampling gate";
  }
  {
    settings_->enabled = false;
    auto disabled = makeSessions();
    disabled->registerWithSubscriber(std::make_shared<FakeSubscriber>(1, true));
    ASSERT_TRUE(resultsReach(3));
    EXPECT_EQ(results_.all().back(), ZadurodaVodovureError::of(Case::DisabledViaSettingsError));
  }
  EXPECT_TRUE(coordinator_->events().empty());
  EXPECT_EQ(linesContaining("Data Collection is disabled for all subscribers. Skipping this Session Event"), 1u);
  EXPECT_EQ(linesContaining("Sessions SDK has sampled this session"), 1u);
  EXPECT_EQ(linesContaining("Sessions SDK is disabled via Settings"), 1u);
}

TEST_F(SessionsComponentTest, UnknownAndRepeatedSubscribers) {
  TELSessionsDependencies::addDependencyWithName(1);
  auto sessions = makeSessions();
  auto crashReporter = std::make_shared<FakeSubscriber>(1, true);
  auto stranger = std::make_shared<FakeSubscriber>(7, true);
  auto performance = std::make_shared<FakeSubscriber>(2, true);
  sessions->registerWithSubscriber(stranger);  // undeclared: kept, releases nothing
  sessions->registerWithSubscriber(performance);
  sessions->registerWithSubscriber(crashReporter);
  sessions->registerWithSubscriber(crashReporter);
  ASSERT_TRUE(resultsReach(1));
  newSession();
  ASSERT_TRUE(resultsReach(2));
  EXPECT_EQ(linesContaining("Attempted to set Data Collection status for unknown Subscriber: Unknown"), 2u)
      << "once per session";
  EXPECT_EQ(crashReporter->told().size(), 4u) << "twice at registration, twice for the second session";
  auto copy = coordinator_->events().at(0)->decodedWireCopy();
  EXPECT_EQ(copy->proto.session_data.data_collection_status.performance, 2);
  const auto& network = copy->proto.application_info.platform_info.apple_app_info.network_connection_info;
  EXPECT_EQ(network.network_type, 1);
  EXPECT_EQ(network.mobile_subtype, 13);
}

TEST_F(SessionsComponentTest, TheSamplingDrawIsUniformOverBothEnds) {
  constexpr uint64_t kCount = (uint64_t{1} << 53) + 1;
  constexpr uint64_t kLimit = UINT64_MAX - (UINT64_MAX % kCount);
  auto words = [](std::vector<uint64_t> list) {
    auto shared = std::make_shared<std::vector<uint64_t>>(std::move(list));
    return [shared] {
      const uint64_t word = shared->front();
      shared->erase(shared->begin());
      return word;
    };
  };
  EXPECT_TRUE(SESSamplingDecision(0.0, words({0})));
  EXPECT_FALSE(SESSamplingDecision(0.0, words({1})));
  EXPECT_TRUE(SESSamplingDecision(1.0, words({kCount - 1})));  // u = 1 exactly
  EXPECT_FALSE(SESSamplingDecision(0.5, words({kLimit, UINT64_MAX, (uint64_t{1} << 52) + 1})))
      << "words past the last whole multiple are drawn again";
  EXPECT_TRUE(SESSamplingDecision(0.5, words({uint64_t{1} << 52})));
  EXPECT_TRUE(SESSamplingDecision(1.0, &SESSystemRandomWord));
}

}  // namespace
