#include "platform/dispatch/operation_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/dispatch/semaphore.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

// Tracks how many operations run at once.
struct Gauge {
  std::atomic<int> now{0};
  std::atomic<int> peak{0};
  void in() {
    const int n = ++now;
    int p = peak.load();
    while (n > p && !peak.compare_exchange_weak(p, n)) {}
  }
  void out() { --now; }
};

TEST(OperationQueueTest, HonoursTheConcurrencyLimit) {
  for (int limit : {1, 2, 3}) {
    auto queue = OperationQueue::make("test.ops");
    queue->setMaxConcurrentOperationCount(limit);
    Gauge gauge;
    std::mutex mutex;
    std::vector<int> order;
    for (int i = 0; i < 30; ++i) {
      queue->addOperation([&, i] {
        gauge.in();
        {
          std::lock_guard lock(mutex);
          order.push_back(i);
        }
        std::this_thread::sleep_for(1ms);
        gauge.out();
      });
    }
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_LE(gauge.peak.load(), limit) << "limit " << limit;
    EXPECT_EQ(order.size(), 30u);
    if (limit == 1) {
      EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    }
    EXPECT_EQ(queue->operationCount(), 0u);
  }
}

// Finishes only when the test says so.
class ManualOperation : public Operation {
 public:
  bool isAsynchronous() const override { return true; }
  void complete() { finish(); }
  std::atomic<bool> started{false};

 protected:
  void main() override { started = true; }
};

TEST(OperationQueueTest, AnAsynchronousOperationHoldsItsSlotUntilItFinishes) {
  auto queue = OperationQueue::make();
  queue->setMaxConcurrentOperationCount(1);
  auto first = std::make_shared<ManualOperation>();
  auto second = std::make_shared<ManualOperation>();
  DispatchSemaphore completed;
  first->setCompletionBlock([&] { completed.signal(); });
  queue->addOperation(first);
  queue->addOperation(second);
  while (!first->started) std::this_thread::yield();
  EXPECT_TRUE(first->isExecuting());
  EXPECT_FALSE(first->isFinished());
  EXPECT_EQ(queue->operationCount(), 2u);
  EXPECT_FALSE(second->started);

  first->complete();
  EXPECT_TRUE(completed.wait(5s));
  EXPECT_TRUE(first->isFinished());
  EXPECT_FALSE(first->isExecuting());
  while (!second->started) std::this_thread::yield();
  second->complete();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_THROW(queue->addOperation(first), std::invalid_argument);
}

TEST(OperationQueueTest, CancelledOperationsFinishWithoutRunning) {
  auto queue = OperationQueue::make();
  queue->setMaxConcurrentOperationCount(1);
  auto blocker = std::make_shared<ManualOperation>();
  queue->addOperation(blocker);
  std::atomic<int> ran{0};
  std::atomic<int> completions{0};
  std::vector<std::shared_ptr<Operation>> waiting;
  for (int i = 0; i < 3; ++i) {
    auto op = BlockOperation::make([&] { ++ran; });
    op->setCompletionBlock([&] { ++completions; });
    waiting.push_back(op);
    queue->addOperation(op);
  }
  while (!blocker->started) std::this_thread::yield();
  queue->cancelAllOperations();
  EXPECT_TRUE(blocker->isCancelled());   // running operations are told, not stopped
  blocker->complete();
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(completions, 3);
  for (auto& op : waiting) EXPECT_TRUE(op->isFinished() && op->isCancelled());
}

TEST(OperationQueueTest, SuspendedQueueStartsNothingUntilResumed) {
  auto queue = OperationQueue::make();
  queue->setSuspended(true);
  std::atomic<int> ran{0};
  queue->addOperation([&] { ++ran; });
  queue->addOperation([&] { ++ran; });
  EXPECT_EQ(queue->operationCount(), 2u);
  EXPECT_EQ(ran, 0);
  queue->setSuspended(false);
  queue->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(ran, 2);
}

}  // namespace
}  // namespace platform
