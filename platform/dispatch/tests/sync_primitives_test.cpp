#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/dispatch/group.h"
#include "platform/dispatch/once.h"
#include "platform/dispatch/semaphore.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

TEST(DispatchGroupTest, WaitAndNotifyFollowTheCount) {
  DispatchGroup group;
  EXPECT_TRUE(group.wait(0ms));
  group.enter();
  group.enter();
  EXPECT_FALSE(group.wait(10ms));

  auto queue = DispatchQueue::makeSerial("test.group");
  std::atomic<int> notified{0};
  group.notify(queue, [&] { ++notified; });
  group.leave();
  DispatchQueue::makeSerial("flush")->sync([] {});
  EXPECT_EQ(notified, 0);
  group.leave();
  EXPECT_TRUE(group.wait(5s));
  queue->sync([] {});
  EXPECT_EQ(notified, 1);

  // A notification on an empty group is submitted at once; earlier ones do not fire again.
  group.notify(queue, [&] { notified += 10; });
  queue->sync([] {});
  EXPECT_EQ(notified, 11);
  EXPECT_THROW(group.leave(), std::logic_error);
}

TEST(DispatchGroupTest, AsyncBlocksAreMembersUntilTheyFinish) {
  DispatchGroup group;
  DispatchGroup copy = group;   // copies share the counter
  std::atomic<int> ran{0};
  auto pool = DispatchQueue::global();
  for (int i = 0; i < 20; ++i) copy.async(pool, [&] { ++ran; });
  EXPECT_TRUE(group.wait(10s));
  EXPECT_EQ(ran, 20);
  EXPECT_EQ(group.count(), 0);
}

TEST(DispatchSemaphoreTest, CountsSignalsAndTimesOut) {
  DispatchSemaphore semaphore(1);
  EXPECT_TRUE(semaphore.wait(0ms));
  EXPECT_FALSE(semaphore.wait(10ms));
  std::thread signaller([&] { semaphore.signal(); });
  semaphore.wait();
  signaller.join();
  semaphore.signal();
  semaphore.signal();
  EXPECT_TRUE(semaphore.wait(0ms));
  EXPECT_TRUE(semaphore.wait(0ms));
  EXPECT_FALSE(semaphore.wait(0ms));
}

TEST(OnceFlagTest, RunsOnceAcrossThreadsUntilReset) {
  OnceFlag flag;
  std::atomic<int> runs{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      flag.call([&] {
        std::this_thread::sleep_for(1ms);
        ++runs;
      });
      // Every caller returns only after the block has finished.
      EXPECT_EQ(runs.load(), 1);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(flag.done());
  flag.reset();
  EXPECT_FALSE(flag.done());
  flag.call([&] { ++runs; });
  EXPECT_EQ(runs, 2);
}

TEST(OnceFlagTest, AThrowingBlockLeavesTheFlagUnset) {
  OnceFlag flag;
  EXPECT_THROW(flag.call([] { throw std::runtime_error("no"); }), std::runtime_error);
  EXPECT_FALSE(flag.done());
  int runs = 0;
  flag.call([&] { ++runs; });
  flag.call([&] { ++runs; });
  EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace platform
