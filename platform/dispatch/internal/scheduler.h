// The process-wide timer scheduler behind asyncAfter, DispatchTimer and the virtual
// clock. Entries are small "fire" callbacks that only post work to a queue; they run on
// the scheduler's own thread on real time, or inside VirtualClock::advance().
//
// fork(): the scheduler and the pool are made while the program starts, and hold their locks
// across fork() (pthread_atfork), so a child never inherits one held by a thread it does not
// have. Their threads are gone in the
// child; new ones start with its first timer or task. The child drops the parent's pending
// timers and queued pool tasks: they would touch objects whose locks the parent's threads
// may have held at the fork, and block the child's own work behind them. So the queues and
// timers of the parent are not for the child to use; it makes its own.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/queue.h"

namespace platform::internal {

using TimePoint = std::chrono::steady_clock::time_point;
using WallPoint = std::chrono::system_clock::time_point;

class TimerScheduler {
 public:
  static TimerScheduler& shared();

  // Fires `fire` at or after `deadline` (monotonic, virtual while a clock is), at the
  // latest `leeway` after it on real time. Returns an id for cancel().
  std::uint64_t schedule(TimePoint deadline, Duration leeway, Block fire);
  // Removes an entry that has not fired; returns whether it was still there.
  bool cancel(std::uint64_t id);

  TimePoint monotonicNow();
  WallPoint wallNow();
  bool isVirtual() const;
  void beginVirtual(std::optional<WallPoint> wallStart);
  void endVirtual();
  void advance(Duration by);

 private:
  TimerScheduler();
  void threadMain();
  void startThreadLocked();
  void eraseLocked(std::uint64_t id);
  static void beforeFork();
  static void afterForkInParent();
  static void afterForkInChild();

  struct Entry {
    TimePoint deadline;
    Duration leeway;
    Block fire;
  };

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::map<std::uint64_t, Entry> entries_;
  std::set<std::pair<TimePoint, std::uint64_t>> byDeadline_;
  std::set<std::pair<TimePoint, std::uint64_t>> byLatest_;   // deadline + leeway
  std::uint64_t nextId_ = 1;
  bool virtual_ = false;
  TimePoint virtualMonoStart_{};
  TimePoint virtualMonoNow_{};
  WallPoint virtualWallStart_{};
  bool threadRunning_ = false;
  bool inheritedEntries_ = false;   // in a forked child, until its first timer
};

// The shared worker pool. Starts a thread whenever work waits and no worker is idle, up
// to the number of cores; beyond that a monitor adds one more whenever work has waited
// for a while with every worker busy (blocked workers cannot starve the pool), up to a
// generous cap. Idle workers end after a while.
//
// A worker that has just run a task watches for the next one before it sleeps
// (hand_off_watch.h), and a task submitted while one watches is left to it, unannounced.
class ThreadPool {
 public:
  static ThreadPool& shared();
  void submit(Block task);

 private:
  ThreadPool();
  void workerMain();
  void monitorMain();
  void spawnLocked();
  static void beforeFork();
  static void afterForkInParent();
  static void afterForkInChild();

  std::mutex mutex_;
  std::condition_variable cv_;
  std::condition_variable monitorCv_;
  std::deque<Block> tasks_;
  int eagerThreads_;
  int threads_ = 0;
  int idle_ = 0;       // workers asleep on cv_
  int spinning_ = 0;   // workers watching for a hand-off; each looks at tasks_ before it sleeps
  std::atomic<std::size_t> queued_{0};   // tasks_.size(), for watchers outside the lock
  bool monitorRunning_ = false;
  bool inheritedTasks_ = false;   // in a forked child, until its first task
  std::uint64_t progress_ = 0;   // tasks taken so far
};

// The calling thread's stack of queues it is running blocks of (a sync() onto another
// queue pushes that queue on top).
class CurrentQueueScope {
 public:
  explicit CurrentQueueScope(const DispatchQueue* queue);
  ~CurrentQueueScope();
  CurrentQueueScope(const CurrentQueueScope&) = delete;
  CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;

  static bool contains(const DispatchQueue* queue);
  static const DispatchQueue* top();

 private:
  const DispatchQueue* queue_;
  CurrentQueueScope* previous_;
};

}  // namespace platform::internal
