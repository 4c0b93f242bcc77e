// Run-once initialisation that can be reset (for settings that a reset call or a test
// must be able to rebuild). Thread-safe: concurrent callers wait for the first to finish.
// When the block throws, the flag stays unset and the exception reaches the caller.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/dispatch/queue.h"

namespace platform {

class OnceFlag {
 public:
  OnceFlag() = default;
  OnceFlag(const OnceFlag&) = delete;
  OnceFlag& operator=(const OnceFlag&) = delete;

  // Runs the block unless it already ran since construction or the last reset().
  void call(const Block& block);
  // Lets the next call() run its block again. Waits for a call() in progress.
  void reset();
  bool done() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  bool running_ = false;
};

}  // namespace platform
