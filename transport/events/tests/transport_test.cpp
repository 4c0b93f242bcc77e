#include "transport/events/transport.h"

#include "platform/dispatch/clock.h"
#include "transport/events/registrar.h"
#include "transport_test_support.h"

namespace et_testing {
namespace {

using namespace std::chrono_literals;

// Appends a mark to the event's custom bytes, or drops the event.
struct Marking : ETEventTransformer {
  Marking(uint8_t mark, bool drops) : mark(mark), drops(drops) {}
  std::shared_ptr<ETEvent> transformETEvent(const std::shared_ptr<ETEvent>& event) override {
    ++calls;
    seen = event->customBytes().value_or(std::vector<uint8_t>{});
    if (drops) return nullptr;
    auto bytes = seen;
    bytes.push_back(mark);
    event->setCustomBytes(bytes);
    return event;
  }
  uint8_t mark;
  bool drops;
  int calls = 0;
  std::vector<uint8_t> seen;
};

class TransportSendTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    registrar_ = std::make_shared<ETRegistrar>();
    for (long target : {1001L, 1002L}) registrar_->registerStorage(storage_, target);
    transformer_ = std::make_shared<ETTransformer>(application_, registrar_);
  }

  struct Outcome {
    int calls = 0;
    bool written = false;
    std::optional<platform::Error> error;
    bool onStorageQueue = false;
  };
  // Sends and waits for the completion, then for anything it might still do.
  Outcome send(const std::shared_ptr<ETTransport>& transport, const std::shared_ptr<ETEvent>& event,
               const std::function<void()>& afterSend = nullptr) {
    auto outcome = std::make_shared<Outcome>();
    platform::DispatchSemaphore done;
    transport->sendDataEvent(event, [this, outcome, &done](bool written, const std::optional<platform::Error>& error) {
      ++outcome->calls;
      outcome->written = written;
      outcome->error = error;
      outcome->onStorageQueue = storage_->storageQueue()->isCurrent();
      done.signal();
    });
    if (afterSend) afterSend();
    EXPECT_TRUE(done.wait(std::chrono::seconds(30)));
    transformer_->eventWritingQueue()->sync([] {});
    drain();
    return *outcome;
  }
  std::shared_ptr<ETEvent> storedEvent(long target) {
    auto names = namesIn(eventDirectory(target));
    EXPECT_EQ(names.size(), 1u);
    return names.empty() ? nullptr : ETUnarchiveFile<ETEvent>(eventDirectory(target) / names[0], nullptr);
  }

  std::shared_ptr<ETRegistrar> registrar_;
  std::shared_ptr<ETTransformer> transformer_;
};

TEST_F(TransportSendTest, TheStoredEventIsTheOneAtSendTimeWithTheClockOfSendTime) {
  auto transport = ETTransport::make("1206", {}, 1002, transformer_);
  std::optional<platform::VirtualClock> clock(std::in_place);
  auto object = std::make_shared<BytesObject>(payload(5, 'a'));
  auto event = transport->eventForTransport();
  event->setDataObject(object);
  event->setQosTier(4);
  clock->advance(90s);
  const int64_t sendMillis = static_cast<int64_t>(platform::Date::now().timeIntervalSince1970() * 1000);

  Outcome outcome = send(transport, event, [&] {
    object->bytes = payload(5, 'z');
    event->setDataObject(object);
    event->setQosTier(3);
  });
  clock.reset();
  EXPECT_EQ(outcome.calls, 1);
  EXPECT_TRUE(outcome.written);
  EXPECT_FALSE(outcome.error);
  EXPECT_TRUE(outcome.onStorageQueue);
  auto stored = storedEvent(1002);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->serializedDataObjectBytes(), payload(5, 'a'));
  EXPECT_EQ(stored->qosTier(), 4);
  ASSERT_TRUE(stored->clockSnapshot());
  EXPECT_NEAR(static_cast<double>(stored->clockSnapshot()->timeMillis), static_cast<double>(sendMillis), 1000);
  EXPECT_EQ(coordinator_->forced, std::vector<long>{1002});
}

