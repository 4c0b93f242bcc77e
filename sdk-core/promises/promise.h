// PRMPromise: the SDK's promise object, a one-shot holder of a value or an error whose
// observers run on dispatch queues; with its combinators, completion wrappers and the
// blocking PRMPromiseAwait.
//
// A promise is pending, then fulfilled with a value (nil included) or rejected with an
// error, once; later fulfil/reject calls are ignored. Handlers never run inside the call
// that registers them or inside fulfill()/reject(): they are submitted to their queue
// (as members of the promises dispatch group). A promise following another (a block's
// result that is a promise) settles on the thread that settles the followed one, when it
// does; only its handlers go to their queues. Operations without a queue argument use
// the default queue current at the call: the main queue unless setDefaultDispatchQueue()
// changed it. Queue forms of the operations are named with an "On" suffix and take the
// queue first: then(work) / thenOn(queue, work). `catch` and `do` are spelled catch_ and
// do_; the retry forms with a count are attempts(...) / attemptsOn(...).
//
// Promises are held by std::shared_ptr; a chained promise is kept alive by the promise it
// waits on, so a chain lives as long as its first pending link is reachable (from the
// work that will settle it). Every member may be called from any thread.
//
// A missing required argument (null queue, empty block) throws platform::Exception named
// "NSInternalInconsistencyException" with "Invalid parameter not satisfying: <name>".
//
//   auto p = PRMPromise::async([](auto fulfill, auto reject) { fulfill(std::string("id")); });
//   p->then([](const PRMObject& id) { return PRMObject(*id.get<std::string>() + "!"); })
//    ->catch_([](const platform::Error& error) { log(error); });
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/group.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/error.h"
#include "sdk-core/promises/object.h"

// The promises error domain and its codes.
inline constexpr const char* PRMPromiseErrorDomain = "ziz.ozudor.PRMPromises.Error";
enum PRMPromiseErrorCode : long {
  PRMPromiseErrorCodeTimedOut = 1,
  PRMPromiseErrorCodeValidationFailure = 2,
};

class PRMPromise : public std::enable_shared_from_this<PRMPromise> {
 public:
  enum State : std::int64_t { Pending = 0, Fulfilled = 1, Rejected = 2 };

  using Ptr = std::shared_ptr<PRMPromise>;
  using Queue = std::shared_ptr<platform::DispatchQueue>;
  using FulfillHandler = std::function<void(const PRMObject& value)>;
  using RejectHandler = std::function<void(const platform::Error& error)>;
  using ChainedFulfill = std::function<PRMObject(const PRMObject& value)>;
  using ChainedReject = std::function<PRMObject(const platform::Error& error)>;
  // Given to async work: settles its promise (a promise argument is followed).
  using FulfillBlock = std::function<void(const PRMObject& value)>;
  using RejectBlock = std::function<void(const platform::Error& error)>;
  using AsyncWork = std::function<void(FulfillBlock fulfill, RejectBlock reject)>;
  using Work = std::function<PRMObject()>;
  using AlwaysWork = std::function<void()>;
  using Predicate = std::function<bool(const PRMObject& value)>;
  using Recovery = std::function<PRMObject(const platform::Error& error)>;
  using Reducer = std::function<PRMObject(const PRMObject& partial, const PRMObject& item)>;
  using RetryCondition = std::function<bool(std::int64_t remainingAttempts, const platform::Error& error)>;

  // ---- Class-wide state --------------------------------------------------------------
  static Queue defaultDispatchQueue();
  static void setDefaultDispatchQueue(Queue queue);
  // Entered by every promise made pending, left when it settles or is destroyed; every
  // handler task is a member. Waiting on it waits for all pending promises and handlers.
  static platform::DispatchGroup dispatchGroup();

  // ---- Making promises ---------------------------------------------------------------
  static Ptr pendingPromise();
  // Rejected when `resolution` is an error object, else fulfilled with it (nil included).
  static Ptr resolvedWith(PRMObject resolution);
  static std::function<Ptr()> pending();
  static std::function<Ptr(PRMObject)> resolved();

  PRMPromise(const PRMPromise&) = delete;
  PRMPromise& operator=(const PRMPromise&) = delete;
  ~PRMPromise();

  // ---- Settling ----------------------------------------------------------------------
  // Fulfils with the value; an error object rejects instead.
  void fulfill(const PRMObject& value);
  void reject(const platform::Error& error);
  // Rejects with an error object; anything else throws "Invalid error type." and leaves
  // the promise as it was.
  void reject(const PRMObject& error);
  // Keeps `object` alive until the promise settles; ignored once settled.
  void addPendingObject(const PRMObject& object);

  // ---- State -------------------------------------------------------------------------
  State state() const;
  bool isPending() const;
  bool isFulfilled() const;
  bool isRejected() const;
  PRMObject value() const;                       // nil unless fulfilled (and then maybe nil)
  std::optional<platform::Error> error() const;  // set only when rejected
  // "<PRMPromise 0x...> Fulfilled: <value>", "... Rejected: <error>", "... Pending".
  std::string description() const;

