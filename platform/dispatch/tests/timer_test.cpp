#include "platform/dispatch/timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/queue.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

class TimerTest : public ::testing::Test {
 protected:
  void SetUp() override { MainLoop::drain(); }
  void TearDown() override { MainLoop::drain(); }

  // Advances the clock and runs what the timers posted to the main queue.
  void advance(Duration by) {
    clock_.advance(by);
    MainLoop::drain();
  }

  VirtualClock clock_;
  std::shared_ptr<DispatchTimer> timer_ = DispatchTimer::make(DispatchQueue::main());
  std::vector<std::chrono::steady_clock::time_point> fires_;
  void recordFires() {
    timer_->setEventHandler([this] { fires_.push_back(Clock::monotonicNow()); });
  }
};

TEST_F(TimerTest, OneShotFiresOnceAtItsDeadlineOnlyAfterResume) {
  recordFires();
  const auto start = Clock::monotonicNow();
  timer_->schedule(500ms);
  advance(1s);
  EXPECT_TRUE(fires_.empty()) << "a timer is made suspended";
  timer_->schedule(500ms);
  timer_->resume();
  advance(499ms);
  EXPECT_TRUE(fires_.empty());
  advance(1ms);
  ASSERT_EQ(fires_.size(), 1u);
  EXPECT_EQ(fires_[0] - start, 1500ms);
  advance(10s);
  EXPECT_EQ(fires_.size(), 1u);
  // Scheduling again re-arms a one-shot timer.
  timer_->schedule(1s);
  advance(1s);
  EXPECT_EQ(fires_.size(), 2u);
}

TEST_F(TimerTest, RepeatingTimerFiresEveryIntervalWithinOneAdvance) {
  int fired = 0;
  timer_->setEventHandler([&] { ++fired; });
  timer_->schedule(500ms, 30s, 5s);
  timer_->resume();
  advance(499ms);
  EXPECT_EQ(fired, 0);
  advance(1ms);
  EXPECT_EQ(fired, 1);
  advance(30s);
  EXPECT_EQ(fired, 2);
  advance(61s);   // two more deadlines pass inside one advance
  EXPECT_EQ(fired, 4);
  EXPECT_EQ(timer_->fireCount(), 4u);
}

TEST_F(TimerTest, SuspendAndCancelStopFiresAndDropUnrunHandlers) {
  recordFires();
  int cancelled = 0;
  timer_->setCancelHandler([&] { ++cancelled; });
  timer_->schedule(1s, 1s);
  timer_->resume();
  clock_.advance(1s);        // the handler is posted but not yet run...
  timer_->suspend();         // ...and suspending first drops it
  MainLoop::drain();
  EXPECT_TRUE(fires_.empty());
  advance(5s);
  EXPECT_TRUE(fires_.empty());
  // The fires missed while suspended come as one, at once.
  timer_->resume();
  advance(0ms);
  EXPECT_EQ(fires_.size(), 1u);
  advance(999ms);
  EXPECT_EQ(fires_.size(), 1u);
  advance(1ms);
  EXPECT_EQ(fires_.size(), 2u);
  timer_->cancel();
  timer_->cancel();
  timer_->resume();
  advance(10s);
  EXPECT_EQ(fires_.size(), 2u);
  EXPECT_EQ(cancelled, 1);
  EXPECT_TRUE(timer_->isCancelled());
}

TEST_F(TimerTest, DestroyingTheTimerStopsIt) {
  int fired = 0;
  timer_->setEventHandler([&] { ++fired; });
  timer_->schedule(1s, 1s);
  timer_->resume();
  timer_.reset();
  advance(5s);
  EXPECT_EQ(fired, 0);
}

TEST(RealTimerTest, FiresOnRealTimeNotBeforeItsDeadline) {
  auto timer = DispatchTimer::make(DispatchQueue::main());
  std::atomic<int> fired{0};
  timer->setEventHandler([&] { ++fired; });
  const auto start = std::chrono::steady_clock::now();
  timer->schedule(20ms, Duration::zero(), 10ms);
  timer->resume();
  ASSERT_TRUE(MainLoop::runUntil([&] { return fired.load() == 1; }, 10s));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);
  timer->cancel();
}

}  // namespace
}  // namespace platform
