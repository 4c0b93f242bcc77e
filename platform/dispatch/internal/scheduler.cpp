#include "platform/dispatch/internal/scheduler.h"
#include "platform/dispatch/internal/hand_off_watch.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_labels.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace platform::internal {

namespace {
constexpr int kMaxPoolThreads = 128;
constexpr auto kIdleWorkerLifetime = std::chrono::seconds(20);
constexpr auto kStarvationCheck = std::chrono::milliseconds(20);
thread_local CurrentQueueScope* tCurrentTop = nullptr;
}  // namespace

// ---------------------------------------------------------------------------------
// TimerScheduler

TimerScheduler& TimerScheduler::shared() {
  // Never destroyed: its thread may be waiting when the program exits.
  static TimerScheduler* scheduler = [] {
    auto* made = new TimerScheduler();
    pthread_atfork(&beforeFork, &afterForkInParent, &afterForkInChild);
    return made;
  }();
  return *scheduler;
}

TimerScheduler::TimerScheduler() = default;

// The fork handlers run on the forking thread and allocate nothing: the child may have
// inherited the allocator's locks from threads it does not have.
void TimerScheduler::beforeFork() { shared().mutex_.lock(); }

void TimerScheduler::afterForkInParent() { shared().mutex_.unlock(); }

void TimerScheduler::afterForkInChild() {
  auto& scheduler = shared();
  // The scheduler thread, which may have been waiting on cv_, does not exist here; a
  // fresh condition variable has no waiters to wait for.
  new (&scheduler.cv_) std::condition_variable();
  scheduler.threadRunning_ = false;
  scheduler.inheritedEntries_ = true;
  scheduler.mutex_.unlock();
}

void TimerScheduler::startThreadLocked() {
  if (threadRunning_) return;
  if (inheritedEntries_) {
    // A forked child drops the parent's timers: firing them would touch timers whose
    // locks a thread that is gone may hold, and block the child's own timers behind them.
    inheritedEntries_ = false;
    entries_.clear();
    byDeadline_.clear();
    byLatest_.clear();
  }
  std::thread([this] {
    ThreadEntered();
    threadMain();
  }).detach();
  threadRunning_ = true;
}

std::uint64_t TimerScheduler::schedule(TimePoint deadline, Duration leeway, Block fire) {
  if (leeway < Duration::zero()) leeway = Duration::zero();
  std::lock_guard lock(mutex_);
  startThreadLocked();
  const std::uint64_t id = nextId_++;
  entries_.emplace(id, Entry{deadline, leeway, std::move(fire)});
  byDeadline_.emplace(deadline, id);
  byLatest_.emplace(deadline + leeway, id);
  cv_.notify_all();
  return id;
}

void TimerScheduler::eraseLocked(std::uint64_t id) {
  auto it = entries_.find(id);
  if (it == entries_.end()) return;
  byDeadline_.erase({it->second.deadline, id});
  byLatest_.erase({it->second.deadline + it->second.leeway, id});
  entries_.erase(it);
}

bool TimerScheduler::cancel(std::uint64_t id) {
  std::lock_guard lock(mutex_);
  const bool present = entries_.count(id) != 0;
  eraseLocked(id);
  cv_.notify_all();
  return present;
}

void TimerScheduler::threadMain() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (virtual_ || byLatest_.empty()) {
      cv_.wait(lock);
      continue;
    }
    // Waking at the earliest "deadline + leeway" and then firing everything already
    // due lets timers with leeway share one wake-up without any firing early.
    const TimePoint wake = byLatest_.begin()->first;
    const TimePoint now = std::chrono::steady_clock::now();
    if (now < wake) {
      cv_.wait_until(lock, wake);
      continue;
    }
    std::vector<Block> due;
    while (!byDeadline_.empty() && byDeadline_.begin()->first <= now) {
      const std::uint64_t id = byDeadline_.begin()->second;
      due.push_back(std::move(entries_.at(id).fire));
      eraseLocked(id);
    }
    lock.unlock();
    for (auto& fire : due) fire();
    lock.lock();
  }
}

TimePoint TimerScheduler::monotonicNow() {
  std::lock_guard lock(mutex_);
  return virtual_ ? virtualMonoNow_ : std::chrono::steady_clock::now();
}

WallPoint TimerScheduler::wallNow() {
  std::lock_guard lock(mutex_);
  if (!virtual_) return std::chrono::system_clock::now();
  return virtualWallStart_ +
         std::chrono::duration_cast<std::chrono::system_clock::duration>(virtualMonoNow_ - virtualMonoStart_);
}

