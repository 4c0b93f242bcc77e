#include "platform/dispatch/queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/group.h"
#include "platform/dispatch/semaphore.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueueTest, RunsBlocksOneAtATimeInSubmissionOrder) {
  auto queue = DispatchQueue::makeSerial("test.serial");
  std::vector<int> order;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  DispatchGroup group;
  for (int i = 0; i < 500; ++i) {
    group.async(queue, [&, i] {
      if (inside.fetch_add(1) != 0) overlapped = true;
      order.push_back(i);
      inside.fetch_sub(1);
    });
  }
  ASSERT_TRUE(group.wait(10s));
  EXPECT_FALSE(overlapped);
  ASSERT_EQ(order.size(), 500u);
  for (int i = 0; i < 500; ++i) EXPECT_EQ(order[i], i);
}

TEST(SerialQueueTest, SyncReturnsResultsAndExceptionsAndKnowsItsQueue) {
  auto queue = DispatchQueue::makeSerial("test.sync");
  EXPECT_FALSE(queue->isCurrent());
  EXPECT_EQ(queue->syncResult([&] { return queue->isCurrent() ? 42 : -1; }), 42);
  EXPECT_THROW(queue->sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
  // The queue still works after a block threw.
  EXPECT_EQ(queue->syncResult([] { return 7; }), 7);
  EXPECT_EQ(queue->syncResult([] { return DispatchQueue::current(); }), queue);
  EXPECT_EQ(DispatchQueue::current(), nullptr);
}

TEST(SerialQueueTest, SyncWaitsForEarlierBlocks) {
  auto queue = DispatchQueue::makeSerial("test.sync-order");
  std::vector<int> seen;
  for (int i = 0; i < 50; ++i) queue->async([&seen, i] { seen.push_back(i); });
  const auto count = queue->syncResult([&] { return seen.size(); });
  EXPECT_EQ(count, 50u);
}

TEST(SerialQueueTest, SyncOntoAQueueAlreadyOnTheStackThrowsDeadlock) {
  auto a = DispatchQueue::makeSerial("test.a");
  auto b = DispatchQueue::makeSerial("test.b");
  // Directly onto itself, from an async block.
  std::atomic<int> caught{0};
  DispatchGroup group;
  group.async(a, [&] {
    try {
      a->sync([] {});
    } catch (const DispatchDeadlock&) {
      ++caught;
    }
  });
  ASSERT_TRUE(group.wait(5s));
  EXPECT_EQ(caught, 1);
  // Through another queue: a -> b -> a.
  EXPECT_THROW(a->sync([&] { b->sync([&] { a->sync([] {}); }); }), DispatchDeadlock);
  // b -> a is fine.
  EXPECT_NO_THROW(b->sync([&] { a->sync([] {}); }));
}

TEST(ConcurrentQueueTest, RunsBlocksInParallelAndSyncInline) {
  auto queue = DispatchQueue::makeConcurrent("test.concurrent");
  // Two blocks that each wait for the other can only finish when both run at once.
  std::atomic<int> arrived{0};
  DispatchGroup group;
  for (int i = 0; i < 2; ++i) {
    group.async(queue, [&] {
      ++arrived;
      while (arrived.load() < 2) std::this_thread::yield();
    });
  }
  EXPECT_TRUE(group.wait(10s));
  // sync onto a concurrent queue from itself does not deadlock.
  EXPECT_NO_THROW(queue->sync([&] { queue->sync([] {}); }));
  EXPECT_TRUE(DispatchQueue::global(QoS::Utility)->syncResult([] { return true; }));
}

TEST(GlobalQueueTest, BlockedWorkersDoNotStarveThePool) {
  // More blocked blocks than cores, released only by a block submitted after them.
  const int blocked = static_cast<int>(std::thread::hardware_concurrency()) + 8;
  DispatchSemaphore release;
  DispatchGroup group;
  auto pool = DispatchQueue::global();
  for (int i = 0; i < blocked; ++i) group.async(pool, [&] { release.wait(); });
  group.async(pool, [&] {
    for (int i = 0; i < blocked; ++i) release.signal();
  });
  EXPECT_TRUE(group.wait(30s));
}

// A worker that has just run a block watches for the next one for a bounded time before it
// sleeps, and blocks submitted while one watches are left to it. Chains whose next block
// comes before, around and after the end of that watch must all run, and blocks that need
// each other must still get threads of their own.
TEST(GlobalQueueTest, HandOffsAroundTheWatchAreNeverLost) {
  auto serial = DispatchQueue::makeSerial("test.hand-off");
  auto pool = DispatchQueue::global();
  for (auto pause : {0us, 40us, 50us, 60us, 2000us}) {
    SCOPED_TRACE(pause.count());
    DispatchSemaphore done;
    std::function<void(int)> hop = [&](int left) {
      std::this_thread::sleep_for(pause);
      if (left == 0) {
        done.signal();
        return;
      }
      auto& next = left % 2 == 0 ? serial : pool;
      next->async([&, left] { hop(left - 1); });
    };
    pool->async([&] { hop(40); });
    ASSERT_TRUE(done.wait(10s));
  }
  // Four blocks submitted at once from a worker, while others watch, that can only end together.
  std::atomic<int> arrived{0};
  DispatchGroup group;
  group.enter();
  pool->async([&] {
    for (int i = 0; i < 4; ++i) {
      group.async(pool, [&] {
        arrived.fetch_add(1);
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (arrived.load() < 4 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
      });
    }
    group.leave();
  });
  EXPECT_TRUE(group.wait(20s));
  EXPECT_EQ(arrived.load(), 4);
}

class MainLoopTest : public ::testing::Test {
 protected:
  void SetUp() override { MainLoop::drain(); }
  void TearDown() override {
    for (auto id : observers_) MainLoop::removeTurnEndObserver(id);
    MainLoop::drain();
  }
  std::vector<MainLoop::ObserverId> observers_;
};

TEST_F(MainLoopTest, DrainRunsWhatBlocksPostThenObserversOnce) {
  std::vector<std::string> log;
  observers_.push_back(MainLoop::addTurnEndObserver([&] { log.push_back("end"); }));
  auto main = DispatchQueue::main();
  main->async([&] {
    log.push_back("a");
    main->async([&] { log.push_back("c"); });
  });
  main->async([&] { log.push_back("b"); });
  MainLoop::drain();
  EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "c", "end"}));

  // A turn that runs nothing does not call the observers.
  log.clear();
  MainLoop::drain();
  EXPECT_TRUE(log.empty());
}

