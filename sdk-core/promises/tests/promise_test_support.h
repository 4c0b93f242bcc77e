// Shared helpers for the promise tests: a fixture that pumps the main queue (the default
// promise queue) and resets the library's class-wide state after each test.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/dispatch/queue.h"
#include "sdk-core/promises/promise.h"

namespace prm_test {

using namespace std::chrono_literals;

class PromiseTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::MainLoop::drain(); }
  void TearDown() override {
    PRMPromise::setDefaultDispatchQueue(platform::DispatchQueue::main());
    platform::MainLoop::drain();
  }

  // Runs every handler the main queue has (and whatever they post).
  static void pump() { platform::MainLoop::drain(); }
  // Pumps until the promise settles (handlers on other queues included).
  static bool settle(const PRMPromise::Ptr& promise) {
    return platform::MainLoop::runUntil([&] { return !promise->isPending(); }, 10s);
  }
};

inline platform::Error testError(long code) { return platform::Error("test.domain", code); }

inline int intValue(const PRMObject& object) {
  const int* value = object.get<int>();
  return value ? *value : -999;
}

// The message of the platform::Exception that `fn` throws, or "" when none.
template <class Fn>
std::string thrownReason(Fn&& fn) {
  try {
    fn();
  } catch (const platform::Exception& exception) {
    return exception.reason();
  }
  return "";
}

}  // namespace prm_test
