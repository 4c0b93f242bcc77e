#include "crash-reporting/network/operations.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/dispatch/semaphore.h"

namespace {

using namespace std::chrono_literals;

// Finishes when the test says so (or at once with a scripted outcome when `immediate`).
class ScriptedOperation : public CRBaseAsyncOperation {
 public:
  explicit ScriptedOperation(std::optional<platform::Error> outcome = std::nullopt, bool immediate = true)
      : CRBaseAsyncOperation("ScriptedOperation"), outcome_(std::move(outcome)), immediate_(immediate) {}
  std::atomic<int> mainRuns{0};
  void report() { finishWithError(outcome_); }

 protected:
  void main() override {
    ++mainRuns;
    if (immediate_) report();
  }

 private:
  std::optional<platform::Error> outcome_;
  bool immediate_;
};

struct Outcome {
  std::atomic<int> calls{0};
  std::promise<std::optional<platform::Error>> promise;
  CRAsyncCompletion completion() {
    return [this](const std::optional<platform::Error>& error) {
      if (calls++ == 0) promise.set_value(error);
    };
  }
};

TEST(CROperationsTest, LockNamesFollowTheClass) {
  EXPECT_EQ(CRAsyncOperation().lockName(), "dod.uzeruzaravi.async-operation-lock");
  EXPECT_EQ(ScriptedOperation().lockName(), "raz.ovevar.uvivarud.ezivezireze.ScriptedOperation-lock");
}

TEST(CROperationsTest, CancelledBeforeStartFinishesWithoutMainOrCompletion) {
  auto operation = std::make_shared<ScriptedOperation>();
  Outcome outcome;
  operation->setAsyncCompletion(outcome.completion());
  operation->cancel();
  operation->start();
  EXPECT_TRUE(operation->isFinished());
  EXPECT_EQ(operation->mainRuns, 0);
  EXPECT_EQ(outcome.calls, 0);
}

TEST(CROperationsTest, FinishWithErrorReportsOnceThenFinishes) {
  auto operation = std::make_shared<ScriptedOperation>(std::nullopt, false);
  Outcome outcome;
  operation->setAsyncCompletion(outcome.completion());
  operation->start();
  EXPECT_TRUE(operation->isExecuting());
  operation->finishWithError(platform::Error("d", 1));
  operation->finishWithError(std::nullopt);
  EXPECT_TRUE(operation->isFinished());
  EXPECT_EQ(outcome.calls, 1);
  EXPECT_EQ(outcome.promise.get_future().get()->code, 1);
}

TEST(CROperationsTest, CompoundWithOneFailureFinishesOnceWithTheAggregate) {
  auto failing = std::make_shared<ScriptedOperation>(platform::Error("sub", 7));
  auto compound = std::make_shared<CRCompoundOperation>(std::vector<std::shared_ptr<CRBaseAsyncOperation>>{
      std::make_shared<ScriptedOperation>(), failing, std::make_shared<ScriptedOperation>()});
  Outcome outcome;
  compound->setAsyncCompletion(outcome.completion());
  std::atomic<int> ownCalls{0};
  // A sub-operation's own completion runs on the counting queue and may ask the compound.
  failing->setAsyncCompletion([&](const auto&) {
    ++ownCalls;
    EXPECT_LE(compound->completedOperations(), 2u);
  });
  auto queue = platform::OperationQueue::make("test");
  queue->addOperation(compound);

  auto future = outcome.promise.get_future();
  ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
  queue->waitUntilAllOperationsAreFinished();
  const auto error = future.get();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, CRCompoundOperationErrorDomain);
  EXPECT_EQ(error->code, 4294967293L);
  const auto* underlying = error->userInfo.at(CRCompoundOperationErrorUserInfoKeyUnderlyingErrors).asArray();
  ASSERT_NE(underlying, nullptr);
  ASSERT_EQ(underlying->size(), 1u);
  EXPECT_EQ(*underlying->at(0).find("code")->asInteger(), 7);
  EXPECT_EQ(ownCalls, 1);
  EXPECT_EQ(outcome.calls, 1);
  EXPECT_TRUE(compound->isFinished());
  EXPECT_EQ(compound->completedOperations(), 2u);
}

TEST(CROperationsTest, CompoundOfSuccessesAndOfNothingFinishWithoutError) {
  for (size_t count : {0u, 3u}) {
    std::vector<std::shared_ptr<CRBaseAsyncOperation>> operations;
    for (size_t i = 0; i < count; ++i) operations.push_back(std::make_shared<ScriptedOperation>());
    auto compound = std::make_shared<CRCompoundOperation>(operations);
    Outcome outcome;
    compound->setAsyncCompletion(outcome.completion());
    compound->start();
    auto future = outcome.promise.get_future();
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready) << count;
    EXPECT_FALSE(future.get()) << count;
  }
}

// Sub-operations that report at the same moment from many threads still finish the
// compound exactly once.
TEST(CROperationsTest, RacingCompletionsFinishTheCompoundOnce) {
  for (int round = 0; round < 20; ++round) {
    std::vector<std::shared_ptr<ScriptedOperation>> subs;
    std::vector<std::shared_ptr<CRBaseAsyncOperation>> operations;
    for (int i = 0; i < 8; ++i) {
      subs.push_back(std::make_shared<ScriptedOperation>(std::nullopt, false));
      operations.push_back(subs.back());
    }
    auto compound = std::make_shared<CRCompoundOperation>(operations);
    Outcome outcome;
    compound->setAsyncCompletion(outcome.completion());
    compound->start();
    for (auto& sub : subs) {
      while (!sub->isExecuting()) std::this_thread::yield();
    }
    std::vector<std::thread> threads;
    for (auto& sub : subs) threads.emplace_back([sub] { sub->report(); });
    for (auto& thread : threads) thread.join();
    auto future = outcome.promise.get_future();
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
    compound->compoundQueue()->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(outcome.calls, 1);
  }
}

TEST(CROperationsTest, CancellingARunningCompoundFinishesItCancelled) {
  auto pending = std::make_shared<ScriptedOperation>(std::nullopt, false);
  auto compound = std::make_shared<CRCompoundOperation>(
      std::vector<std::shared_ptr<CRBaseAsyncOperation>>{pending}, "Upload");
  Outcome outcome;
  compound->setAsyncCompletion(outcome.completion());
  compound->start();
  while (!pending->isExecuting()) std::this_thread::yield();
  compound->cancel();
  EXPECT_EQ(outcome.calls, 0);  // the sub-operation has not reported yet
  pending->report();
  auto future = outcome.promise.get_future();
  ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
  const auto error = future.get();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 4294967294L);
  EXPECT_EQ(error->localizedDescription(), "Upload cancelled");
  compound->compoundQueue()->waitUntilAllOperationsAreFinished();
  EXPECT_EQ(outcome.calls, 1);
}

TEST(CROperationsTest, CancellingACompoundBeforeItRunsCancelsEverySubOperation) {
  auto a = std::make_shared<ScriptedOperation>();
  auto b = std::make_shared<ScriptedOperation>();
  auto compound = std::make_shared<CRCompoundOperation>(std::vector<std::shared_ptr<CRBaseAsyncOperation>>{a, b});
  Outcome outcome;
  compound->setAsyncCompletion(outcome.completion());
  compound->cancel();
  compound->cancel();
  compound->start();
  compound->compoundQueue()->waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(compound->isFinished());
  EXPECT_EQ(a->mainRuns + b->mainRuns, 0);
  EXPECT_EQ(outcome.calls, 0);
}

}  // namespace
