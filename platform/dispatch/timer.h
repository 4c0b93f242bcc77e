// Dispatch timers: a handler submitted to a queue once or repeatedly.
//
// A timer is made suspended. schedule() sets when it fires; resume() arms it. A one-shot
// timer (interval zero) fires once per schedule(); a repeating one fires every interval
// after the start. Leeway lets the timer fire up to that much late, so that timers close
// together fire in one wake-up; it never fires early. On a VirtualClock the timer fires
// exactly at its deadlines during VirtualClock::advance().
//
// The timer is owned by std::shared_ptr; the caller must keep it, and cancel() it when
// done (destroying the last reference stops it, without the cancel handler). A handler that has been
// submitted but not yet run is dropped when the timer is suspended or cancelled first.
//
// Thread-safe: every member may be called from any thread, the handler included.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/dispatch/queue.h"

namespace platform {

class DispatchTimer : public std::enable_shared_from_this<DispatchTimer> {
 public:
  static std::shared_ptr<DispatchTimer> make(std::shared_ptr<DispatchQueue> queue);
  ~DispatchTimer();
  DispatchTimer(const DispatchTimer&) = delete;
  DispatchTimer& operator=(const DispatchTimer&) = delete;

  void setEventHandler(Block handler);
  // Runs on the queue once after cancel().
  void setCancelHandler(Block handler);
  // First fire `start` from now, then every `interval` (zero: one-shot).
  void schedule(Duration start, Duration interval = Duration::zero(), Duration leeway = Duration::zero());
  void resume();
  void suspend();
  // Stops the timer for good. Idempotent.
  void cancel();
  bool isCancelled() const;
  // How many times the handler has been submitted.
  std::uint64_t fireCount() const;

 private:
  explicit DispatchTimer(std::shared_ptr<DispatchQueue> queue);
  void arm();      // with mutex_ held
  void disarm();   // with mutex_ held
  void fired(std::uint64_t generation);

  mutable std::mutex mutex_;
  std::shared_ptr<DispatchQueue> queue_;
  std::shared_ptr<Block> handler_;
  Block cancelHandler_;
  std::chrono::steady_clock::time_point nextDeadline_{};
  Duration interval_{};
  Duration leeway_{};
  bool scheduled_ = false;
  bool resumed_ = false;
  bool cancelled_ = false;
  std::uint64_t generation_ = 0;   // bumps on every (re)arm and disarm
  std::uint64_t epoch_ = 0;        // bumps on suspend and cancel: drops submitted handlers
  std::uint64_t entry_ = 0;        // scheduler entry, 0 when none
  std::uint64_t fires_ = 0;
};

}  // namespace platform