  // ---- Observing and chaining --------------------------------------------------------
  void observeOnQueue(const Queue& queue, FulfillHandler onFulfill, RejectHandler onReject);
  // A new promise settled from this one through the optional blocks: a block's result
  // that is a promise is followed, an error object rejects, anything else fulfils;
  // without a block the outcome passes unchanged.
  Ptr chainOnQueue(const Queue& queue, ChainedFulfill chainedFulfill, ChainedReject chainedReject);

  // Runs `work` on fulfilment; its result settles the new promise. A rejection skips it.
  Ptr then(ChainedFulfill work);
  Ptr thenOn(const Queue& queue, ChainedFulfill work);
  // Runs `reject` on rejection; the new promise settles exactly as this one.
  Ptr catch_(RejectHandler reject);
  Ptr catchOn(const Queue& queue, RejectHandler reject);

  // ---- Combinators -------------------------------------------------------------------
  // Fulfilled with the array of all values (nil as the null object) in input order, or
  // rejected with the first rejection observed. Plain values count as fulfilled; an
  // error object among them rejects at once.
  static Ptr all(std::vector<PRMObject> allPromises);
  static Ptr allOn(const Queue& queue, std::vector<PRMObject> allPromises);
  // Waits for every input; fulfilled with the array of values and errors when at least
  // one was fulfilled, else rejected with the last rejection observed.
  static Ptr any(std::vector<PRMObject> anyPromises);
  static Ptr anyOn(const Queue& queue, std::vector<PRMObject> anyPromises);
  // Settled by the first input to settle (a plain value wins at once). Empty: throws
  // "No promises to observe".
  static Ptr race(std::vector<PRMObject> promises);
  static Ptr raceOn(const Queue& queue, std::vector<PRMObject> promises);
  // Runs `work` on the queue with fulfil and reject blocks; the first call wins.
  static Ptr async(AsyncWork work);
  static Ptr asyncOn(const Queue& queue, AsyncWork work);
  // Runs `work` on the queue; its result settles the promise.
  static Ptr do_(Work work);
  static Ptr doOn(const Queue& queue, Work work);
  // Calls `work` now, then again after `delay` seconds while it fails, up to `attempts`
  // more times and while `condition` (given the remaining count) agrees.
  static Ptr retry(std::function<PRMObject()> work);
  static Ptr retryOn(const Queue& queue, std::function<PRMObject()> work);
  static Ptr attempts(std::int64_t count, std::function<PRMObject()> work);
  static Ptr attemptsOn(const Queue& queue, std::int64_t count, std::function<PRMObject()> work);
  static Ptr attempts(std::int64_t count, double delay, RetryCondition condition, std::function<PRMObject()> work);
  static Ptr attemptsOn(const Queue& queue, std::int64_t count, double delay, RetryCondition condition,
                        std::function<PRMObject()> work);

  // Runs `work` on either outcome; the outcome passes on unchanged.
  Ptr always(AlwaysWork work);
  Ptr alwaysOn(const Queue& queue, AlwaysWork work);
  // Delivers a fulfilment `interval` seconds late; a rejection at once.
  Ptr delay(double interval);
  Ptr delayOn(const Queue& queue, double interval);
  // Turns a rejection into the recovery's result.
  Ptr recover(Recovery recovery);
  Ptr recoverOn(const Queue& queue, Recovery recovery);
  // Folds the items into the value, one chained step per item.
  Ptr reduce(std::vector<PRMObject> items, Reducer reducer);
  Ptr reduceOn(const Queue& queue, std::vector<PRMObject> items, Reducer reducer);
  // Rejects with code 1 of the promises domain unless settled within `interval` seconds.
  Ptr timeout(double interval);
  Ptr timeoutOn(const Queue& queue, double interval);
  // Rejects with code 2 of the promises domain when the predicate answers false.
  Ptr validate(Predicate predicate);
  Ptr validateOn(const Queue& queue, Predicate predicate);

  // ---- Completion wrappers -----------------------------------------------------------
  // Each calls `work` on the queue with a completion handler of its shape and settles
  // the promise from the handler's first call.
  using Completion = std::function<void()>;
  using ObjectCompletion = std::function<void(const PRMObject&)>;
  using ErrorCompletion = std::function<void(const std::optional<platform::Error>&)>;
  using ObjectOrErrorCompletion = std::function<void(const PRMObject&, const std::optional<platform::Error>&)>;
  using ErrorOrObjectCompletion = std::function<void(const std::optional<platform::Error>&, const PRMObject&)>;
  using TwoObjectsOrErrorCompletion =
      std::function<void(const PRMObject&, const PRMObject&, const std::optional<platform::Error>&)>;
  using BoolCompletion = std::function<void(bool)>;
  using BoolOrErrorCompletion = std::function<void(bool, const std::optional<platform::Error>&)>;
  using IntegerCompletion = std::function<void(long)>;
  using IntegerOrErrorCompletion = std::function<void(long, const std::optional<platform::Error>&)>;
  using DoubleCompletion = std::function<void(double)>;
  using DoubleOrErrorCompletion = std::function<void(double, const std::optional<platform::Error>&)>;

