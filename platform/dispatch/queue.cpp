#include "platform/dispatch/queue.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/dispatch/internal/hand_off_watch.h"
#include "platform/dispatch/internal/scheduler.h"
#include "platform/dispatch/submission_count.h"

namespace platform {

using internal::CurrentQueueScope;
using internal::ThreadPool;
using internal::TimerScheduler;

namespace {

// Long delays are capped so that "now + delay" cannot overflow.
constexpr Duration kMaxDelay = std::chrono::hours(24 * 365 * 100);
// A serial queue gives its pool thread back after this many blocks in a row.
constexpr int kSerialBatch = 64;

std::atomic<std::uint64_t> gSubmittedBlocks{0};
void countSubmission() { gSubmittedBlocks.fetch_add(1, std::memory_order_relaxed); }

// ---------------------------------------------------------------------------------
// Main queue and loop state

struct MainState {
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<Block> queue;
  std::atomic<std::size_t> queued{0};   // queue.size(), for a hand-off watch outside the lock
  bool stopRequested = false;
  int runDepth = 0;
  std::vector<std::pair<MainLoop::ObserverId, Block>> observers;
  MainLoop::ObserverId nextObserverId = 1;
  std::atomic<std::thread::id> mainThread{std::this_thread::get_id()};
  std::atomic<std::thread::id> pumpingThread{};
  int pumpDepth = 0;   // touched only by the pumping thread
};

MainState& mainState();

// Held across fork() so that the child never inherits it locked by a thread it does not
// have; the child gets a fresh condition variable, and the pump of a thread that is gone
// is forgotten. These handlers allocate nothing.
void mainStateBeforeFork() { mainState().mutex.lock(); }
void mainStateAfterForkInParent() { mainState().mutex.unlock(); }
void mainStateAfterForkInChild() {
  auto& s = mainState();
  new (&s.cv) std::condition_variable();
  if (s.pumpingThread.load() != std::this_thread::get_id()) {
    s.pumpingThread.store(std::thread::id{});
    s.pumpDepth = 0;
  }
  s.mutex.unlock();
}

MainState& mainState() {
  static MainState* state = [] {
    auto* made = new MainState();
    pthread_atfork(&mainStateBeforeFork, &mainStateAfterForkInParent, &mainStateAfterForkInChild);
    return made;
  }();
  return *state;
}
// Captures the thread that runs static initialisation (the program's main thread).
[[maybe_unused]] const bool kMainStateReady = (mainState(), true);

class MainQueue final : public DispatchQueue {
 public:
  MainQueue() : DispatchQueue("ruv.dispatch.main", Kind::Main) {}

 protected:
  void enqueue(Block block) override {
    auto& s = mainState();
    {
      std::lock_guard lock(s.mutex);
      s.queue.push_back(std::move(block));
      s.queued.store(s.queue.size(), std::memory_order_release);
    }
    s.cv.notify_all();
  }

  void syncImpl(const Block& block) override {
    if (MainLoop::isMainThread() || CurrentQueueScope::contains(this)) throw DispatchDeadlock(label());
    struct Handoff {
      std::mutex mutex;
      std::condition_variable cv;
      bool done = false;
      std::exception_ptr error;
    };
    auto handoff = std::make_shared<Handoff>();
    enqueue([handoff, &block] {
      try {
        block();
      } catch (...) {
        handoff->error = std::current_exception();
      }
      std::lock_guard lock(handoff->mutex);
      handoff->done = true;
      handoff->cv.notify_all();
    });
    std::unique_lock lock(handoff->mutex);
    handoff->cv.wait(lock, [&] { return handoff->done; });
    if (handoff->error) std::rethrow_exception(handoff->error);
  }
};

class SerialQueue final : public DispatchQueue {
 public:
  explicit SerialQueue(std::string label) : DispatchQueue(std::move(label), Kind::Serial) {}

 protected:
  void enqueue(Block block) override {
    std::lock_guard lock(mutex_);
    blocks_.push_back(std::move(block));
    if (!scheduled_) {
      scheduled_ = true;
      scheduleDrain();
    }
  }

