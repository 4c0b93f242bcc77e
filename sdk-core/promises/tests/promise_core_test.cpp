#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "sdk-core/promises/promise.h"
#include "sdk-core/promises/tests/promise_test_support.h"

namespace prm_test {
namespace {

using platform::Error;

class PromiseCoreTest : public PromiseTest {};

TEST_F(PromiseCoreTest, SettlingFollowsTheObjectRules) {
  // fulfill with an error object rejects; nil is a legal value.
  auto rejectedByFulfil = PRMPromise::pendingPromise();
  rejectedByFulfil->fulfill(PRMObject(testError(7)));
  EXPECT_TRUE(rejectedByFulfil->isRejected());
  EXPECT_EQ(rejectedByFulfil->error(), testError(7));
  EXPECT_TRUE(rejectedByFulfil->value().isNil());

  auto nilValue = PRMPromise::pendingPromise();
  nilValue->fulfill(PRMObject());
  EXPECT_TRUE(nilValue->isFulfilled());
  EXPECT_TRUE(nilValue->value().isNil());
  EXPECT_FALSE(nilValue->error().has_value());

  EXPECT_TRUE(PRMPromise::resolvedWith(testError(1))->isRejected());
  EXPECT_TRUE(PRMPromise::resolvedWith(nullptr)->isFulfilled());
  EXPECT_EQ(intValue(PRMPromise::resolved()(5)->value()), 5);
  EXPECT_TRUE(PRMPromise::pending()()->isPending());

  // Only the first settle counts.
  auto once = PRMPromise::pendingPromise();
  once->fulfill(1);
  once->fulfill(2);
  once->reject(testError(3));
  EXPECT_TRUE(once->isFulfilled());
  EXPECT_EQ(intValue(once->value()), 1);

  // Rejecting with something that is not an error object raises and leaves it pending.
  auto pending = PRMPromise::pendingPromise();
  EXPECT_EQ(thrownReason([&] { pending->reject(PRMObject(std::string("nope"))); }), "Invalid error type.");
  EXPECT_TRUE(pending->isPending());
  EXPECT_TRUE(pending->value().isNil());
  EXPECT_FALSE(pending->error().has_value());
}

TEST_F(PromiseCoreTest, HandlersRunLaterOnTheirQueueInRegistrationOrder) {
  std::vector<std::string> log;
  auto settled = PRMPromise::resolvedWith(1);
  settled->then([&](const PRMObject&) {
    log.push_back("settled");
    return PRMObject();
  });
  log.push_back("registered");

  auto promise = PRMPromise::pendingPromise();
  for (int i = 0; i < 3; ++i) {
    promise->observeOnQueue(
        platform::DispatchQueue::main(), [&log, i](const PRMObject&) { log.push_back("observer" + std::to_string(i)); },
        [](const Error&) {});
  }
  promise->fulfill(PRMObject());
  log.push_back("fulfilled");
  pump();
  EXPECT_EQ(log, (std::vector<std::string>{"registered", "fulfilled", "settled", "observer0", "observer1", "observer2"}));
  // Settling again calls nobody.
  promise->reject(testError(1));
  pump();
  EXPECT_EQ(log.size(), 6u);
}

TEST_F(PromiseCoreTest, ThenSettlesFromTheWorkResult) {
  auto source = PRMPromise::resolvedWith(2);
  auto doubled = source->then([](const PRMObject& v) { return PRMObject(intValue(v) * 2); });
  auto failed = source->then([](const PRMObject&) { return PRMObject(testError(9)); });
  auto inner = PRMPromise::pendingPromise();
  auto following = source->then([inner](const PRMObject&) { return PRMObject(inner); });
  pump();
  EXPECT_EQ(intValue(doubled->value()), 4);
  EXPECT_EQ(failed->error(), testError(9));
  EXPECT_TRUE(following->isPending()) << "waits for the returned promise";
  inner->reject(testError(4));
  pump();
  EXPECT_EQ(following->error(), testError(4));

  // Following is one level deep: a promise fulfilled with a promise hands that promise on.
  auto deepest = PRMPromise::resolvedWith(1);
  auto outer = PRMPromise::pendingPromise();
  auto oneLevel = source->then([outer](const PRMObject&) { return PRMObject(outer); });
  outer->fulfill(PRMObject(deepest));
  pump();
  EXPECT_EQ(oneLevel->value().promise(), deepest);
}

// A promise following another settles with it, on the settling thread; its handlers still go
// to their queue. A long chain of promises following promises settles without exhausting the
// stack, in either outcome.
TEST_F(PromiseCoreTest, FollowingPromisesSettleWithTheFollowedOneAndChainsOfThemHaveNoDepthLimit) {
  auto inner = PRMPromise::pendingPromise();
  auto following = PRMPromise::resolvedWith(1)->then([inner](const PRMObject&) { return PRMObject(inner); });
  bool handled = false;
  following->then([&handled](const PRMObject& value) {
    handled = true;
    return value;
  });
  pump();
  ASSERT_TRUE(following->isPending());
  std::thread([inner] { inner->fulfill(5); }).join();
  EXPECT_EQ(intValue(following->value()), 5);
  EXPECT_FALSE(handled) << "handlers never run inside fulfill()";
  pump();
  EXPECT_TRUE(handled);

  for (const bool fulfil : {true, false}) {
    SCOPED_TRACE(fulfil ? "fulfilled" : "rejected");
    auto innermost = PRMPromise::pendingPromise();
    PRMPromise::Ptr outermost = innermost;
    for (int i = 0; i < 30000; ++i) {
      outermost = PRMPromise::resolvedWith(0)->then([followed = outermost](const PRMObject&) { return PRMObject(followed); });
    }
    pump();
    ASSERT_TRUE(outermost->isPending());
    if (fulfil) {
      innermost->fulfill(7);
    } else {
      innermost->reject(testError(7));
    }
    ASSERT_TRUE(settle(outermost));
    if (fulfil) {
      EXPECT_EQ(intValue(outermost->value()), 7);
    } else {
      EXPECT_EQ(outermost->error(), testError(7));
    }
  }
}

TEST_F(PromiseCoreTest, ARejectionSkipsThenStepsAndCatchRunsOnce) {
  int thenRuns = 0;
  int catchRuns = 0;
  auto source = PRMPromise::pendingPromise();
  auto step = [&](const PRMObject& v) {
    ++thenRuns;
    return v;
  };
  auto end = source->then(step)->then(step)->then(step)->catch_([&](const Error& error) {
    ++catchRuns;
    EXPECT_EQ(error, testError(5));
  });
  source->reject(testError(5));
  pump();
  EXPECT_EQ(thenRuns, 0);
  EXPECT_EQ(catchRuns, 1);
  EXPECT_EQ(end->error(), testError(5));

  // catch does not run on fulfilment and passes the value through.
  auto fine = PRMPromise::resolvedWith(3)->catch_([&](const Error&) { ++catchRuns; });
  pump();
  EXPECT_EQ(catchRuns, 1);
  EXPECT_EQ(intValue(fine->value()), 3);
}

TEST_F(PromiseCoreTest, PendingObjectsLiveUntilSettling) {
  auto promise = PRMPromise::pendingPromise();
  auto held = std::make_shared<int>(1);
  std::weak_ptr<int> watch = held;
  promise->addPendingObject(PRMObject(std::move(held)));
  EXPECT_FALSE(watch.expired());
  promise->fulfill(PRMObject());
  EXPECT_TRUE(watch.expired());

  auto late = std::make_shared<int>(2);
  std::weak_ptr<int> lateWatch = late;
  promise->addPendingObject(PRMObject(std::move(late)));
  EXPECT_TRUE(lateWatch.expired()) << "a settled promise keeps nothing";
}

TEST_F(PromiseCoreTest, HandlersAreReleasedOnceRunOrWhenTheirPromiseGoesAway) {
  // Run: the chained promise lives on, the handlers and what they hold do not.
  auto token = std::make_shared<int>(1);
  std::weak_ptr<int> watch = token;
  auto source = PRMPromise::pendingPromise();
  auto chained = source->then([token](const PRMObject& v) { return v; });
  auto caught = source->catch_([token](const Error&) {});
  source->observeOnQueue(platform::DispatchQueue::main(), [token](const PRMObject&) {}, [token](const Error&) {});
  token.reset();
  source->fulfill(1);
  pump();
  EXPECT_EQ(intValue(chained->value()), 1);
  EXPECT_TRUE(watch.expired());

  // Never run: a pending promise that goes away releases its observers and the chain.
  auto held = std::make_shared<int>(2);
  std::weak_ptr<int> heldWatch = held;
  std::weak_ptr<PRMPromise> chainWatch;
  std::weak_ptr<PRMPromise> keptWatch;
  PRMPromise::Ptr kept;
  {
    auto abandoned = PRMPromise::pendingPromise();
    chainWatch = abandoned->then([held](const PRMObject& v) { return v; })->then([](const PRMObject& v) { return v; });
    kept = abandoned->catch_([held](const Error&) {});
    keptWatch = kept;
    held.reset();
    EXPECT_FALSE(chainWatch.expired()) << "a chain lives while its first link is reachable";
  }
  EXPECT_TRUE(chainWatch.expired());
  EXPECT_TRUE(heldWatch.expired()) << "even while the chained promise itself is kept";
  EXPECT_TRUE(kept->isPending());
}

TEST_F(PromiseCoreTest, ObserversAddedWhileAnotherThreadSettlesEachRunOnce) {
  constexpr int kThreads = 4;
  constexpr int kEach = 200;
  for (int round = 0; round < 5; ++round) {
    auto source = PRMPromise::pendingPromise();
    std::atomic<int> runs{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        for (int i = 0; i < kEach; ++i) {
          source->thenOn(platform::DispatchQueue::global(), [&](const PRMObject& v) {
            ++runs;
            return v;
          });
        }
      });
    }
    source->fulfill(round);
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(PRMPromise::dispatchGroup().wait(std::chrono::seconds(10)));
    EXPECT_EQ(runs.load(), kThreads * kEach);
  }
}

