// Dispatch queues and the main loop.
//
// A DispatchQueue runs blocks: the main queue on the main thread whenever the main loop
// is pumped, a serial queue one block at a time in FIFO order on the shared thread pool,
// a concurrent queue (global() or makeConcurrent()) many at once on that pool. Queues are
// held by std::shared_ptr; a queue with blocks pending stays alive until they have run.
//
// The main loop belongs to one thread at a time: the thread that pumps it (run, runUntil
// or drain) is the main thread from then on; before anything pumps, the thread that
// started the program is. The app's main thread calls run(); tests call runUntil() or
// drain() on the test thread, or run() on a fixture thread. Posting to the main queue
// from any thread wakes a loop blocked in run(). Pumping from a second thread while one
// pumps throws std::logic_error; pumping again inside a main-queue block is allowed.
//
// An exception escaping a main-queue block leaves run/runUntil/drain (what is still
// queued stays for the next turn); one escaping a block on any other queue ends the
// program, as a fault in the block should.
//
// Example:
//   auto queue = platform::DispatchQueue::makeSerial("ruv.example.Worker");
//   queue->async([] { doWork(); });
//   platform::DispatchQueue::main()->asyncAfter(std::chrono::seconds(2), [] { showToast(); });
//   platform::MainLoop::runUntil([&] { return done; }, std::chrono::seconds(5));
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/dispatch/clock.h"

namespace platform {

using Block = std::function<void()>;

// Quality-of-service classes of the global pool. They are recorded and otherwise
// ignored: every class shares one pool.
enum class QoS { UserInteractive, UserInitiated, Default, Utility, Background };

// Thrown by DispatchQueue::sync() when the caller is already running on that serial
// queue (directly or through an outer sync), which would otherwise hang for ever.
class DispatchDeadlock : public std::logic_error {
 public:
  explicit DispatchDeadlock(const std::string& label);
};

class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
 public:
  enum class Kind { Main, Serial, Concurrent };

  virtual ~DispatchQueue();
  DispatchQueue(const DispatchQueue&) = delete;
  DispatchQueue& operator=(const DispatchQueue&) = delete;

  // The main queue, drained by MainLoop on the main thread. Label "ruv.dispatch.main".
  static std::shared_ptr<DispatchQueue> main();
  // The shared concurrent pool; one queue object per QoS class.
  static std::shared_ptr<DispatchQueue> global(QoS qos = QoS::Default);
  // A new serial queue.
  static std::shared_ptr<DispatchQueue> makeSerial(std::string label);
  // A new concurrent queue on the shared pool.
  static std::shared_ptr<DispatchQueue> makeConcurrent(std::string label);
  // The queue whose block the calling thread is running, or nullptr.
  static std::shared_ptr<DispatchQueue> current();

  // Submits a block; returns at once. An empty block is ignored.
  void async(Block block);
  // Submits a block once `delay` has passed on Clock::monotonicNow().
  void asyncAfter(Duration delay, Block block);
  // Runs the block on this queue and waits for it; an exception from the block is
  // rethrown here. Throws DispatchDeadlock when the caller already runs on this serial
  // queue or, for the main queue, when the caller is the main thread. A concurrent queue
  // runs the block on the calling thread.
  void sync(const Block& block);
  // sync() returning the block's result.
  template <class F>
  auto syncResult(F&& fn) -> std::invoke_result_t<F&> {
    using R = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<R>) {
      sync([&] { fn(); });
    } else {
      std::optional<R> out;
      sync([&] { out.emplace(fn()); });
      return std::move(*out);
    }
  }

  // Whether the calling thread is running a block of this queue (also inside a sync()).
  bool isCurrent() const;
  const std::string& label() const { return label_; }
  Kind kind() const { return kind_; }

 protected:
  DispatchQueue(std::string label, Kind kind);
  virtual void enqueue(Block block) = 0;
  virtual void syncImpl(const Block& block) = 0;

 private:
  std::string label_;
  Kind kind_;
};

class MainLoop {
 public:
  using ObserverId = std::uint64_t;

  // Runs turns until stop(). A stop() while no run() is active ends the next run().
  static void run();
  // Asks run() to return after the block it is running.
  static void stop();
  // Pumps the main queue until `condition` holds or `timeout` of real time has passed;
  // returns the condition's last answer. The condition is checked before and after
  // every turn, and every few milliseconds while idle.
  static bool runUntil(const std::function<bool()>& condition, Duration timeout);
  // Runs everything queued now, including what that posts, until the queue is empty,
  // then the turn-end observers; repeats while the observers posted more.
  static void drain();

  // Observers run on the main thread, in the order added, at the end of every turn that
  // ran at least one block. They may add or remove observers and post blocks.
  static ObserverId addTurnEndObserver(Block observer);
  static void removeTurnEndObserver(ObserverId id);

  static bool isMainThread();
};

}  // namespace platform
