#include "platform/reachability/reachability.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/semaphore.h"

namespace {

using platform::DispatchQueue;

TEST(PollingReachabilityTest, CallsBackOnlyWhenTheReadFlagsChange) {
  platform::VirtualClock clock;
  std::atomic<uint32_t> current{2};
  std::atomic<bool> readable{true};
  auto reachability = platform::PollingReachability::make(
      [&]() -> std::optional<uint32_t> {
        if (!readable) return std::nullopt;
        return current.load();
      },
      std::chrono::seconds(1));
  auto queue = DispatchQueue::makeSerial("test.reachability");
  std::mutex mutex;
  std::vector<uint32_t> seen;
  platform::DispatchSemaphore semaphore(0);
  ASSERT_TRUE(reachability->setCallback(
      [&](uint32_t flags) {
        {
          std::lock_guard lock(mutex);
          seen.push_back(flags);
        }
        semaphore.signal();
      },
      queue));
  EXPECT_EQ(reachability->getFlags(), 2u);

  auto tick = [&] {
    clock.advance(std::chrono::seconds(1));
    queue->sync([] {});
  };
  tick();  // unchanged: no call
  current = 6;
  tick();
  ASSERT_TRUE(semaphore.wait(std::chrono::seconds(5)));
  readable = false;
  tick();  // unreadable: no call, and no change recorded
  readable = true;
  tick();  // still 6
  current = 2;
  tick();
  ASSERT_TRUE(semaphore.wait(std::chrono::seconds(5)));
  std::lock_guard lock(mutex);
  EXPECT_EQ(seen, (std::vector<uint32_t>{6, 2}));
}

TEST(FakeReachabilityTest, AnswersSetFlagsAndDeliversOnTheQueue) {
  platform::FakeReachability reachability(std::nullopt);
  EXPECT_EQ(reachability.getFlags(), std::nullopt);
  reachability.setFlags(0x40002);
  EXPECT_EQ(reachability.getFlags(), 0x40002u);

  auto queue = DispatchQueue::makeSerial("test.fake");
  platform::DispatchSemaphore semaphore(0);
  std::atomic<bool> onQueue{false};
  std::atomic<uint32_t> delivered{0};
  ASSERT_TRUE(reachability.setCallback(
      [&](uint32_t flags) {
        onQueue = queue->isCurrent();
        delivered = flags;
        semaphore.signal();
      },
      queue));
  reachability.deliver(4);
  ASSERT_TRUE(semaphore.wait(std::chrono::seconds(5)));
  EXPECT_TRUE(onQueue);
  EXPECT_EQ(delivered, 4u);

  reachability.setRefusesCallback(true);
  EXPECT_FALSE(reachability.setCallback([](uint32_t) {}, queue));
}

}  // namespace