TEST_F(PromiseCoreTest, ObjectsHoldNumbersInlineAndTellTypesApart) {
  const PRMObject one = 1;
  EXPECT_TRUE(one.is<int>());
  EXPECT_EQ(one.type(), typeid(int));
  EXPECT_EQ(one.get<long>(), nullptr);
  EXPECT_EQ(one.number<double>(), 1.0);
  EXPECT_TRUE(one.sameObject(PRMObject(1))) << "equal numbers of one type are one object";
  EXPECT_FALSE(one.sameObject(PRMObject(1L)));
  EXPECT_FALSE(one.sameObject(PRMObject(2)));
  EXPECT_TRUE(PRMObject::null().sameObject(PRMObject::null()));
  EXPECT_FALSE(PRMObject::null().sameObject(PRMObject()));

  const PRMObject text = std::string("a");
  EXPECT_TRUE(text.sameObject(PRMObject(text)));
  EXPECT_FALSE(text.sameObject(PRMObject(std::string("a")))) << "boxed values keep the identity of their box";
  EXPECT_EQ(PRMObject(std::string("a")).get<int>(), nullptr);

  const std::vector<std::pair<PRMObject, std::string>> described = {
      {PRMObject(), "(null)"}, {PRMObject::null(), "<null>"}, {true, "1"},  {2.5, "2.5"},
      {-7LL, "-7"},            {3u, "3"},                     {text, "a"},
  };
  for (const auto& [object, text] : described) EXPECT_EQ(object.description(), text);
}