  void syncImpl(const Block& block) override {
    if (CurrentQueueScope::contains(this)) throw DispatchDeadlock(label());
    // Wait for our turn in the FIFO, then run the block on this thread while the
    // queue's worker holds its place, so that the caller's queue stack stays intact.
    struct Handoff {
      std::mutex mutex;
      std::condition_variable cv;
      bool turn = false;
      bool done = false;
    };
    auto handoff = std::make_shared<Handoff>();
    enqueue([handoff] {
      std::unique_lock lock(handoff->mutex);
      handoff->turn = true;
      handoff->cv.notify_all();
      handoff->cv.wait(lock, [&] { return handoff->done; });
    });
    {
      std::unique_lock lock(handoff->mutex);
      handoff->cv.wait(lock, [&] { return handoff->turn; });
    }
    std::exception_ptr error;
    {
      CurrentQueueScope scope(this);
      try {
        block();
      } catch (...) {
        error = std::current_exception();
      }
    }
    {
      std::lock_guard lock(handoff->mutex);
      handoff->done = true;
      handoff->cv.notify_all();
    }
    if (error) std::rethrow_exception(error);
  }

 private:
  void scheduleDrain() {
    auto self = std::static_pointer_cast<SerialQueue>(shared_from_this());
    ThreadPool::shared().submit([self] { self->drainSome(); });
  }

  void drainSome() {
    CurrentQueueScope scope(this);
    for (int i = 0; i < kSerialBatch; ++i) {
      Block block;
      {
        std::lock_guard lock(mutex_);
        if (blocks_.empty()) {
          scheduled_ = false;
          return;
        }
        block = std::move(blocks_.front());
        blocks_.pop_front();
      }
      block();
    }
    std::lock_guard lock(mutex_);
    if (blocks_.empty()) {
      scheduled_ = false;
    } else {
      scheduleDrain();
    }
  }

  std::mutex mutex_;
  std::deque<Block> blocks_;
  bool scheduled_ = false;
};

class ConcurrentQueue final : public DispatchQueue {
 public:
  explicit ConcurrentQueue(std::string label) : DispatchQueue(std::move(label), Kind::Concurrent) {}

 protected:
  void enqueue(Block block) override {
    auto self = shared_from_this();
    ThreadPool::shared().submit([self, block = std::move(block)] {
      CurrentQueueScope scope(self.get());
      block();
    });
  }