TEST_F(MainLoopTest, ObserverPostsRunInAFollowingTurnAndRemovedObserversStop) {
  int ends = 0;
  bool reposted = false;
  auto main = DispatchQueue::main();
  observers_.push_back(MainLoop::addTurnEndObserver([&] {
    ++ends;
    if (!reposted) {
      reposted = true;
      main->async([] {});
    }
  }));
  const auto second = MainLoop::addTurnEndObserver([&] { ends += 100; });
  main->async([] {});
  MainLoop::drain();
  EXPECT_EQ(ends, 202);   // two turns, both observers each time
  MainLoop::removeTurnEndObserver(second);
  main->async([] {});
  MainLoop::drain();
  EXPECT_EQ(ends, 203);
}

TEST_F(MainLoopTest, PostFromAnotherThreadWakesRunAndStopEndsIt) {
  auto main = DispatchQueue::main();
  std::atomic<bool> ranOnMain{false};
  std::thread poster([&] {
    std::this_thread::sleep_for(20ms);
    main->async([&] {
      ranOnMain = MainLoop::isMainThread() && DispatchQueue::main()->isCurrent();
      MainLoop::stop();
    });
  });
  MainLoop::run();
  poster.join();
  EXPECT_TRUE(ranOnMain);
  EXPECT_TRUE(MainLoop::isMainThread());
}

