#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/dispatch/clock.h"
#include "sdk-core/promises/promises.h"
#include "sdk-core/promises/tests/promise_test_support.h"

namespace prm_test {
namespace {

using platform::Error;
using Promises::AnyError;
using Promises::Maybe;
using Promises::Promise;
using Promises::PromiseError;

class TypedPromiseTest : public PromiseTest {};

TEST_F(TypedPromiseTest, OptionalsBecomeNilAndComeBackEmpty) {
  auto promise = Promise<std::optional<int>>::pending();
  promise.fulfill(std::nullopt);
  EXPECT_TRUE(promise.asObjCPromise()->isFulfilled());
  EXPECT_TRUE(promise.asObjCPromise()->value().isNil());
  EXPECT_FALSE(promise.value().has_value());

  auto nested = Promise<std::optional<std::optional<int>>>::pending();
  nested.fulfill(std::optional<int>());
  EXPECT_TRUE(nested.asObjCPromise()->value().isNil()) << "empty at any depth is nil";

  // A then step on an optional Value receives the empty optional.
  std::optional<int> seen = 99;
  promise.then([&](const std::optional<int>& value) { seen = value; });
  pump();
  EXPECT_FALSE(seen.has_value());
}

TEST_F(TypedPromiseTest, ErrorsConvertBothWays) {
  auto timedOut = Promise<int>::pending();
  timedOut.reject(PromiseError::timedOut);
  EXPECT_EQ(timedOut.asObjCPromise()->error(), Error("ziz.ozudor.PRMPromises.Error", 1));
  ASSERT_TRUE(timedOut.error().has_value());
  EXPECT_EQ(std::get<PromiseError>(*timedOut.error()), PromiseError::timedOut);

  auto other = Promise<int>::withError(testError(4));
  EXPECT_EQ(std::get<Error>(*other.error()), testError(4));
  EXPECT_EQ(Promises::errorObject(PromiseError::validationFailure), Error(PRMPromiseErrorDomain, 2));

  // An error object given as a value rejects.
  auto fromValue = Promise<Error>::pending();
  fromValue.fulfill(testError(6));
  EXPECT_TRUE(fromValue.isRejected());
  EXPECT_EQ(std::get<Error>(*fromValue.error()), testError(6));
}

TEST_F(TypedPromiseTest, TimeoutAndValidationReachHandlersAsPromiseErrors) {
  platform::VirtualClock clock;
  std::vector<AnyError> caught;
  auto neverSettled = Promise<int>::pending();   // held: the timer holds its promise weakly
  neverSettled.timeout(1.0).catch_([&](const AnyError& e) { caught.push_back(e); });
  auto three = Promise<int>::async([](auto fulfill, auto) { fulfill(3); });
  three.validate([](int v) { return v > 5; }).catch_([&](const AnyError& e) { caught.push_back(e); });
  auto throwing = three.validate([](int) -> bool { throw testError(4); });
  pump();
  clock.advance(1s);
  pump();
  ASSERT_EQ(caught.size(), 2u);
  EXPECT_EQ(std::get<PromiseError>(caught[0]), PromiseError::validationFailure);
  EXPECT_EQ(std::get<PromiseError>(caught[1]), PromiseError::timedOut);
  EXPECT_EQ(std::get<Error>(*throwing.error()), testError(4));
}

TEST_F(TypedPromiseTest, ThenHasThreeFormsAndThrownErrorsReject) {
  auto source = Promise<int>::async([](auto fulfill, auto) { fulfill(20); });
  Promise<std::string> text = source.then([](int v) { return std::to_string(v + 1); });
  Promise<double> followed = source.then([](int v) {
    return Promise<double>::async([v](auto fulfill, auto) { fulfill(v / 8.0); });
  });
  int sideEffect = 0;
  Promise<int> passedOn = source.then([&](int v) { sideEffect = v; });
  Promise<int> thrownError = source.then([](int) -> int { throw testError(8); });
  Promise<int> thrownException = source.then([](int) -> int { throw std::runtime_error("bad input"); });
  Promise<int> thrownPromiseError = source.then([](int) -> int { throw PromiseError::validationFailure; });
  pump();
  EXPECT_EQ(text.value(), "21");
  EXPECT_EQ(followed.value(), 2.5);
  EXPECT_EQ(passedOn.value(), 20);
  EXPECT_EQ(sideEffect, 20);
  EXPECT_EQ(std::get<Error>(*thrownError.error()), testError(8));
  const auto exceptionError = std::get<Error>(*thrownException.error());
  EXPECT_EQ(exceptionError.domain, "std::runtime_error");
  EXPECT_EQ(exceptionError.localizedDescription(), "bad input");
  EXPECT_EQ(std::get<PromiseError>(*thrownPromiseError.error()), PromiseError::validationFailure);
}

TEST_F(TypedPromiseTest, RecoverAlwaysAndDoFollowTheObjectLayer) {
  auto failed = Promise<int>::withError(testError(1));
  Promise<int> recovered = failed.recover([](const AnyError&) { return 5; });
  Promise<int> recoveredByPromise = failed.recover([](const AnyError&) { return Promise<int>::async([](auto f, auto) { f(6); }); });
  Promise<int> rethrown = failed.recover([](const AnyError& e) -> int { throw std::get<Error>(e); });
  int always = 0;
  Promise<int> kept = failed.always([&] { ++always; });
  Promise<std::string> done = Promise<std::string>::do_([] { return std::string("did"); });
  pump();
  EXPECT_EQ(recovered.value(), 5);
  EXPECT_EQ(recoveredByPromise.value(), 6);
  EXPECT_EQ(std::get<Error>(*rethrown.error()), testError(1));
  EXPECT_EQ(always, 1);
  EXPECT_TRUE(kept.isRejected());
  EXPECT_EQ(done.value(), "did");
}

TEST_F(TypedPromiseTest, ResolverRunsAtOnce) {
  bool ran = false;
  auto value = Promise<int>::withResolver([&] {
    ran = true;
    return 3;
  });
  EXPECT_TRUE(ran);
  EXPECT_EQ(value.value(), 3);
  EXPECT_TRUE(Promise<int>::withResolver([]() -> int { throw testError(2); }).isRejected());
  auto inner = Promise<int>::pending();
  auto wrapped = Promise<int>::withResolver([&] { return inner; });
  EXPECT_EQ(wrapped.asObjCPromise(), inner.asObjCPromise());
}

TEST_F(TypedPromiseTest, AllAnyAndRaceKeepTypesAndOrder) {
  auto number = Promise<int>::pending();
  auto word = Promise<std::string>::pending();
  auto pair = Promises::all(number, word);
  auto list = Promises::all(std::vector<Promise<int>>{number, Promise<int>::withResolver([] { return 2; })});
  auto maybes = Promises::any(std::vector<Promise<int>>{number, Promise<int>::withError(testError(3))});
  auto mixed = Promises::any(number, word);
  auto first = Promises::race(std::vector<Promise<std::string>>{word, Promise<std::string>::pending()});
  word.fulfill("w");
  pump();
  number.fulfill(1);
  pump();
  EXPECT_EQ(pair.value(), std::make_tuple(1, std::string("w")));
  EXPECT_EQ(list.value(), (std::vector<int>{1, 2}));
  ASSERT_TRUE(maybes.value().has_value());
  EXPECT_EQ(maybes.value()->at(0), Maybe<int>::fromValue(1));
  EXPECT_EQ(maybes.value()->at(1), Maybe<int>::fromError(testError(3)));
  ASSERT_TRUE(mixed.value().has_value());
  EXPECT_EQ(std::get<1>(*mixed.value()).value(), "w");
  EXPECT_EQ(first.value(), "w");
}

TEST_F(TypedPromiseTest, MaybeEquality) {
  EXPECT_EQ(Maybe<int>::fromValue(4), Maybe<int>::fromValue(4));
  EXPECT_NE(Maybe<int>::fromValue(4), Maybe<int>::fromValue(5));
  EXPECT_EQ(Maybe<int>::fromError(testError(1)), Maybe<int>::fromError(testError(1)));
  // A value never equals an error, even one holding the same error object.
  EXPECT_NE(Maybe<Error>::fromValue(testError(1)), Maybe<Error>::fromError(testError(1)));
  EXPECT_FALSE(Maybe<int>::fromError(testError(1)).value().has_value());
}

TEST_F(TypedPromiseTest, DescriptionsAndDefaultQueue) {
  EXPECT_EQ(Promise<int>::pending().description(), "Pending: int");
  EXPECT_EQ(Promise<std::string>::withResolver([] { return std::string("x"); }).description(), "Fulfilled: x");
  EXPECT_EQ(Promise<std::optional<int>>::withResolver([] { return std::optional<int>(); }).description(),
            "Fulfilled: nil");
  EXPECT_TRUE(Promise<int>::withError(testError(2)).description().starts_with("Rejected: Error Domain=test.domain Code=2"));

  auto serial = platform::DispatchQueue::makeSerial("test.typed");
  Promises::setPromisesDefaultDispatchQueue(serial);
  EXPECT_EQ(Promises::promisesDefaultDispatchQueue(), serial);
  std::atomic<bool> onSerial{false};
  auto done = Promise<int>::do_([&] {
    onSerial = serial->isCurrent();
    return 1;
  });
  ASSERT_TRUE(settle(done.asObjCPromise()));
  EXPECT_TRUE(onSerial);
}

TEST_F(TypedPromiseTest, ReduceChainsEveryStepNow) {
  auto sum = Promise<int>::withResolver([] { return 1; })
                 .reduce(std::vector<int>{2, 3, 4}, [](int partial, int item) {
                   return Promise<int>::withResolver([=] { return partial * 10 + item; });
                 });
  pump();
  EXPECT_EQ(sum.value(), 1234);
}

TEST_F(TypedPromiseTest, RetryAndWrapShapes) {
  int calls = 0;
  auto retried = Promise<int>::retry(2, 0.0, nullptr, [&] {
    ++calls;
    return calls < 3 ? Promise<int>::withError(testError(calls)) : Promise<int>::withResolver([] { return 9; });
  });
  auto value = Promise<int>::wrap([](std::function<void(int)> done) { done(4); });
  auto valueOrError = Promise<std::optional<int>>::wrapValueOrError(
      [](std::function<void(std::optional<int>, std::optional<Error>)> done) { done(1, testError(5)); });
  auto errorOrValue = Promise<std::string>::wrapErrorOrValue(
      [](std::function<void(std::optional<Error>, std::string)> done) { done(std::nullopt, "ok"); });
  using Pair = std::pair<std::optional<int>, std::optional<std::string>>;
  auto pair = Promise<Pair>::wrapPairOrError(
      [](std::function<void(std::optional<int>, std::optional<std::string>, std::optional<Error>)> done) {
        done(std::nullopt, "b", std::nullopt);
      });
  auto anything = Promise<PRMObject>::wrapAny([](PRMPromise::ObjectCompletion done) { done(PRMObject()); });
  ASSERT_TRUE(platform::MainLoop::runUntil([&] { return !retried.isPending(); }, 10s));
  pump();
  EXPECT_EQ(retried.value(), 9);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(value.value(), 4);
  EXPECT_EQ(std::get<Error>(*valueOrError.error()), testError(5));
  EXPECT_EQ(errorOrValue.value(), "ok");
  EXPECT_EQ(pair.value(), Pair(std::nullopt, "b"));
  EXPECT_TRUE(anything.isFulfilled());
}

TEST_F(TypedPromiseTest, QueueFormsRunTheirClosuresOnTheGivenQueue) {
  auto queue = platform::DispatchQueue::makeSerial("test.typed.queue");
  std::atomic<int> offQueue{0};
  auto check = [&] {
    if (!queue->isCurrent()) ++offQueue;
  };
  auto start = Promise<int>::async(queue, [&](auto fulfill, auto) {
    check();
    fulfill(1);
  });
  auto done = Promise<int>::do_(queue, [&] {
    check();
    return 2;
  });
  auto chained = start.then(queue, [&](int v) {
                        check();
                        return v + 1;
                      })
                     .validate(queue, [&](int) {
                       check();
                       return true;
                     })
                     .always(queue, check)
                     .then(queue, [&](int) -> int { throw testError(1); })
                     .catch_(queue, [&](const AnyError&) { check(); })
                     .recover(queue, [&](const AnyError&) {
                       check();
                       return 5;
                     })
                     .timeout(queue, 10)
                     .delay(queue, 0);
  auto wrapped = Promise<int>::wrap(queue, [&](std::function<void(int)> handler) {
    check();
    handler(3);
  });
  auto retried = Promise<int>::retry(queue, 0, 0, nullptr, [&] { return 4; });
  auto three = Promises::all(queue, start, done, wrapped);
  auto four = Promises::all(queue, start, done, wrapped, retried);
  auto list = Promises::all(queue, std::vector<Promise<int>>{start, done});
  auto maybes = Promises::any(queue, start, done, wrapped);
  auto first = Promises::race(queue, std::vector<Promise<int>>{done});
  ASSERT_TRUE(platform::MainLoop::runUntil(
      [&] {
        return !chained.isPending() && !three.isPending() && !four.isPending() && !list.isPending() &&
               !maybes.isPending() && !first.isPending();
      },
      10s));
  EXPECT_EQ(offQueue, 0);
  EXPECT_EQ(chained.value(), 5);
  EXPECT_EQ(three.value(), std::make_tuple(1, 2, 3));
  EXPECT_EQ(four.value(), std::make_tuple(1, 2, 3, 4));
  EXPECT_EQ(list.value(), (std::vector<int>{1, 2}));
  EXPECT_EQ(std::get<2>(*maybes.value()).value(), 3);
  EXPECT_EQ(first.value(), 2);
}

TEST_F(TypedPromiseTest, AwaitReturnsTheValueOrThrowsTheErrorObject) {
  auto later = Promise<int>::pending();
  std::thread worker([later] { later.fulfill(7); });
  EXPECT_EQ(Promises::awaitPromise(later), 7);
  worker.join();
  try {
    Promises::awaitPromise(Promise<int>::withError(PromiseError::timedOut));
    ADD_FAILURE() << "awaitPromise did not throw";
  } catch (const Error& error) {
    EXPECT_EQ(error, Error(PRMPromiseErrorDomain, 1));
  }
}

}  // namespace
}  // namespace prm_test