TEST_F(PromiseCoreTest, DescriptionNamesTheState) {
  auto pending = PRMPromise::pendingPromise();
  EXPECT_TRUE(pending->description().starts_with("<PRMPromise 0x"));
  EXPECT_TRUE(pending->description().ends_with("> Pending"));
  EXPECT_TRUE(PRMPromise::resolvedWith(std::string("done"))->description().ends_with("> Fulfilled: done"));
  EXPECT_TRUE(PRMPromise::resolvedWith(testError(3))
                  ->description()
                  .ends_with("> Rejected: Error Domain=test.domain Code=3 \"The operation couldn’t be completed. "
                             "(test.domain error 3.)\" UserInfo={}"));
}

TEST_F(PromiseCoreTest, TheDefaultQueueIsReadAtEachCall) {
  auto serial = platform::DispatchQueue::makeSerial("test.promises.default");
  auto source = PRMPromise::pendingPromise();
  std::atomic<bool> firstOnMain{false};
  std::atomic<bool> secondOnSerial{false};
  auto first = source->then([&](const PRMObject& v) {
    firstOnMain = platform::DispatchQueue::main()->isCurrent();
    return v;
  });
  PRMPromise::setDefaultDispatchQueue(serial);
  EXPECT_EQ(PRMPromise::defaultDispatchQueue(), serial);
  auto second = source->then([&](const PRMObject& v) {
    secondOnSerial = serial->isCurrent();
    return v;
  });
  source->fulfill(1);
  ASSERT_TRUE(settle(first));
  ASSERT_TRUE(settle(second));
  EXPECT_TRUE(firstOnMain);
  EXPECT_TRUE(secondOnSerial);
}

