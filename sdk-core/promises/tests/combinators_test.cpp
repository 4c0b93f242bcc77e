#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/dispatch/clock.h"
#include "sdk-core/promises/promise.h"
#include "sdk-core/promises/tests/promise_test_support.h"

namespace prm_test {
namespace {

using platform::Error;


class CombinatorTest : public PromiseTest {};

TEST_F(CombinatorTest, AllAndAnyOfNothingAreFulfilledAtOnce) {
  for (const auto& promise : {PRMPromise::all({}), PRMPromise::any({})}) {
    ASSERT_TRUE(promise->isFulfilled());
    ASSERT_NE(promise->value().array(), nullptr);
    EXPECT_TRUE(promise->value().array()->empty());
  }
}

TEST_F(CombinatorTest, AllKeepsInputOrderAndMarksNil) {
  auto a = PRMPromise::pendingPromise();
  auto b = PRMPromise::pendingPromise();
  auto c = PRMPromise::pendingPromise();
  auto all = PRMPromise::all({a, b, c, 4});
  c->fulfill(3);
  pump();
  b->fulfill(PRMObject());
  pump();
  EXPECT_TRUE(all->isPending());
  a->fulfill(1);
  pump();
  ASSERT_TRUE(all->isFulfilled());
  const auto& entries = *all->value().array();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(intValue(entries[0]), 1);
  EXPECT_TRUE(entries[1].isNull());
  EXPECT_EQ(intValue(entries[2]), 3);
  EXPECT_EQ(intValue(entries[3]), 4);
}

TEST_F(CombinatorTest, AllRejectsEarly) {
  // A plain error object among the inputs rejects as soon as the work runs.
  auto pending = PRMPromise::pendingPromise();
  auto withError = PRMPromise::all({pending, 5, PRMObject(testError(1))});
  pump();
  EXPECT_EQ(withError->error(), testError(1));
  EXPECT_TRUE(pending->isPending());

  // The first rejection observed decides while other inputs are still pending.
  auto failing = PRMPromise::pendingPromise();
  auto all = PRMPromise::all({pending, failing});
  failing->reject(testError(2));
  pump();
  EXPECT_EQ(all->error(), testError(2));
}

TEST_F(CombinatorTest, AnyWaitsForEveryInput) {
  for (bool lastFulfils : {true, false}) {
    auto last = PRMPromise::pendingPromise();
    auto any = PRMPromise::any({PRMPromise::resolvedWith(testError(1)), last, 7});
    pump();
    EXPECT_TRUE(any->isPending());
    if (lastFulfils) {
      last->fulfill(5);
    } else {
      last->reject(testError(2));
    }
    pump();
    ASSERT_TRUE(any->isFulfilled()) << "the plain value 7 counts as fulfilled";
    const auto& entries = *any->value().array();
    EXPECT_EQ(*entries[0].error(), testError(1));
    if (lastFulfils) {
      EXPECT_EQ(intValue(entries[1]), 5);
    } else {
      EXPECT_EQ(*entries[1].error(), testError(2));
    }
    EXPECT_EQ(intValue(entries[2]), 7);
  }
  // All rejected: the rejection observed last.
  auto first = PRMPromise::pendingPromise();
  auto second = PRMPromise::pendingPromise();
  auto none = PRMPromise::any({first, second, PRMObject(testError(9))});
  second->reject(testError(2));
  pump();
  first->reject(testError(1));
  pump();
  EXPECT_EQ(none->error(), testError(1));
}

TEST_F(CombinatorTest, RaceTakesTheFirstToSettle) {
  auto pending = PRMPromise::pendingPromise();
  auto withValue = PRMPromise::race({pending, 7});
  pump();
  EXPECT_EQ(intValue(withValue->value()), 7);

  auto slow = PRMPromise::pendingPromise();
  auto fast = PRMPromise::pendingPromise();
  auto race = PRMPromise::race({slow, fast});
  pump();
  fast->reject(testError(3));
  pump();
  slow->fulfill(1);
  pump();
  EXPECT_EQ(race->error(), testError(3));

  EXPECT_EQ(thrownReason([] { PRMPromise::race({}); }), "No promises to observe");
}

TEST_F(CombinatorTest, AsyncAndDoSettleFromTheirWork) {
  auto async = PRMPromise::async([](auto fulfill, auto reject) {
    fulfill(1);
    reject(testError(1));   // too late
  });
  auto followed = PRMPromise::pendingPromise();
  auto following = PRMPromise::async([followed](auto fulfill, auto) { fulfill(PRMObject(followed)); });
  auto doNil = PRMPromise::do_([] { return PRMObject(); });
  auto doError = PRMPromise::doOn(platform::DispatchQueue::global(), [] { return PRMObject(testError(4)); });
  EXPECT_TRUE(async->isPending()) << "work runs on the queue, later";
  pump();
  EXPECT_EQ(intValue(async->value()), 1);
  EXPECT_TRUE(doNil->isFulfilled());
  EXPECT_TRUE(doNil->value().isNil());
  followed->fulfill(8);
  ASSERT_TRUE(settle(following));
  EXPECT_EQ(intValue(following->value()), 8);
  ASSERT_TRUE(settle(doError));
  EXPECT_EQ(doError->error(), testError(4));
}

TEST_F(CombinatorTest, AlwaysRecoverAndValidate) {
  int always = 0;
  auto fine = PRMPromise::resolvedWith(1)->always([&] { ++always; });
  auto bad = PRMPromise::resolvedWith(testError(1))->always([&] { ++always; });
  int recoveries = 0;
  auto recovered = PRMPromise::resolvedWith(testError(1))->recover([&](const Error&) {
    ++recoveries;
    return PRMObject(10);
  });
  auto untouched = PRMPromise::resolvedWith(2)->recover([&](const Error&) {
    ++recoveries;
    return PRMObject(0);
  });
  auto inner = PRMPromise::resolvedWith(testError(2));
  auto recoveredIntoRejection = PRMPromise::resolvedWith(testError(1))->recover([&](const Error&) {
    return PRMObject(inner);
  });
  int predicateCalls = 0;
  auto refused = PRMPromise::resolvedWith(3)->validate([&](const PRMObject& v) {
    ++predicateCalls;
    return intValue(v) > 5;
  });
  auto accepted = PRMPromise::resolvedWith(6)->validate([&](const PRMObject& v) {
    ++predicateCalls;
    return intValue(v) > 5;
  });
  auto keptError = PRMPromise::resolvedWith(testError(7))->validate([&](const PRMObject&) {
    ++predicateCalls;
    return true;
  });
  pump();
  EXPECT_EQ(always, 2);
  EXPECT_EQ(intValue(fine->value()), 1);
  EXPECT_EQ(bad->error(), testError(1));
  EXPECT_EQ(intValue(recovered->value()), 10);
  EXPECT_EQ(intValue(untouched->value()), 2);
  EXPECT_EQ(recoveries, 1);
  EXPECT_EQ(recoveredIntoRejection->error(), testError(2));
  EXPECT_EQ(refused->error(), Error(PRMPromiseErrorDomain, 2));
  EXPECT_EQ(intValue(accepted->value()), 6);
  EXPECT_EQ(keptError->error(), testError(7));
  EXPECT_EQ(predicateCalls, 2);
}

TEST_F(CombinatorTest, ReduceFoldsInOrderAndStopsAtTheFirstRejection) {
  auto start = PRMPromise::resolvedWith(std::string("a"));
  EXPECT_EQ(start->reduce({}, [](const PRMObject& p, const PRMObject&) { return p; }), start);

  auto text = start->reduce({std::string("b"), std::string("c")}, [](const PRMObject& partial, const PRMObject& item) {
    return PRMObject(*partial.get<std::string>() + *item.get<std::string>());
  });
  std::vector<int> seen;
  auto stopped = PRMPromise::resolvedWith(0)->reduce({1, 2, 3}, [&](const PRMObject& partial, const PRMObject& item) {
    seen.push_back(intValue(item));
    return intValue(item) == 2 ? PRMObject(testError(2)) : PRMObject(intValue(partial) + intValue(item));
  });
  pump();
  EXPECT_EQ(*text->value().get<std::string>(), "abc");
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
  EXPECT_EQ(stopped->error(), testError(2));
}

// Timers of delay, timeout and retry run on the virtual clock.
class TimedCombinatorTest : public PromiseTest {
 protected:
  void advance(platform::Duration by) {
    clock_.advance(by);
    pump();
  }
  platform::VirtualClock clock_;
};

TEST_F(TimedCombinatorTest, TimeoutRejectsOnlyWhatIsStillPending) {
  auto slow = PRMPromise::pendingPromise();
  auto limited = slow->timeout(2.0);
  auto quick = PRMPromise::pendingPromise();
  auto kept = quick->timeout(2.0);
  quick->fulfill(1);
  advance(1999ms);
  EXPECT_TRUE(limited->isPending());
  EXPECT_EQ(intValue(kept->value()), 1);
  advance(1ms);
  EXPECT_EQ(limited->error(), Error(PRMPromiseErrorDomain, 1));
  EXPECT_EQ(intValue(kept->value()), 1) << "the later timer changes nothing";
  slow->fulfill(2);
  pump();
  EXPECT_TRUE(limited->isRejected());
}

TEST_F(TimedCombinatorTest, DelayHoldsValuesButNotErrors) {
  auto delayed = PRMPromise::resolvedWith(1)->delay(0.5);
  auto failed = PRMPromise::resolvedWith(testError(1))->delay(0.5);
  pump();
  EXPECT_TRUE(delayed->isPending());
  EXPECT_EQ(failed->error(), testError(1));
  advance(499ms);
  EXPECT_TRUE(delayed->isPending());
  advance(1ms);
  EXPECT_EQ(intValue(delayed->value()), 1);
}

TEST_F(TimedCombinatorTest, RetryWithTheDefaultsTriesTwiceOneSecondApart) {
  std::vector<std::chrono::steady_clock::time_point> calls;
  auto retried = PRMPromise::retry([&] {
    calls.push_back(platform::Clock::monotonicNow());
    return PRMObject(testError(static_cast<long>(calls.size())));
  });
  ASSERT_EQ(calls.size(), 1u) << "the first attempt runs at once, on the calling thread";
  advance(999ms);
  EXPECT_EQ(calls.size(), 1u);
  advance(1ms);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1] - calls[0], 1s);
  advance(10s);
  EXPECT_EQ(calls.size(), 2u);
  EXPECT_EQ(retried->error(), testError(2));
}