bool TimerScheduler::isVirtual() const {
  std::lock_guard lock(mutex_);
  return virtual_;
}

void TimerScheduler::beginVirtual(std::optional<WallPoint> wallStart) {
  std::lock_guard lock(mutex_);
  if (virtual_) throw std::logic_error("a VirtualClock is already active");
  virtual_ = true;
  virtualMonoStart_ = virtualMonoNow_ = std::chrono::steady_clock::now();
  virtualWallStart_ = wallStart.value_or(std::chrono::system_clock::now());
  cv_.notify_all();
}

void TimerScheduler::endVirtual() {
  std::lock_guard lock(mutex_);
  if (!virtual_) return;
  // Pending entries keep the delay they had left in virtual time.
  const TimePoint realNow = std::chrono::steady_clock::now();
  byDeadline_.clear();
  byLatest_.clear();
  for (auto& [id, entry] : entries_) {
    const auto remaining = std::max(Duration::zero(), Duration(entry.deadline - virtualMonoNow_));
    entry.deadline = realNow + remaining;
    byDeadline_.emplace(entry.deadline, id);
    byLatest_.emplace(entry.deadline + entry.leeway, id);
  }
  virtual_ = false;
  if (!entries_.empty()) startThreadLocked();
  cv_.notify_all();
}

void TimerScheduler::advance(Duration by) {
  std::unique_lock lock(mutex_);
  if (!virtual_) return;
  const TimePoint target = virtualMonoNow_ + std::max(by, Duration::zero());
  while (!byDeadline_.empty() && byDeadline_.begin()->first <= target) {
    const auto [deadline, id] = *byDeadline_.begin();
    Block fire = std::move(entries_.at(id).fire);
    eraseLocked(id);
    if (deadline > virtualMonoNow_) virtualMonoNow_ = deadline;
    lock.unlock();
    fire();
    lock.lock();
    if (!virtual_) return;
  }
  virtualMonoNow_ = target;
}

// ---------------------------------------------------------------------------------
// Hand-off watch

bool watchForHandOff(const std::atomic<std::size_t>& queued) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    for (int i = 0; i < 64; ++i) {
      if (queued.load(std::memory_order_acquire) != 0) return true;
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    }
    const auto spent = std::chrono::steady_clock::now() - start;
    if (spent >= kHandOffWatch) return false;
    if (spent >= kHandOffWatch / 8) std::this_thread::yield();
  }
}

// ---------------------------------------------------------------------------------
// ThreadPool

ThreadPool& ThreadPool::shared() {
  // Never destroyed: detached workers may still be running when the program exits.
  static ThreadPool* pool = [] {
    auto* made = new ThreadPool();
    pthread_atfork(&beforeFork, &afterForkInParent, &afterForkInChild);
    return made;
  }();
  return *pool;
}

ThreadPool::ThreadPool() : eagerThreads_(std::max(4, static_cast<int>(std::thread::hardware_concurrency()))) {}

void ThreadPool::beforeFork() { shared().mutex_.lock(); }

void ThreadPool::afterForkInParent() { shared().mutex_.unlock(); }

void ThreadPool::afterForkInChild() {
  auto& pool = shared();
  new (&pool.cv_) std::condition_variable();
  new (&pool.monitorCv_) std::condition_variable();
  pool.threads_ = 0;
  pool.idle_ = 0;
  pool.spinning_ = 0;
  pool.monitorRunning_ = false;
  pool.inheritedTasks_ = true;
  pool.mutex_.unlock();
}

void ThreadPool::spawnLocked() {
  ++threads_;
  std::thread([this] {
    ThreadEntered();
    workerMain();
  }).detach();
}

void ThreadPool::submit(Block task) {
  std::lock_guard lock(mutex_);
  if (inheritedTasks_) {
    // A forked child drops the parent's queued tasks, for the same reason as its timers.
    inheritedTasks_ = false;
    tasks_.clear();
    queued_.store(0, std::memory_order_relaxed);
  }
  if (!monitorRunning_) {
    std::thread([this] {
      ThreadEntered();
      monitorMain();
    }).detach();
    monitorRunning_ = true;
  }
  tasks_.push_back(std::move(task));
  const int waiting = static_cast<int>(tasks_.size());
  queued_.store(tasks_.size(), std::memory_order_release);
  // A watching worker takes the task without being woken: it looks at tasks_ under the
  // lock before it stops watching.
  if (waiting <= spinning_) return;
  const bool moreTasksThanIdleWorkers = waiting > idle_ + spinning_;
  if (moreTasksThanIdleWorkers && threads_ < eagerThreads_) {
    spawnLocked();
  } else {
    cv_.notify_one();
    // Only work that no idle worker is there to take can starve: the monitor is woken for
    // that alone, not on every hand-off (each wake is a thread switch on the hot path).
    // While it watches waiting work it checks again on its own every kStarvationCheck.
    if (moreTasksThanIdleWorkers) monitorCv_.notify_one();
  }
}

