// The promise object: state, settling, observers, chaining, then and catch.
#include "sdk-core/promises/promise.h"

#include <cstdio>
#include <utility>

#include "sdk-core/promises/internal/assert.h"
#include "sdk-core/promises/internal/type_name.h"

using prm_internal::assertParameter;

namespace {

// The class-wide state is never destroyed: promises may settle on other threads while
// the program exits.
std::mutex& defaultQueueMutex() {
  static auto* mutex = new std::mutex();
  return *mutex;
}

PRMPromise::Queue& defaultQueueStorage() {
  static auto* queue = new PRMPromise::Queue(platform::DispatchQueue::main());
  return *queue;
}

// The promises dispatch group, without a copy of its handle per use.
platform::DispatchGroup& group() {
  static auto* group = new platform::DispatchGroup();
  return *group;
}

}  // namespace

// ---- Continuations ---------------------------------------------------------------------

class PRMPromise::Continuation {
 public:
  explicit Continuation(Queue queue) : queue_(std::move(queue)) {}
  Continuation(const Continuation&) = delete;
  Continuation& operator=(const Continuation&) = delete;

  // Submits the continuation to its queue with the outcome, as a member of the group. The
  // block holds only this node, so submitting it allocates nothing.
  void schedule(State state, const PRMObject& resolution) {
    state_ = state;
    resolution_ = resolution;
    group().enter();
    queue_->async([continuation = this] { continuation->runScheduled(); });
  }
  // Gives the continuation up unrun: its promise went away while pending.
  void discard() { release(); }
  // Whether it runs on the thread that settles its promise rather than as a block of its
  // queue; see Forward.
  virtual bool runsInline() const { return false; }
  // Runs it now, on this thread, and gives it up.
  void runInline(State state, const PRMObject& resolution) {
    struct Finish {
      Continuation* continuation;
      ~Finish() { continuation->release(); }
    } finish{this};
    run(state, resolution);
  }

  Continuation* next = nullptr;   // the promise's next observer

 protected:
  virtual ~Continuation() = default;
  const Queue& queue() const { return queue_; }
  virtual void run(State state, const PRMObject& resolution) = 0;
  // Drops the reference the observer list, then the submitted block, held (and with it the
  // handlers); may destroy the continuation.
  virtual void release() = 0;

 private:
  void runScheduled() {
    struct Finish {
      Continuation* continuation;
      ~Finish() {
        continuation->release();
        group().leave();
      }
    } finish{this};
    run(state_, resolution_);
  }

  Queue queue_;
  State state_ = Pending;
  PRMObject resolution_;
};

class PRMPromise::ChainLink final : public PRMPromise, public PRMPromise::Continuation {
 public:
  ChainLink(const Queue& queue, ChainedFulfill chainedFulfill, ChainedReject chainedReject)
      : PRMPromise(PassKey{}),
        PRMPromise::Continuation(queue),
        chainedFulfill_(std::move(chainedFulfill)),
        chainedReject_(std::move(chainedReject)) {}

  // The link keeps itself alive while it observes and while it is queued.
  void hold(Ptr self) { self_ = std::move(self); }

 private:
  void run(State state, const PRMObject& resolution) override {
    PRMObject result;
    if (state == Fulfilled) {
      result = chainedFulfill_ ? chainedFulfill_(resolution) : resolution;
    } else {
      result = chainedReject_ ? chainedReject_(*resolution.error()) : resolution;
    }
    resolveChained(queue(), self_, result);
  }

  void release() override {
    chainedFulfill_ = nullptr;
    chainedReject_ = nullptr;
    Ptr self = std::move(self_);
  }

  ChainedFulfill chainedFulfill_;
  ChainedReject chainedReject_;
  Ptr self_;
};

// Settling the target calls nothing of the program's (the target's observers still go to
// their own queues), so it is done where the followed promise settles: a block of its own
// on the queue would only add a hop, and a wake-up of the queue's thread, between the two.
// Past a few nested forwards on one stack it takes its queue again, so that a long chain of
// promises following promises cannot exhaust the stack.
class PRMPromise::Forward final : public PRMPromise::Continuation {
 public:
  Forward(const Queue& queue, Ptr target) : Continuation(queue), target_(std::move(target)) {}

