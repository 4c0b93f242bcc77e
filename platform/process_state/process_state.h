// The process-wide state of our libraries, and the one way to put it back.
//
// A few things live once per process: the defaults suites already read, the main bundle and
// the data directory, the SDK's configured app and component registry, log sinks, probes and
// the like. Whoever moves such state away from what a fresh process has adds, once, the
// function that puts it back; `resetProcessState()` runs them all. The program never calls
// it: a test environment does, before and after each test, so no test depends on what an
// earlier one left behind.
//
//   void setSink(Sink sink) {
//     platform::addProcessStateReset(+[] { gSink = nullptr; });
//     gSink = std::move(sink);
//   }
//
// A value that is simply replaced and read is a ProcessValue, which adds its own reset:
//
//   platform::ProcessValue<Sink> gSink;          // a fresh process has Sink{}
//   void setSink(Sink sink) { gSink.set(std::move(sink)); }
//
// Threads: adding is safe from any thread, and so are a ProcessValue's get() and set().
// Resetting is for a quiet process: nothing else may use the state while it runs.
#pragma once

#include <functional>
#include <mutex>
#include <utility>

namespace platform {

using ProcessStateReset = void (*)();

// Adds `reset` to the process's list; adding the same function again does nothing.
void addProcessStateReset(ProcessStateReset reset);
// Adds `reset` under `owner`, an address that names it; adding for the same owner again does
// nothing. The owner must live as long as the process (a static object).
void addProcessStateReset(const void* owner, std::function<void()> reset);

// Runs every reset added so far, the most recently added first. The list is kept: putting
// back state that is already fresh does nothing.
void resetProcessState();

// A process-wide value that goes back to what a fresh process has when the process state is
// reset. Declare it static (at namespace scope or in a function); it adds its reset on the
// first set().
template <typename T>
class ProcessValue {
 public:
  ProcessValue() = default;
  explicit ProcessValue(T fresh) : fresh_(fresh), value_(std::move(fresh)) {}
  ProcessValue(const ProcessValue&) = delete;
  ProcessValue& operator=(const ProcessValue&) = delete;

  T get() const {
    std::lock_guard lock(mutex_);
    return value_;
  }

  void set(T value) {
    addReset();
    std::lock_guard lock(mutex_);
    value_ = std::move(value);
  }

  // The value, made first with `make()` while it is still what a fresh process has: a shared
  // object made on first use, and made anew after a reset. `make` runs under the value's lock,
  // so it must not read this value.
  template <typename Make>
  T getOrMake(Make&& make) {
    addReset();
    std::lock_guard lock(mutex_);
    if (value_ == fresh_) value_ = make();
    return value_;
  }

 private:
  // Once per value: the list keeps its resets, so later calls need not look it through.
  void addReset() {
    std::call_once(resetAdded_, [this] {
      addProcessStateReset(this, [this] {
        [[maybe_unused]] T old = [this] {
          std::lock_guard lock(mutex_);
          return std::exchange(value_, fresh_);
        }();
        // `old` goes here, outside the lock: its destructor may use other process values.
      });
    });
  }

  std::once_flag resetAdded_;
  mutable std::mutex mutex_;
  const T fresh_{};
  T value_{};
};

}  // namespace platform
