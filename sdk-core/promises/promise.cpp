// The promise object: state, settling, observers, chaining, then and catch.
#include "sdk-core/promises/promise.h"

#include <cstdio>

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

// Submits `handler` to the queue as a member of the group, in one block.
template <class Handler>
void submitInGroup(const PRMPromise::Queue& queue, Handler&& handler) {
  group().enter();
  queue->async([handler = std::forward<Handler>(handler)]() mutable {
    struct Leave {
      ~Leave() { group().leave(); }
    } leave;
    handler();
  });
}

}  // namespace

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

PRMPromise::PRMPromise(PassKey, PRMObject resolution) {
  if (const auto* error = resolution.error()) {
    state_ = Rejected;
    error_ = *error;
  } else {
    state_ = Fulfilled;
    value_ = std::move(resolution);
  }
}

PRMPromise::~PRMPromise() {
  if (state_ == Pending) group().leave();
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
  std::lock_guard lock(mutex_);
  if (state_ != Pending) return;
  state_ = state;
  if (state == Fulfilled) {
    value_ = resolution;
  } else {
    error_ = *resolution.error();
  }
  pendingObjects_.reset();
  if (observers_) {
    for (auto& observer : *observers_) observer(state, resolution);
    observers_.reset();
  }
  group().leave();
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
  return value_;
}

std::optional<platform::Error> PRMPromise::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

std::string PRMPromise::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  std::string text = "<";
  text.append(prm_internal::unqualifiedTypeName(typeid(*this))).append(" ").append(address).append("> ");
  std::lock_guard lock(mutex_);
  switch (state_) {
    case Fulfilled:
      return text.append("Fulfilled: ").append(value_.description());
    case Rejected:
      return text.append("Rejected: ").append(PRMObject(*error_).description());
    case Pending:
      break;
  }
  return text.append("Pending");
}

void PRMPromise::observeOnQueue(const Queue& queue, FulfillHandler onFulfill, RejectHandler onReject) {
  assertParameter(queue != nullptr, "queue");
  assertParameter(static_cast<bool>(onFulfill), "onFulfill");
  assertParameter(static_cast<bool>(onReject), "onReject");
  std::lock_guard lock(mutex_);
  switch (state_) {
    case Fulfilled:
      submitInGroup(queue, [onFulfill = std::move(onFulfill), value = value_] { onFulfill(value); });
      return;
    case Rejected:
      submitInGroup(queue, [onReject = std::move(onReject), error = *error_] { onReject(error); });
      return;
    case Pending:
      break;
  }
  if (!observers_) observers_ = std::make_unique<std::vector<Observer>>();
  observers_->push_back([queue, onFulfill = std::move(onFulfill), onReject = std::move(onReject)](
                            State state, const PRMObject& resolution) mutable {
    // An observer runs once: its handlers move into the submitted block.
    if (state == Fulfilled) {
      submitInGroup(queue, [onFulfill = std::move(onFulfill), resolution] { onFulfill(resolution); });
    } else {
      submitInGroup(queue, [onReject = std::move(onReject), error = *resolution.error()] { onReject(error); });
    }
  });
}

PRMPromise::Ptr PRMPromise::chainOnQueue(const Queue& queue, ChainedFulfill chainedFulfill,
                                         ChainedReject chainedReject) {
  assertParameter(queue != nullptr, "queue");
  Ptr chained = pendingPromise();
  // Settles `chained` from a block's result, following a promise one level deep.
  auto resolve = [queue, chained](const PRMObject& result) {
    if (auto followed = result.promise()) {
      followed->observeOnQueue(
          queue, [chained](const PRMObject& value) { chained->fulfill(value); },
          [chained](const platform::Error& error) { chained->reject(error); });
    } else {
      chained->fulfill(result);
    }
  };
  observeOnQueue(
      queue,
      [resolve, chainedFulfill = std::move(chainedFulfill)](const PRMObject& value) {
        resolve(chainedFulfill ? chainedFulfill(value) : value);
      },
      [resolve, chainedReject = std::move(chainedReject)](const platform::Error& error) {
        resolve(chainedReject ? chainedReject(error) : PRMObject(error));
      });
  return chained;
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