  bool runsInline() const override { return depth < kMaxInlineDepth; }

 private:
  static constexpr int kMaxInlineDepth = 32;
  static thread_local inline int depth = 0;

  void run(State state, const PRMObject& resolution) override {
    ++depth;
    struct Leave {
      ~Leave() { --depth; }
    } leave;
    if (state == Fulfilled) {
      target_->fulfill(resolution);
    } else {
      target_->reject(*resolution.error());
    }
  }
  void release() override { delete this; }

  Ptr target_;
};

class PRMPromise::Handlers final : public PRMPromise::Continuation {
 public:
  Handlers(const Queue& queue, FulfillHandler onFulfill, RejectHandler onReject)
      : Continuation(queue), onFulfill_(std::move(onFulfill)), onReject_(std::move(onReject)) {}

 private:
  void run(State state, const PRMObject& resolution) override {
    if (state == Fulfilled) {
      onFulfill_(resolution);
    } else {
      onReject_(*resolution.error());
    }
  }
  void release() override { delete this; }

  FulfillHandler onFulfill_;
  RejectHandler onReject_;
};

PRMPromise::Queue PRMPromise::defaultDispatchQueue() {
  std::lock_guard lock(defaultQueueMutex());
  return defaultQueueStorage();
}

void PRMPromise::setDefaultDispatchQueue(Queue queue) {
  assertParameter(queue != nullptr, "queue");
  std::lock_guard lock(defaultQueueMutex());
  defaultQueueStorage() = std::move(queue);
}

platform::DispatchGroup PRMPromise::dispatchGroup() { return group(); }

PRMPromise::Ptr PRMPromise::pendingPromise() { return std::make_shared<PRMPromise>(PassKey{}); }

PRMPromise::Ptr PRMPromise::resolvedWith(PRMObject resolution) {
  return std::make_shared<PRMPromise>(PassKey{}, std::move(resolution));
}

std::function<PRMPromise::Ptr()> PRMPromise::pending() {
  return [] { return pendingPromise(); };
}

std::function<PRMPromise::Ptr(PRMObject)> PRMPromise::resolved() {
  return [](PRMObject resolution) { return resolvedWith(std::move(resolution)); };
}

PRMPromise::PRMPromise(PassKey) { group().enter(); }

PRMPromise::PRMPromise(PassKey, PRMObject resolution)
    : state_(resolution.isError() ? Rejected : Fulfilled), outcome_(std::move(resolution)) {}

PRMPromise::~PRMPromise() {
  if (state_ == Pending) group().leave();
  for (Continuation* observer = firstObserver_; observer != nullptr;) {
    Continuation* next = observer->next;
    observer->discard();
    observer = next;
  }
}

void PRMPromise::fulfill(const PRMObject& value) {
  if (const auto* error = value.error()) {
    reject(*error);
    return;
  }
  settle(Fulfilled, value);
}

void PRMPromise::reject(const platform::Error& error) { settle(Rejected, PRMObject(error)); }

void PRMPromise::reject(const PRMObject& error) {
  if (!error.isError()) prm_internal::assertionFailure("Invalid error type.");
  settle(Rejected, error);
}

void PRMPromise::settle(State state, const PRMObject& resolution) {
  std::unique_ptr<std::vector<PRMObject>> released;
  // The continuations that run here, in registration order, once the lock is given up.
  Continuation* firstInline = nullptr;
  Continuation** inlineTail = &firstInline;
  {
    std::lock_guard lock(mutex_);
    if (state_ != Pending) return;
    state_ = state;
    outcome_ = resolution;
    released = std::move(pendingObjects_);
    // Submitted in registration order, under the lock, so that an observer added meanwhile
    // on another thread comes after them.
    Continuation* observer = std::exchange(firstObserver_, nullptr);
    lastObserver_ = nullptr;
    while (observer != nullptr) {
      Continuation* next = std::exchange(observer->next, nullptr);
      if (observer->runsInline()) {
        *inlineTail = observer;
        inlineTail = &observer->next;
      } else {
        observer->schedule(state, resolution);  // from here the block owns it
      }
      observer = next;
    }
    group().leave();
  }
  while (firstInline != nullptr) {
    Continuation* next = std::exchange(firstInline->next, nullptr);
    firstInline->runInline(state, resolution);
    firstInline = next;
  }
}

