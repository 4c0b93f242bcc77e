#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "sdk-core/promises/promise.h"
#include "sdk-core/promises/tests/promise_test_support.h"

namespace prm_test {
namespace {

using platform::Error;
using Ptr = PRMPromise::Ptr;

class CompletionWrapperTest : public PromiseTest {};

// What a wrapped promise settled with, in one comparable line.
std::string outcome(const Ptr& promise) {
  if (promise->isPending()) return "pending";
  if (auto error = promise->error()) return "rejected " + std::to_string(error->code);
  return "fulfilled " + promise->value().description() + " as " +
         (promise->value().isNil() ? "nil" : promise->value().type().name());
}

TEST_F(CompletionWrapperTest, EveryShapeSettlesFromItsHandler) {
  const std::optional<Error> none;
  const std::optional<Error> failure = testError(5);
  const std::string text = std::string("text");
  struct Case {
    const char* name;
    std::function<Ptr()> make;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"plain", [] { return PRMPromise::wrapCompletion([](auto done) { done(); }); }, "fulfilled (null) as nil"},
      {"object", [&] { return PRMPromise::wrapObjectCompletion([&](auto done) { done(text); }); },
       "fulfilled text as " + std::string(typeid(std::string).name())},
      {"object given an error", [] { return PRMPromise::wrapObjectCompletion([](auto done) { done(testError(3)); }); },
       "rejected 3"},
      {"error nil", [&] { return PRMPromise::wrapErrorCompletion([&](auto done) { done(none); }); },
       "fulfilled (null) as nil"},
      {"error", [&] { return PRMPromise::wrapErrorCompletion([&](auto done) { done(failure); }); }, "rejected 5"},
      {"object or error, both", [&] {
         return PRMPromise::wrapObjectOrErrorCompletion([&](auto done) { done(text, failure); });
       }, "rejected 5"},
      {"object or error, object", [&] {
         return PRMPromise::wrapObjectOrErrorCompletion([&](auto done) { done(PRMObject(), none); });
       }, "fulfilled (null) as nil"},
      {"error or object, both", [&] {
         return PRMPromise::wrapErrorOrObjectCompletion([&](auto done) { done(failure, text); });
       }, "rejected 5"},
      {"error or object, object", [&] {
         return PRMPromise::wrapErrorOrObjectCompletion([&](auto done) { done(none, 4); });
       }, "fulfilled 4 as " + std::string(typeid(int).name())},
      {"two objects", [&] {
         return PRMPromise::wrap2ObjectsOrErrorCompletion([&](auto done) { done(PRMObject(), text, none); });
       }, "fulfilled (<null>, text) as " + std::string(typeid(std::vector<PRMObject>).name())},
      {"two objects, error", [&] {
         return PRMPromise::wrap2ObjectsOrErrorCompletion([&](auto done) { done(1, 2, failure); });
       }, "rejected 5"},
      {"bool NO", [] { return PRMPromise::wrapBoolCompletion([](auto done) { done(false); }); },
       "fulfilled 0 as " + std::string(typeid(bool).name())},
      {"bool or error", [&] { return PRMPromise::wrapBoolOrErrorCompletion([&](auto done) { done(true, failure); }); },
       "rejected 5"},
      {"integer", [] { return PRMPromise::wrapIntegerCompletion([](auto done) { done(-3); }); },
       "fulfilled -3 as " + std::string(typeid(long).name())},
      {"integer or error", [&] { return PRMPromise::wrapIntegerOrErrorCompletion([&](auto done) { done(8, none); }); },
       "fulfilled 8 as " + std::string(typeid(long).name())},
      {"double", [] { return PRMPromise::wrapDoubleCompletion([](auto done) { done(2.5); }); },
       "fulfilled 2.5 as " + std::string(typeid(double).name())},
      {"double or error", [&] { return PRMPromise::wrapDoubleOrErrorCompletion([&](auto done) { done(1.0, failure); }); },
       "rejected 5"},
  };
  for (const auto& c : cases) {
    auto promise = c.make();
    EXPECT_TRUE(promise->isPending()) << c.name << ": the work runs later, on the queue";
    pump();
    EXPECT_EQ(outcome(promise), c.expected) << c.name;
  }
}

TEST_F(CompletionWrapperTest, TheFirstHandlerCallWinsAndAnUncalledHandlerLeavesItPending) {
  auto twice = PRMPromise::wrapIntegerOrErrorCompletion([](auto done) {
    done(1, std::nullopt);
    done(2, testError(1));
  });
  auto never = PRMPromise::wrapCompletion([](auto) {});
  pump();
  EXPECT_EQ(outcome(twice), "fulfilled 1 as " + std::string(typeid(long).name()));
  EXPECT_TRUE(never->isPending());
}

TEST_F(CompletionWrapperTest, HandlersMayBeCalledLaterFromAnyThread) {
  std::thread worker;
  auto queue = platform::DispatchQueue::makeSerial("test.wrap");
  auto promise = PRMPromise::wrapObjectCompletionOn(queue, [&](PRMPromise::ObjectCompletion done) {
    EXPECT_TRUE(queue->isCurrent());
    worker = std::thread([done] { done(std::string("late")); });
  });
  ASSERT_TRUE(settle(promise));
  queue->sync([] {});   // the work block has stored the thread
  worker.join();
  EXPECT_EQ(*promise->value().get<std::string>(), "late");
}

}  // namespace
}  // namespace prm_test