  void syncImpl(const Block& block) override {
    CurrentQueueScope scope(this);
    block();
  }
};

// Pumping bookkeeping: one thread at a time, re-entrant on that thread.
class PumpScope {
 public:
  PumpScope() {
    auto& s = mainState();
    const auto me = std::this_thread::get_id();
    std::thread::id expected{};
    if (!s.pumpingThread.compare_exchange_strong(expected, me) && expected != me) {
      throw std::logic_error("the main loop is already being pumped on another thread");
    }
    s.mainThread.store(me);
    ++s.pumpDepth;
  }
  ~PumpScope() {
    auto& s = mainState();
    if (--s.pumpDepth == 0) s.pumpingThread.store(std::thread::id{});
  }
  PumpScope(const PumpScope&) = delete;
  PumpScope& operator=(const PumpScope&) = delete;
};

void runObservers() {
  auto& s = mainState();
  std::vector<std::pair<MainLoop::ObserverId, Block>> snapshot;
  {
    std::lock_guard lock(s.mutex);
    snapshot = s.observers;
  }
  for (auto& [id, observer] : snapshot) {
    bool stillRegistered;
    {
      std::lock_guard lock(s.mutex);
      stillRegistered = false;
      for (auto& entry : s.observers) stillRegistered = stillRegistered || entry.first == id;
    }
    if (stillRegistered && observer) observer();
  }
}

// One turn: runs blocks until the queue is empty (or run() was asked to stop), then the
// observers when at least one block ran. Returns whether a block ran.
bool runTurn(bool honourStop) {
  auto& s = mainState();
  const DispatchQueue* main = DispatchQueue::main().get();
  bool ran = false;
  for (;;) {
    Block block;
    {
      std::lock_guard lock(s.mutex);
      if (s.queue.empty() || (honourStop && s.stopRequested)) break;
      block = std::move(s.queue.front());
      s.queue.pop_front();
      s.queued.store(s.queue.size(), std::memory_order_relaxed);
    }
    ran = true;
    CurrentQueueScope scope(main);
    block();
  }
  if (ran) runObservers();
  return ran;
}

}  // namespace

// ---------------------------------------------------------------------------------
// DispatchDeadlock and DispatchQueue

DispatchDeadlock::DispatchDeadlock(const std::string& label)
    : std::logic_error("sync onto queue '" + label + "' from a block it is running would deadlock") {}

DispatchQueue::DispatchQueue(std::string label, Kind kind) : label_(std::move(label)), kind_(kind) {}
DispatchQueue::~DispatchQueue() = default;

std::shared_ptr<DispatchQueue> DispatchQueue::main() {
  static auto* queue = new std::shared_ptr<DispatchQueue>(std::make_shared<MainQueue>());
  return *queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::global(QoS qos) {
  static auto* queues = new std::vector<std::shared_ptr<DispatchQueue>>{
      std::make_shared<ConcurrentQueue>("ruv.dispatch.global.user-interactive"),
      std::make_shared<ConcurrentQueue>("ruv.dispatch.global.user-initiated"),
      std::make_shared<ConcurrentQueue>("ruv.dispatch.global.default"),
      std::make_shared<ConcurrentQueue>("ruv.dispatch.global.utility"),
      std::make_shared<ConcurrentQueue>("ruv.dispatch.global.background"),
  };
  return (*queues)[static_cast<std::size_t>(qos)];
}

std::shared_ptr<DispatchQueue> DispatchQueue::makeSerial(std::string label) {
  return std::make_shared<SerialQueue>(std::move(label));
}

std::shared_ptr<DispatchQueue> DispatchQueue::makeConcurrent(std::string label) {
  return std::make_shared<ConcurrentQueue>(std::move(label));
}

std::shared_ptr<DispatchQueue> DispatchQueue::current() {
  const DispatchQueue* top = CurrentQueueScope::top();
  return top ? const_cast<DispatchQueue*>(top)->shared_from_this() : nullptr;
}

void DispatchQueue::async(Block block) {
  if (!block) return;
  countSubmission();
  enqueue(std::move(block));
}

void DispatchQueue::asyncAfter(Duration delay, Block block) {
  if (!block) return;
  countSubmission();
  delay = std::clamp(delay, Duration::zero(), kMaxDelay);
  auto self = shared_from_this();
  auto& scheduler = TimerScheduler::shared();
  scheduler.schedule(scheduler.monotonicNow() + delay, Duration::zero(),
                     [self, block = std::move(block)]() mutable { self->enqueue(std::move(block)); });
}

void DispatchQueue::sync(const Block& block) {
  if (!block) return;
  countSubmission();
  syncImpl(block);
}

std::uint64_t dispatchedBlockCount() { return gSubmittedBlocks.load(std::memory_order_relaxed); }

bool DispatchQueue::isCurrent() const { return CurrentQueueScope::contains(this); }

// ---------------------------------------------------------------------------------
// MainLoop

void MainLoop::run() {
  PumpScope pump;
  auto& s = mainState();
  for (bool ran = false;;) {
    if (ran) internal::watchForHandOff(s.queued);
    {
      std::unique_lock lock(s.mutex);
      s.cv.wait(lock, [&] { return s.stopRequested || !s.queue.empty(); });
      if (s.stopRequested) {
        s.stopRequested = false;
        return;
      }
    }
    ran = runTurn(/*honourStop=*/true);
  }
}

void MainLoop::stop() {
  auto& s = mainState();
  {
    std::lock_guard lock(s.mutex);
    s.stopRequested = true;
  }
  s.cv.notify_all();
}

bool MainLoop::runUntil(const std::function<bool()>& condition, Duration timeout) {
  PumpScope pump;
  auto& s = mainState();
  constexpr auto kPoll = std::chrono::milliseconds(2);
  const auto deadline = std::chrono::steady_clock::now() + std::clamp(timeout, Duration::zero(), kMaxDelay);
  // Blocks the condition waits for usually follow the ones just run (or the caller's own
  // request) within a hand-off watch, which the loop keeps before it sleeps.
  for (bool watch = true;;) {
    if (condition()) return true;
    if (runTurn(/*honourStop=*/false)) {
      if (condition()) return true;
      watch = true;
    }
    if (watch) {
      watch = false;
      if (internal::watchForHandOff(s.queued)) continue;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return condition();
    std::unique_lock lock(s.mutex);
    s.cv.wait_until(lock, std::min(deadline, now + kPoll), [&] { return !s.queue.empty(); });
  }
}

void MainLoop::drain() {
  PumpScope pump;
  auto& s = mainState();
  for (;;) {
    runTurn(/*honourStop=*/false);
    std::lock_guard lock(s.mutex);
    if (s.queue.empty()) return;
  }
}

MainLoop::ObserverId MainLoop::addTurnEndObserver(Block observer) {
  auto& s = mainState();
  std::lock_guard lock(s.mutex);
  const ObserverId id = s.nextObserverId++;
  s.observers.emplace_back(id, std::move(observer));
  return id;
}

void MainLoop::removeTurnEndObserver(ObserverId id) {
  auto& s = mainState();
  std::lock_guard lock(s.mutex);
  std::erase_if(s.observers, [id](const auto& entry) { return entry.first == id; });
}

bool MainLoop::isMainThread() { return mainState().mainThread.load() == std::this_thread::get_id(); }

}  // namespace platform