void PRMPromise::observe(Continuation* continuation) {
  std::unique_lock lock(mutex_);
  if (state_ != Pending) {
    if (continuation->runsInline()) {
      const State state = state_;
      const PRMObject outcome = outcome_;
      lock.unlock();
      continuation->runInline(state, outcome);
      return;
    }
    continuation->schedule(state_, outcome_);
    return;
  }
  if (lastObserver_ != nullptr) {
    lastObserver_->next = continuation;
  } else {
    firstObserver_ = continuation;
  }
  lastObserver_ = continuation;
}

void PRMPromise::addPendingObject(const PRMObject& object) {
  assertParameter(!object.isNil(), "object");
  std::lock_guard lock(mutex_);
  if (state_ != Pending) return;
  if (!pendingObjects_) pendingObjects_ = std::make_unique<std::vector<PRMObject>>();
  pendingObjects_->push_back(object);
}

PRMPromise::State PRMPromise::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}
bool PRMPromise::isPending() const { return state() == Pending; }
bool PRMPromise::isFulfilled() const { return state() == Fulfilled; }
bool PRMPromise::isRejected() const { return state() == Rejected; }

PRMObject PRMPromise::value() const {
  std::lock_guard lock(mutex_);
  return state_ == Fulfilled ? outcome_ : PRMObject();
}

std::optional<platform::Error> PRMPromise::error() const {
  std::lock_guard lock(mutex_);
  if (state_ != Rejected) return std::nullopt;
  return *outcome_.error();
}

std::string PRMPromise::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  std::string text = "<";
  text.append(prm_internal::unqualifiedTypeName(typeid(*this))).append(" ").append(address).append("> ");
  std::lock_guard lock(mutex_);
  switch (state_) {
    case Fulfilled:
      return text.append("Fulfilled: ").append(outcome_.description());
    case Rejected:
      return text.append("Rejected: ").append(outcome_.description());
    case Pending:
      break;
  }
  return text.append("Pending");
}

void PRMPromise::observeOnQueue(const Queue& queue, FulfillHandler onFulfill, RejectHandler onReject) {
  assertParameter(queue != nullptr, "queue");
  assertParameter(static_cast<bool>(onFulfill), "onFulfill");
  assertParameter(static_cast<bool>(onReject), "onReject");
  observe(new Handlers(queue, std::move(onFulfill), std::move(onReject)));
}

void PRMPromise::resolveChained(const Queue& queue, const Ptr& chained, const PRMObject& result) {
  if (auto followed = result.promise()) {
    followed->observe(new Forward(queue, chained));
  } else {
    chained->fulfill(result);
  }
}

PRMPromise::Ptr PRMPromise::chainOnQueue(const Queue& queue, ChainedFulfill chainedFulfill,
                                         ChainedReject chainedReject) {
  assertParameter(queue != nullptr, "queue");
  auto link = std::make_shared<ChainLink>(queue, std::move(chainedFulfill), std::move(chainedReject));
  link->hold(link);
  observe(link.get());
  return link;
}

PRMPromise::Ptr PRMPromise::then(ChainedFulfill work) { return thenOn(defaultDispatchQueue(), std::move(work)); }

PRMPromise::Ptr PRMPromise::thenOn(const Queue& queue, ChainedFulfill work) {
  assertParameter(queue != nullptr, "queue");
  assertParameter(static_cast<bool>(work), "work");
  return chainOnQueue(queue, std::move(work), nullptr);
}

PRMPromise::Ptr PRMPromise::catch_(RejectHandler reject) { return catchOn(defaultDispatchQueue(), std::move(reject)); }

PRMPromise::Ptr PRMPromise::catchOn(const Queue& queue, RejectHandler reject) {
  assertParameter(queue != nullptr, "queue");
  assertParameter(static_cast<bool>(reject), "reject");
  return chainOnQueue(queue, nullptr, [reject = std::move(reject)](const platform::Error& error) {
    reject(error);
    return PRMObject(error);
  });
}