  static Ptr wrapCompletion(std::function<void(Completion)> work);
  static Ptr wrapCompletionOn(const Queue& queue, std::function<void(Completion)> work);
  static Ptr wrapObjectCompletion(std::function<void(ObjectCompletion)> work);
  static Ptr wrapObjectCompletionOn(const Queue& queue, std::function<void(ObjectCompletion)> work);
  static Ptr wrapErrorCompletion(std::function<void(ErrorCompletion)> work);
  static Ptr wrapErrorCompletionOn(const Queue& queue, std::function<void(ErrorCompletion)> work);
  static Ptr wrapObjectOrErrorCompletion(std::function<void(ObjectOrErrorCompletion)> work);
  static Ptr wrapObjectOrErrorCompletionOn(const Queue& queue, std::function<void(ObjectOrErrorCompletion)> work);
  static Ptr wrapErrorOrObjectCompletion(std::function<void(ErrorOrObjectCompletion)> work);
  static Ptr wrapErrorOrObjectCompletionOn(const Queue& queue, std::function<void(ErrorOrObjectCompletion)> work);
  static Ptr wrap2ObjectsOrErrorCompletion(std::function<void(TwoObjectsOrErrorCompletion)> work);
  static Ptr wrap2ObjectsOrErrorCompletionOn(const Queue& queue,
                                             std::function<void(TwoObjectsOrErrorCompletion)> work);
  static Ptr wrapBoolCompletion(std::function<void(BoolCompletion)> work);
  static Ptr wrapBoolCompletionOn(const Queue& queue, std::function<void(BoolCompletion)> work);
  static Ptr wrapBoolOrErrorCompletion(std::function<void(BoolOrErrorCompletion)> work);
  static Ptr wrapBoolOrErrorCompletionOn(const Queue& queue, std::function<void(BoolOrErrorCompletion)> work);
  static Ptr wrapIntegerCompletion(std::function<void(IntegerCompletion)> work);
  static Ptr wrapIntegerCompletionOn(const Queue& queue, std::function<void(IntegerCompletion)> work);
  static Ptr wrapIntegerOrErrorCompletion(std::function<void(IntegerOrErrorCompletion)> work);
  static Ptr wrapIntegerOrErrorCompletionOn(const Queue& queue, std::function<void(IntegerOrErrorCompletion)> work);
  static Ptr wrapDoubleCompletion(std::function<void(DoubleCompletion)> work);
  static Ptr wrapDoubleCompletionOn(const Queue& queue, std::function<void(DoubleCompletion)> work);
  static Ptr wrapDoubleOrErrorCompletion(std::function<void(DoubleOrErrorCompletion)> work);
  static Ptr wrapDoubleOrErrorCompletionOn(const Queue& queue, std::function<void(DoubleOrErrorCompletion)> work);

 private:
  struct PassKey {};

 public:
  // Use pendingPromise() / resolvedWith(); public only for std::make_shared.
  explicit PRMPromise(PassKey);
  PRMPromise(PassKey, PRMObject resolution);

 private:
  // A handler waiting for the outcome: a node of the intrusive list of this promise's
  // observers, then the one block submitted to its queue. Each is one allocation.
  class Continuation;
  // A chained promise that holds the continuation settling it (then, catch and the like).
  class ChainLink;
  // A continuation that settles another promise with the outcome (following a promise).
  class Forward;
  // A continuation running a fulfil and a reject handler.
  class Handlers;

  void settle(State state, const PRMObject& resolution);
  // Schedules the continuation now when settled, else appends it to the observers; from
  // here on the promise or the queue owns it.
  void observe(Continuation* continuation);
  // Settles `chained` from a block's result, following a promise one level deep.
  static void resolveChained(const Queue& queue, const Ptr& chained, const PRMObject& result);

  mutable std::mutex mutex_;
  State state_ = Pending;
  std::unique_ptr<std::vector<PRMObject>> pendingObjects_;
  PRMObject outcome_;   // the value once fulfilled, the error object once rejected
  // The observers in registration order; the list owns them until they are scheduled.
  Continuation* firstObserver_ = nullptr;
  Continuation* lastObserver_ = nullptr;
};

// Blocks the calling thread until the promise settles; answers the value (nil when
// rejected) and writes the error, if any, to `error`. The promise's handlers run on the
// concurrent queue "ziz.ozudor.PRMPromises.Await", so the main thread may wait here as
// long as something else settles the promise. A null promise throws
// "Invalid parameter not satisfying: promise".
PRMObject PRMPromiseAwait(const PRMPromise::Ptr& promise, platform::Error* error = nullptr);