TEST_F(TimedCombinatorTest, RetryCountsConditionsAndPromiseResults) {
  // Attempts 0: one call.
  int calls = 0;
  auto single = PRMPromise::attempts(0, [&] {
    ++calls;
    return PRMObject(testError(1));
  });
  pump();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(single->error(), testError(1));

  // The condition sees the remaining count before it is lowered, and NO stops.
  std::vector<std::int64_t> remaining;
  calls = 0;
  auto stopped = PRMPromise::attempts(5, 0.1, [&](std::int64_t left, const Error&) {
    remaining.push_back(left);
    return left > 3;
  }, [&] {
    ++calls;
    return PRMObject(testError(calls));
  });
  for (int i = 0; i < 10; ++i) advance(100ms);
  EXPECT_EQ(remaining, (std::vector<std::int64_t>{5, 4, 3}));
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(stopped->error(), testError(3));

  // A work promise that fulfils on the second attempt.
  calls = 0;
  auto recovered = PRMPromise::attempts(3, [&] {
    ++calls;
    return calls < 2 ? PRMObject(PRMPromise::resolvedWith(testError(1))) : PRMObject(PRMPromise::resolvedWith(42));
  });
  pump();
  advance(1s);
  EXPECT_EQ(intValue(recovered->value()), 42);
  EXPECT_EQ(calls, 2);
}

TEST_F(CombinatorTest, AwaitBlocksWithoutTheMainQueue) {
  // An already rejected promise: nil and the error.
  Error error;
  EXPECT_TRUE(PRMPromiseAwait(PRMPromise::resolvedWith(testError(3)), &error).isNil());
  EXPECT_EQ(error, testError(3));

  // The main thread waits while a worker settles the promise; nobody pumps the main queue.
  auto promise = PRMPromise::pendingPromise();
  std::thread worker([promise] { promise->fulfill(11); });
  EXPECT_EQ(intValue(PRMPromiseAwait(promise)), 11);
  worker.join();

  // A worker thread waits on a promise that the main queue settles.
  auto fromMain = PRMPromise::resolvedWith(1)->then([](const PRMObject&) { return PRMObject(12); });
  std::atomic<int> seen{0};
  std::thread waiter([&] { seen = intValue(PRMPromiseAwait(fromMain)); });
  EXPECT_TRUE(platform::MainLoop::runUntil([&] { return seen.load() != 0; }, 10s));
  waiter.join();
  EXPECT_EQ(seen, 12);
}

}  // namespace
}  // namespace prm_test