TEST_F(PromiseCoreTest, TheDispatchGroupCountsPendingPromisesAndHandlers) {
  auto group = PRMPromise::dispatchGroup();
  const long before = group.count();
  {
    auto abandoned = PRMPromise::pendingPromise();
    EXPECT_EQ(group.count(), before + 1);
  }
  EXPECT_EQ(group.count(), before) << "a pending promise destroyed leaves the group";
  EXPECT_EQ(PRMPromise::resolvedWith(1)->isFulfilled(), true);
  EXPECT_EQ(group.count(), before) << "a promise born settled never enters";

  auto settledLater = PRMPromise::pendingPromise();
  settledLater->then([](const PRMObject& v) { return v; });
  settledLater->fulfill(1);
  // The chained promise and its handler task are still members until the handler ran.
  EXPECT_GT(group.count(), before);
  pump();
  EXPECT_EQ(group.count(), before);
}

TEST_F(PromiseCoreTest, MissingArgumentsAreReportedByName) {
  auto promise = PRMPromise::pendingPromise();
  const PRMPromise::Queue none;
  auto main = platform::DispatchQueue::main();
  auto ok = [](const PRMObject& v) { return v; };
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"queue", [&] { promise->thenOn(none, ok); }},
      {"queue", [&] { PRMPromise::setDefaultDispatchQueue(none); }},
      {"queue", [&] { promise->chainOnQueue(none, nullptr, nullptr); }},
      {"work", [&] { promise->then(nullptr); }},
      {"reject", [&] { promise->catch_(nullptr); }},
      {"onFulfill", [&] { promise->observeOnQueue(main, nullptr, [](const Error&) {}); }},
      {"onReject", [&] { promise->observeOnQueue(main, [](const PRMObject&) {}, nullptr); }},
      {"object", [&] { promise->addPendingObject(PRMObject()); }},
      {"work", [&] { PRMPromise::async(nullptr); }},
      {"recovery", [&] { promise->recover(nullptr); }},
      {"predicate", [&] { promise->validate(nullptr); }},
      {"reducer", [&] { promise->reduce({1}, nullptr); }},
      {"work", [&] { PRMPromise::wrapBoolCompletion(nullptr); }},
      {"promise", [&] { PRMPromiseAwait(nullptr); }},
  };
  for (const auto& [name, call] : cases) {
    EXPECT_EQ(thrownReason(call), "Invalid parameter not satisfying: " + name);
  }
  EXPECT_EQ(PRMPromise::defaultDispatchQueue(), main);
}

}  // namespace
}  // namespace prm_test