TEST_F(TransportSendTest, TransformersRunInOrderAndADroppedEventCompletesWithoutError) {
  auto a = std::make_shared<Marking>('A', false);
  auto b = std::make_shared<Marking>('B', false);
  Outcome kept = send(ETTransport::make("1974", {a, b}, 1001, transformer_), makeEvent());
  EXPECT_TRUE(kept.written);
  EXPECT_EQ(b->seen, std::vector<uint8_t>{'A'});
  EXPECT_EQ(storedEvent(1001)->customBytes(), (std::vector<uint8_t>{'A', 'B'}));

  auto dropper = std::make_shared<Marking>('D', true);
  auto after = std::make_shared<Marking>('E', false);
  Outcome dropped = send(ETTransport::make("1974", {dropper, after}, 1001, transformer_), makeEvent());
  EXPECT_EQ(dropped.calls, 1);
  EXPECT_FALSE(dropped.written);
  EXPECT_FALSE(dropped.error);
  EXPECT_EQ(after->calls, 0);

  std::vector<std::string> lines;
  ETConsoleSetSink([&lines](const std::string& line) { lines.push_back(line); });
  Outcome refused = send(ETTransport::make("1974", {nullptr}, 1001, transformer_), makeEvent());
  ETConsoleSetSink(nullptr);
  EXPECT_FALSE(refused.written);
  EXPECT_FALSE(refused.error);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with("[DiroriVazuZodurozir][I-ET001000] Transformer doesn't implement transformETEvent:"));
  EXPECT_EQ(namesIn(eventDirectory(1001)).size(), 1u);
}

TEST_F(TransportSendTest, AnUnregisteredTargetOrNoEventCompletesWithAnError) {
  Outcome unregistered = send(ETTransport::make("1974", {}, 1003, transformer_), makeEvent(1003));
  EXPECT_EQ(unregistered.calls, 1);
  EXPECT_FALSE(unregistered.written);
  ASSERT_TRUE(unregistered.error);
  EXPECT_EQ(unregistered.error->domain, "ETTransformer");
  EXPECT_EQ(unregistered.error->code, -1);
  EXPECT_EQ(*unregistered.error->userInfo.at(platform::kErrorLocalizedFailureReasonKey).asString(),
            "No storage registered for target 1003");

  Outcome absent = send(ETTransport::make("1974", {}, 1001, transformer_), nullptr);
  EXPECT_EQ(absent.calls, 1);
  EXPECT_FALSE(absent.written);
  EXPECT_TRUE(absent.error);
  EXPECT_EQ(assertions(), (std::vector<std::string>{"You can't send a nil event", "You can't write a nil event"}));
}

TEST_F(TransportSendTest, EveryBackgroundTaskBegunIsEndedAndTelemetryTierIsStoredAfterAnAssertion) {
  auto transport = ETTransport::make("1974", {}, 1001, transformer_);
  auto telemetry = makeEvent();
  telemetry->setQosTier(1);
  EXPECT_TRUE(send(transport, telemetry).written);
  EXPECT_EQ(assertions(), std::vector<std::string>{"Use -sendTelemetryEvent, please."});
  EXPECT_EQ(storedEvent(1001)->qosTier(), 1);

  transport->sendDataEvent(makeEvent());  // no completion: stored all the same
  send(transport, makeEvent(1003));        // to no storage
  send(transport, makeEvent(), [] {});
  transformer_->eventWritingQueue()->sync([] {});
  drain();
  EXPECT_EQ(namesIn(eventDirectory(1001)).size(), 3u);
  const auto counts = tasks_->counts();
  EXPECT_EQ(tasks_->counts("ETTransformer").begun, 4u);
  EXPECT_EQ(tasks_->counts("ETStorage").begun, 3u);
  EXPECT_EQ(counts.ended, counts.begun);
  EXPECT_TRUE(tasks_->activeTaskNames().empty());
}

TEST_F(TransportSendTest, AnExpiredTransformerTaskIsEndedOnceAndTheSendStillCompletes) {
  // Holding the writing queue keeps the send's task active while it expires.
  platform::DispatchSemaphore release;
  transformer_->eventWritingQueue()->async([&release] { release.wait(); });
  platform::DispatchSemaphore done;
  ETTransport::make("1974", {}, 1001, transformer_)->sendDataEvent(makeEvent(), [&done](bool, const auto&) { done.signal(); });
  tasks_->expireAll();
  EXPECT_TRUE(tasks_->activeTaskNames().empty());
  release.signal();
  EXPECT_TRUE(done.wait(std::chrono::seconds(30)));
  drain();
  EXPECT_EQ(tasks_->counts("ETTransformer").ended, 1u);
  EXPECT_EQ(namesIn(eventDirectory(1001)).size(), 1u);
}

}  // namespace
}  // namespace et_testing
