#include <gtest/gtest.h>

#include "platform/dispatch/clock.h"
#include "transport/events/registrar.h"
#include "transport/sessions/adapters.h"
#include "transport/sessions/tests/sessions_test_support.h"

namespace {

using Mode = FakeInstallations::Mode;

class SessionAdaptersTest : public SdkCoreTest {
 protected:
  struct Outcome {
    std::mutex mutex;
    int calls = 0;
    std::optional<InstallationIdentity> identity;
    std::optional<ZadurodaVodovureError> error;
  };

  std::shared_ptr<Outcome> ask(InstallationsProtocol& installations) {
    auto outcome = std::make_shared<Outcome>();
    installations.installationIdentity([outcome](auto identity, auto error) {
      std::lock_guard lock(outcome->mutex);
      ++outcome->calls;
      outcome->identity = identity;
      outcome->error = error;
    });
    return outcome;
  }
  static bool answered(const std::shared_ptr<Outcome>& outcome) {
    return pumpUntil([&] {
      std::lock_guard lock(outcome->mutex);
      return outcome->calls > 0;
    });
  }

  platform::VirtualClock clock_;
};

TEST_F(SessionAdaptersTest, TheIdentityComesOnceWithBothAnswersOrAsTheFailureThatStoppedIt) {
  {
    FakeInstallations installations(Mode::AtOnce);
    auto outcome = ask(installations);
    ASSERT_TRUE(answered(outcome));
    ASSERT_TRUE(outcome->identity);
    EXPECT_EQ(outcome->identity->installationID, "fid-123");
    EXPECT_EQ(outcome->identity->authToken, "token-abc");
  }
  {
    FakeInstallations installations(Mode::TokenError);  // the ID alone is enough
    auto outcome = ask(installations);
    ASSERT_TRUE(answered(outcome));
    ASSERT_TRUE(outcome->identity);
    EXPECT_EQ(outcome->identity->authToken, "");
  }
  {
    FakeInstallations installations(Mode::Error);
    auto outcome = ask(installations);
    ASSERT_TRUE(answered(outcome));
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->kind, ZadurodaVodovureError::Case::SessionInstallationsError);
    EXPECT_EQ(outcome->error->underlying->localizedDescription(), "server said no");
  }
  {
    // Neither an ID nor an error: our own error, so the session is still sent and reported.
    FakeInstallations installations(Mode::Nothing);
    auto outcome = ask(installations);
    ASSERT_TRUE(answered(outcome));
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->kind, ZadurodaVodovureError::Case::SessionInstallationsError);
    EXPECT_EQ(*outcome->error->underlying, SESInstallationsAnsweredNothingError());
  }
}

TEST_F(SessionAdaptersTest, BothAnswersMustComeWithinTenSecondsAndTheWaitBlocksNoQueue) {
  for (Mode mode : {Mode::TokenAfter11Seconds, Mode::Never}) {
    FakeInstallations installations(mode);
    auto outcome = ask(installations);
    platform::MainLoop::drain();  // the main queue is free: the ID arrives at once
    clock_.advance(std::chrono::milliseconds(9999));
    platform::MainLoop::drain();
    {
      std::lock_guard lock(outcome->mutex);
      EXPECT_EQ(outcome->calls, 0);
    }
    clock_.advance(std::chrono::milliseconds(1));
    ASSERT_TRUE(answered(outcome));
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->kind, ZadurodaVodovureError::Case::SessionInstallationsTimeOutError);
    // The late token finds its call over and reports nothing more.
    clock_.advance(std::chrono::seconds(2));
    platform::MainLoop::drain();
    std::lock_guard lock(outcome->mutex);
    EXPECT_EQ(outcome->calls, 1);
  }
}

class RecordingTransport final : public DiroriVazuZodurozirProtocol {
 public:
  void send(const std::shared_ptr<ETEvent>& event, SESSendCompletion completion) override {
    sent.push_back(event);
    completion(std::nullopt);
  }
  std::shared_ptr<ETEvent> eventForTransport() const override {
    return ETEvent::initWithMappingID(kSessionsMappingID, kSessionsTarget);
  }
  std::vector<std::shared_ptr<ETEvent>> sent;
};

TEST_F(SessionAdaptersTest, TheLoggerSendsATierThreeEventOfTheSessionTransportAndShowsItToTheConsole) {
  auto transport = std::make_shared<RecordingTransport>();
  auto console = std::make_shared<RecordingLogger>();
  EventETLogger logger(transport, console);
  auto appInfo = std::make_shared<ApplicationInfo>("1:1:ios:1", std::make_shared<FakeNetwork>(),
                                                   ApplicationInfo::Environment{}, std::nullopt);
  auto event = std::make_shared<SessionStartEvent>(SessionInfo{"a", "a", true, 0}, *appInfo, Time());
  bool completed = false;
  logger.logEvent(event, [&](std::optional<platform::Error> error) { completed = !error; });
  EXPECT_TRUE(completed);
  ASSERT_EQ(transport->sent.size(), 1u);
  const auto& sent = transport->sent[0];
  EXPECT_EQ(sent->qosTier(), 3);
  EXPECT_EQ(sent->mappingID(), "1974");
  EXPECT_EQ(sent->target(), 1001);
  EXPECT_EQ(sent->serializedDataObjectBytes(), event->transportBytes());
  EXPECT_EQ(console->events().size(), 1u);

  // Through the real transport, which copies the event on its way: one encoding all the same.
  auto fresh = std::make_shared<SessionStartEvent>(SessionInfo{"b", "a", true, 1}, *appInfo, Time());
  EventETLogger real(std::make_shared<ETTransportAdapter>(ETTransport::make("1974", {}, 1001)), nullptr);
  std::atomic<bool> answered{false};
  real.logEvent(fresh, [&](std::optional<platform::Error>) { answered = true; });
  ASSERT_TRUE(pumpUntil([&] { return answered.load(); }));
  EXPECT_EQ(fresh->encodeCount(), 1);
}

TEST_F(SessionAdaptersTest, TheTransportAdapterTurnsTheTransportsAnswerIntoAnError) {
  // No storage serves the target: the transport's own error comes through.
  auto transport = ETTransport::make("1974", {}, 1001);
  ASSERT_TRUE(transport);
  ETTransportAdapter adapter(transport);
  auto send = [&adapter] {
    std::mutex mutex;
    std::optional<std::optional<platform::Error>> result;
    adapter.send(adapter.eventForTransport(), [&](std::optional<platform::Error> error) {
      std::lock_guard lock(mutex);
      result = error;
    });
    EXPECT_TRUE(pumpUntil([&] {
      std::lock_guard lock(mutex);
      return result.has_value();
    }));
    std::lock_guard lock(mutex);
    return result.value_or(std::nullopt);
  };
  auto refused = send();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->domain, "ETTransformer");

  // A transformer that drops the event: "not written" without an error is a write failure.
  class Dropper final : public ETEventTransformer {
   public:
    std::shared_ptr<ETEvent> transformETEvent(const std::shared_ptr<ETEvent>&) override { return nullptr; }
  };
  transport->setTransformers({std::make_shared<Dropper>()});
  auto dropped = send();
  ASSERT_TRUE(dropped);
  EXPECT_EQ(SESErrorDescription(*dropped), "writeFailure");
}

}  // namespace