void ThreadPool::monitorMain() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (tasks_.empty()) {
      monitorCv_.wait(lock);
      continue;
    }
    // Work is waiting: if no worker takes any for a while, every worker is stuck.
    const std::uint64_t seen = progress_;
    const bool moved = monitorCv_.wait_for(lock, kStarvationCheck, [&] { return tasks_.empty() || progress_ != seen; });
    if (!moved && idle_ == 0 && threads_ < kMaxPoolThreads) spawnLocked();
  }
}

void ThreadPool::workerMain() {
  std::unique_lock lock(mutex_);
  bool ranTask = false;
  for (;;) {
    if (tasks_.empty() && ranTask) {
      ++spinning_;
      lock.unlock();
      watchForHandOff(queued_);
      lock.lock();
      --spinning_;
    }
    if (tasks_.empty()) {
      ++idle_;
      const bool woke = cv_.wait_for(lock, kIdleWorkerLifetime, [this] { return !tasks_.empty(); });
      --idle_;
      if (!woke) {
        --threads_;
        return;
      }
    }
    Block task = std::move(tasks_.front());
    tasks_.pop_front();
    queued_.store(tasks_.size(), std::memory_order_relaxed);
    ++progress_;
    lock.unlock();
    task();
    task = nullptr;   // release captures outside the lock
    ranTask = true;
    lock.lock();
  }
}

namespace {

// The scheduler and the pool are made, and their fork handlers registered, while the program
// starts, before any thread of ours exists. Made on first use instead, one could be half made
// when another thread forks (its handlers not yet registered, or its initialisation still
// under way on a thread the child does not have), and the child would wait forever on its
// lock or on its initialisation.
[[maybe_unused]] const bool kReadyForFork = (TimerScheduler::shared(), ThreadPool::shared(), true);

}  // namespace

// ---------------------------------------------------------------------------------
// CurrentQueueScope

CurrentQueueScope::CurrentQueueScope(const DispatchQueue* queue) : queue_(queue), previous_(tCurrentTop) {
  tCurrentTop = this;
  ThreadLabelSetCurrent(queue != nullptr ? queue->label().c_str() : nullptr);
}

CurrentQueueScope::~CurrentQueueScope() {
  tCurrentTop = previous_;
  ThreadLabelSetCurrent(previous_ != nullptr && previous_->queue_ != nullptr ? previous_->queue_->label().c_str()
                                                                             : nullptr);
}

bool CurrentQueueScope::contains(const DispatchQueue* queue) {
  for (auto* scope = tCurrentTop; scope != nullptr; scope = scope->previous_) {
    if (scope->queue_ == queue) return true;
  }
  return false;
}

const DispatchQueue* CurrentQueueScope::top() { return tCurrentTop ? tCurrentTop->queue_ : nullptr; }

}  // namespace platform::internal

// ---------------------------------------------------------------------------------
// Clock and VirtualClock

namespace platform {

using internal::TimerScheduler;

Duration secondsToDuration(double seconds) {
  if (!(seconds > 0)) return Duration::zero();
  const double ns = seconds * 1e9;
  if (ns >= static_cast<double>(Duration::max().count())) return Duration::max() / 2;
  return Duration(static_cast<Duration::rep>(ns));
}

std::chrono::steady_clock::time_point Clock::monotonicNow() { return TimerScheduler::shared().monotonicNow(); }
std::chrono::system_clock::time_point Clock::wallNow() { return TimerScheduler::shared().wallNow(); }
bool Clock::isVirtual() { return TimerScheduler::shared().isVirtual(); }

VirtualClock::VirtualClock(std::optional<std::chrono::system_clock::time_point> wallStart) {
  TimerScheduler::shared().beginVirtual(wallStart);
}
VirtualClock::~VirtualClock() { TimerScheduler::shared().endVirtual(); }
void VirtualClock::advance(Duration by) { TimerScheduler::shared().advance(by); }
std::chrono::steady_clock::time_point VirtualClock::monotonicNow() const { return TimerScheduler::shared().monotonicNow(); }
std::chrono::system_clock::time_point VirtualClock::wallNow() const { return TimerScheduler::shared().wallNow(); }

}  // namespace platform