TEST_F(MainLoopTest, SyncOntoMainFromAWorkerWaitsForTheLoop) {
  auto main = DispatchQueue::main();
  std::atomic<int> result{0};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    EXPECT_FALSE(MainLoop::isMainThread());
    result = main->syncResult([] { return MainLoop::isMainThread() ? 5 : -5; });
    done = true;
  });
  EXPECT_TRUE(MainLoop::runUntil([&] { return done.load(); }, 10s));
  worker.join();
  EXPECT_EQ(result, 5);
  // The main thread itself cannot wait on its own queue.
  EXPECT_THROW(main->sync([] {}), DispatchDeadlock);
}

TEST_F(MainLoopTest, RunUntilGivesUpAfterTheTimeout) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(MainLoop::runUntil([] { return false; }, 30ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST_F(MainLoopTest, RunUntilSeesConditionsSetByOtherQueues) {
  std::atomic<bool> flag{false};
  DispatchQueue::global()->async([&] { flag = true; });
  EXPECT_TRUE(MainLoop::runUntil([&] { return flag.load(); }, 10s));
}

TEST_F(MainLoopTest, RunUntilTakesBlocksPostedAroundItsWatch) {
  // The loop watches for the next block after it runs one; blocks posted before, around and
  // after the end of that watch all wake it.
  auto main = DispatchQueue::main();
  for (auto pause : {0us, 40us, 50us, 60us, 2000us}) {
    SCOPED_TRACE(pause.count());
    int ran = 0;
    std::function<void()> post = [&] {
      DispatchQueue::global()->async([&, main] {
        std::this_thread::sleep_for(pause);
        main->async([&] {
          if (++ran < 10) post();
        });
      });
    };
    post();
    EXPECT_TRUE(MainLoop::runUntil([&] { return ran == 10; }, 10s));
  }
}

TEST_F(MainLoopTest, AsyncAfterFiresInDeadlineOrderOnTheVirtualClock) {
  VirtualClock clock;
  auto main = DispatchQueue::main();
  std::vector<int> order;
  main->asyncAfter(3s, [&] { order.push_back(3); });
  main->asyncAfter(1s, [&] { order.push_back(1); });
  main->asyncAfter(2s, [&] { order.push_back(2); });
  main->asyncAfter(2s, [&] { order.push_back(22); });   // same deadline: submission order
  clock.advance(999ms);
  MainLoop::drain();
  EXPECT_TRUE(order.empty());
  clock.advance(1001ms);
  MainLoop::drain();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 22}));
  clock.advance(10s);
  MainLoop::drain();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 22, 3}));
}

TEST(VirtualClockTest, MovesBothClocksAndOnlyOneMayExist) {
  const auto wallStart = std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000));
  VirtualClock clock(wallStart);
  EXPECT_TRUE(Clock::isVirtual());
  const auto mono = Clock::monotonicNow();
  EXPECT_EQ(Clock::wallNow(), wallStart);
  clock.advance(90s);
  EXPECT_EQ(Clock::monotonicNow() - mono, 90s);
  EXPECT_EQ(Clock::wallNow(), wallStart + 90s);
  clock.advance(-5s);   // ignored
  EXPECT_EQ(Clock::monotonicNow() - mono, 90s);
  EXPECT_THROW(VirtualClock second, std::logic_error);
}

TEST(VirtualClockTest, PendingWorkContinuesOnRealTimeAfterTheClockEnds) {
  auto queue = DispatchQueue::makeSerial("test.rebase");
  std::atomic<bool> fired{false};
  {
    VirtualClock clock;
    queue->asyncAfter(10s, [&] { fired = true; });
    clock.advance(10s - 5ms);
  }
  // 5 ms of the delay were left; they now pass on real time.
  EXPECT_TRUE(MainLoop::runUntil([&] { return fired.load(); }, 10s));
}

TEST(DurationTest, SecondsConvertByTruncation) {
  EXPECT_EQ(secondsToDuration(1.5), 1500ms);
  EXPECT_EQ(secondsToDuration(1e-9 * 2.9), std::chrono::nanoseconds(2));
  EXPECT_EQ(secondsToDuration(-1), Duration::zero());
  EXPECT_EQ(secondsToDuration(std::nan("")), Duration::zero());
  EXPECT_GT(secondsToDuration(1e300), std::chrono::hours(24 * 365 * 100));
}

}  // namespace
}  // namespace platform
