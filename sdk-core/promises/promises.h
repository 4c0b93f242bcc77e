// The typed promise front (module Promises): Promise<Value> over PRMPromise.
//
// A Promise<Value> is a handle on one PRMPromise (copies share it). Operations take typed
// closures and convert at the border: a Value becomes a PRMObject (an empty optional, at
// any depth, becomes nil), and a stored object is read back as Value (an exact type
// match, numbers across arithmetic types, nil or the null object as an empty optional,
// arrays element by element). The object layer does all settling and scheduling, so the
// rules of PRMPromise hold: handlers run on their queue, never inline; the queue defaults
// to promisesDefaultDispatchQueue() (the main queue unless set).
//
// Closures may throw. A thrown platform::Error rejects with that error; a PromiseError
// with its error object; a platform::Exception with an error whose domain is the
// exception's name; any other std::exception with an error whose domain is its type name
// (code 0, the message as localized description). A closure's result that is an error
// object rejects; a Promise result is followed. A stored object that does not convert to
// the Value a closure needs is a programming error; the step then rejects with the
// platform::Exception "NSInternalInconsistencyException" converted as above.
//
// Errors reach typed handlers as AnyError: PromiseError for the promises domain's codes 1
// and 2, otherwise the error object unchanged.
//
//   Promises::Promise<int> count = Promises::Promise<int>::async(
//       [](auto fulfill, auto reject) { fulfill(3); });
//   count.then([](int n) { return std::to_string(n); })
//        .catch_([](const Promises::AnyError& error) { ... });
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "sdk-core/promises/internal/assert.h"
#include "sdk-core/promises/internal/type_name.h"
#include "sdk-core/promises/promise.h"

namespace Promises {

using Queue = PRMPromise::Queue;

// ---- Errors ----------------------------------------------------------------------------

// The promise library's own failures; as error objects: domain PRMPromiseErrorDomain,
// code 1 (timedOut) or 2 (validationFailure), no user information.
enum class PromiseError { timedOut = 1, validationFailure = 2 };

platform::Error errorObject(PromiseError error);

using AnyError = std::variant<PromiseError, platform::Error>;

// Error object to typed error: codes 1 and 2 of the promises domain become PromiseError.
AnyError typedError(const platform::Error& error);
// Typed error to error object.
platform::Error errorObject(const AnyError& error);
// The error object for the exception being handled (call inside a catch block).
platform::Error errorFromCurrentException();

// ---- Maybe -----------------------------------------------------------------------------

// One entry of any(): a value or an error object.
template <class Value>
class Maybe {
 public:
  static Maybe fromValue(Value value) { return Maybe(std::in_place_index<0>, std::move(value)); }
  static Maybe fromError(platform::Error error) { return Maybe(std::in_place_index<1>, std::move(error)); }

  std::optional<Value> value() const {
    return storage_.index() == 0 ? std::optional<Value>(std::get<0>(storage_)) : std::nullopt;
  }
  std::optional<platform::Error> error() const {
    return storage_.index() == 1 ? std::optional<platform::Error>(std::get<1>(storage_)) : std::nullopt;
  }

  friend bool operator==(const Maybe& a, const Maybe& b)
    requires requires(const Value& x) { x == x; }
  {
    if (a.storage_.index() != b.storage_.index()) return false;
    if (a.storage_.index() == 0) return std::get<0>(a.storage_) == std::get<0>(b.storage_);
    return std::get<1>(a.storage_) == std::get<1>(b.storage_);
  }

 private:
  template <std::size_t I, class T>
  Maybe(std::in_place_index_t<I> tag, T&& v) : storage_(tag, std::forward<T>(v)) {}
  std::variant<Value, platform::Error> storage_;
};

// ---- Conversions -----------------------------------------------------------------------

template <class T>
struct Bridge {
  static PRMObject toObject(const T& value) { return PRMObject(value); }
  static std::optional<T> fromObject(const PRMObject& object) {
    if (const auto* exact = object.get<T>()) return *exact;
    if constexpr (std::is_arithmetic_v<T>) return object.number<T>();
    return std::nullopt;
  }
};

template <class U>
struct Bridge<std::optional<U>> {
  static PRMObject toObject(const std::optional<U>& value) {
    return value ? Bridge<U>::toObject(*value) : PRMObject();
  }
  static std::optional<std::optional<U>> fromObject(const PRMObject& object) {
    if (object.isNil() || object.isNull()) return std::optional<std::optional<U>>(std::in_place);
    if (auto inner = Bridge<U>::fromObject(object)) return std::optional<U>(std::move(*inner));
    return std::nullopt;
  }
};

template <>
struct Bridge<PRMObject> {
  static PRMObject toObject(const PRMObject& value) { return value; }
  static std::optional<PRMObject> fromObject(const PRMObject& object) {
    return object.isNil() ? PRMObject::null() : object;
  }
};

template <class U>
struct Bridge<std::vector<U>> {
  static PRMObject toObject(const std::vector<U>& values) {
    std::vector<PRMObject> objects;
    objects.reserve(values.size());
    for (const auto& v : values) {
      PRMObject object = Bridge<U>::toObject(v);
      objects.push_back(object.isNil() ? PRMObject::null() : std::move(object));
    }
    return PRMObject(std::move(objects));
  }
  static std::optional<std::vector<U>> fromObject(const PRMObject& object) {
    if (const auto* exact = object.get<std::vector<U>>()) return *exact;
    const auto* objects = object.array();
    if (!objects) return std::nullopt;
    std::vector<U> values;
    values.reserve(objects->size());
    for (const auto& entry : *objects) {
      auto value = Bridge<U>::fromObject(entry);
      if (!value) return std::nullopt;
      values.push_back(std::move(*value));
    }
    return values;
  }
};

namespace detail {

// The stored object as a Value; a mismatch is a programming error.
template <class Value>
Value requireValue(const PRMObject& object) {
  if (auto value = Bridge<Value>::fromObject(object)) return std::move(*value);
  prm_internal::assertionFailure("Promise value of type " + prm_internal::typeName(object.type()) +
                                 " does not convert to " + prm_internal::typeName(typeid(Value)));
}

}  // namespace detail

// ---- Default queue ---------------------------------------------------------------------

inline Queue promisesDefaultDispatchQueue() { return PRMPromise::defaultDispatchQueue(); }
inline void setPromisesDefaultDispatchQueue(Queue queue) { PRMPromise::setDefaultDispatchQueue(std::move(queue)); }

// ---- Promise ---------------------------------------------------------------------------

template <class Value>
class Promise;

namespace detail {
template <class T>
struct IsPromise : std::false_type {};
template <class V>
struct IsPromise<Promise<V>> : std::true_type {};

// The Value of a Promise type.
template <class T>
struct PromiseValue;
template <class V>
struct PromiseValue<Promise<V>> {
  using type = V;
};

// A closure result as an object: a Promise is followed through its object promise.
template <class R>
PRMObject resultObject(R&& result) {
  using D = std::decay_t<R>;
  if constexpr (IsPromise<D>::value) {
    return PRMObject(result.asObjCPromise());
  } else {
    return Bridge<D>::toObject(result);
  }
}

// Runs `fn`, turning a thrown exception into an error object.
template <class Fn>
PRMObject guarded(Fn&& fn) {
  try {
    return fn();
  } catch (...) {
    return PRMObject(errorFromCurrentException());
  }
}

// The Value type a closure's result settles a promise with.
template <class R, class Fallback>
using SettledType = std::conditional_t<std::is_void_v<R>, Fallback,
                                       typename std::conditional_t<IsPromise<R>::value, PromiseValue<R>,
                                                                   std::type_identity<R>>::type>;
}  // namespace detail

template <class Value>
class Promise {
 public:
  using ValueType = Value;

  // Settles a promise: with a Value, or by following another Promise of the same type.
  class Fulfill {
   public:
    explicit Fulfill(PRMPromise::FulfillBlock block) : block_(std::move(block)) {}
    void operator()(const Value& value) const { block_(Bridge<Value>::toObject(value)); }
    void operator()(const Promise& promise) const { block_(PRMObject(promise.asObjCPromise())); }

   private:
    PRMPromise::FulfillBlock block_;
  };
  class Reject {
   public:
    explicit Reject(PRMPromise::RejectBlock block) : block_(std::move(block)) {}
    void operator()(const AnyError& error) const { block_(errorObject(error)); }

   private:
    PRMPromise::RejectBlock block_;
  };

  // Wraps an object promise; a null one is a programming error.
  explicit Promise(std::shared_ptr<PRMPromise> objCPromise) : objCPromise_(std::move(objCPromise)) {
    prm_internal::assertParameter(objCPromise_ != nullptr, "objCPromise");
  }

  static Promise pending() { return Promise(PRMPromise::pendingPromise()); }
  // Already rejected with the error.
  static Promise withError(const AnyError& error) { return Promise(PRMPromise::resolvedWith(errorObject(error))); }
  // Runs the resolver now, on the calling thread: its Value, Promise or thrown error
  // decides the promise.
  template <class F>
  static Promise withResolver(F&& resolver) {
    PRMObject result = detail::guarded([&] { return detail::resultObject(resolver()); });
    if (auto promise = result.promise()) return Promise(promise);
    return Promise(PRMPromise::resolvedWith(result));
  }

  void fulfill(const Value& value) const { objCPromise_->fulfill(Bridge<Value>::toObject(value)); }
  void reject(const AnyError& error) const { objCPromise_->fulfill(PRMObject(errorObject(error))); }

  std::shared_ptr<PRMPromise> asObjCPromise() const { return objCPromise_; }
  const std::shared_ptr<PRMPromise>& objCPromise() const { return objCPromise_; }

  bool isPending() const { return objCPromise_->isPending(); }
  bool isFulfilled() const { return objCPromise_->isFulfilled(); }
  bool isRejected() const { return objCPromise_->isRejected(); }
  // Absent while not fulfilled or when the stored value is nil.
  std::optional<Value> value() const {
    const PRMObject object = objCPromise_->value();
    if (object.isNil()) return std::nullopt;
    return Bridge<Value>::fromObject(object);
  }
  std::optional<AnyError> error() const {
    auto error = objCPromise_->error();
    return error ? std::optional<AnyError>(typedError(*error)) : std::nullopt;
  }

  // "Fulfilled: <value or nil>", "Rejected: <error or nil>", "Pending: <Value type>".
  std::string description() const {
    if (isFulfilled()) {
      const PRMObject object = objCPromise_->value();
      return "Fulfilled: " + (object.isNil() ? std::string("nil") : object.description());
    }
    if (isRejected()) {
      auto error = objCPromise_->error();
      return "Rejected: " + (error ? PRMObject(*error).description() : std::string("nil"));
    }
    return "Pending: " + prm_internal::unqualifiedTypeName(typeid(Value));
  }
  friend std::ostream& operator<<(std::ostream& out, const Promise& promise) { return out << promise.description(); }

  // ---- Making promises from work ------------------------------------------------------

  // work(fulfill, reject) runs on the queue; the first call settles.
  template <class F>
  static Promise async(F work) {
    return async(promisesDefaultDispatchQueue(), std::move(work));
  }
  template <class F>
  static Promise async(const Queue& queue, F work) {
    return Promise(PRMPromise::asyncOn(queue, [work = std::move(work)](PRMPromise::FulfillBlock fulfill,
                                                                     PRMPromise::RejectBlock reject) mutable {
      try {
        work(Fulfill(fulfill), Reject(reject));
      } catch (...) {
        reject(errorFromCurrentException());
      }
    }));
  }

  // work() -> Value or Promise<Value> runs on the queue.
  template <class F>
  static Promise do_(F work) {
    return do_(promisesDefaultDispatchQueue(), std::move(work));
  }
  template <class F>
  static Promise do_(const Queue& queue, F work) {
    return Promise(PRMPromise::doOn(queue, [work = std::move(work)]() mutable {
      return detail::guarded([&] { return detail::resultObject(work()); });
    }));
  }

  // ---- Chaining ---------------------------------------------------------------------------

  // fn(value) -> Promise<U> (followed), U (a new value), or void (the value passes on).
  template <class F>
  auto then(F fn) const {
    return then(promisesDefaultDispatchQueue(), std::move(fn));
  }
  template <class F>
  auto then(const Queue& queue, F fn) const {
    using R = std::invoke_result_t<F&, const Value&>;
    using Next = detail::SettledType<R, Value>;
    return Promise<Next>(objCPromise_->thenOn(queue, [fn = std::move(fn)](const PRMObject& object) mutable {
      return detail::guarded([&] {
        Value value = detail::requireValue<Value>(object);
        if constexpr (std::is_void_v<R>) {
          fn(value);
          return object;
        } else {
          return detail::resultObject(fn(value));
        }
      });
    }));
  }

  // fn(error) runs on rejection; the outcome passes on unchanged.
  template <class F>
  Promise catch_(F fn) const {
    return catch_(promisesDefaultDispatchQueue(), std::move(fn));
  }
  template <class F>
  Promise catch_(const Queue& queue, F fn) const {
    return Promise(objCPromise_->catchOn(queue, [fn = std::move(fn)](const platform::Error& error) mutable {
      fn(typedError(error));
    }));
  }

  // fn(error) -> Promise<Value> or Value (or throws) turns a rejection into an outcome.
  template <class F>
  Promise recover(F fn) const {
    return recover(promisesDefaultDispatchQueue(), std::move(fn));
  }
  template <class F>
  Promise recover(const Queue& queue, F fn) const {
    return Promise(objCPromise_->recoverOn(queue, [fn = std::move(fn)](const platform::Error& error) mutable {
      return detail::guarded([&] { return detail::resultObject(fn(typedError(error))); });
    }));
  }

  // fn() runs on either outcome, which passes on unchanged.
  template <class F>
  Promise always(F fn) const {
    return always(promisesDefaultDispatchQueue(), std::move(fn));
  }
  template <class F>
  Promise always(const Queue& queue, F fn) const {
    return Promise(objCPromise_->alwaysOn(queue, std::move(fn)));
  }

  // Rejects with PromiseError::validationFailure when predicate(value) is false.
  template <class F>
  Promise validate(F predicate) const {
    return validate(promisesDefaultDispatchQueue(), std::move(predicate));
  }
  template <class F>
  Promise validate(const Queue& queue, F predicate) const {
    // The object layer's validate step, with a throwing predicate (or a value that does not
    // convert) rejecting like every other typed closure instead of escaping to the queue.
    return Promise(objCPromise_->thenOn(queue, [predicate = std::move(predicate)](const PRMObject& object) mutable {
      return detail::guarded([&] {
        return predicate(detail::requireValue<Value>(object)) ? object
                                                              : PRMObject(errorObject(PromiseError::validationFailure));
      });
    }));
  }

  // Rejects with PromiseError::timedOut unless settled within `seconds`.
  Promise timeout(double seconds) const { return timeout(promisesDefaultDispatchQueue(), seconds); }
  Promise timeout(const Queue& queue, double seconds) const { return Promise(objCPromise_->timeoutOn(queue, seconds)); }

  // Delivers a fulfilment `seconds` late (a rejection at once).
  Promise delay(double seconds) const { return delay(promisesDefaultDispatchQueue(), seconds); }
  Promise delay(const Queue& queue, double seconds) const { return Promise(objCPromise_->delayOn(queue, seconds)); }

  // reducer(partial, item) -> Promise<Value> (or Value), one chained step per item, all
  // chained now on the default queue. No items: this promise itself.
  template <class Items, class F>
  Promise reduce(const Items& items, F reducer) const {
    const Queue queue = promisesDefaultDispatchQueue();
    Promise current = *this;
    for (const auto& item : items) {
      current = current.then(queue, [reducer, item](const Value& partial) mutable { return reducer(partial, item); });
    }
    return current;
  }

  // Calls work() -> Promise<Value> (or Value) now, and again `delay` seconds after each
  // failure, at most `attempts` more times, while condition(remaining, error) agrees.
  using RetryCondition = std::function<bool(std::int64_t remainingAttempts, const platform::Error& error)>;
  template <class F>
  static Promise retry(F work) {
    return retry(promisesDefaultDispatchQueue(), 1, 1.0, nullptr, std::move(work));
  }
  template <class F>
  static Promise retry(std::int64_t attempts, double delay, RetryCondition condition, F work) {
    return retry(promisesDefaultDispatchQueue(), attempts, delay, std::move(condition), std::move(work));
  }
  template <class F>
  static Promise retry(const Queue& queue, std::int64_t attempts, double delay, RetryCondition condition, F work) {
    return Promise(PRMPromise::attemptsOn(queue, attempts, delay, std::move(condition), [work = std::move(work)]() mutable {
      return detail::guarded([&] { return detail::resultObject(work()); });
    }));
  }

  // ---- Completion wrappers ---------------------------------------------------------------
  // work(handler) runs on the queue; the handler's first call settles the promise.

  // handler(value). With an optional Value this is also the "optional value" shape.
  template <class F>
  static Promise wrap(F work) {
    return wrap(promisesDefaultDispatchQueue(), std::move(work));
  }
  template <class F>
  static Promise wrap(const Queue& queue, F work) {
    return wrapWith(queue, std::move(work), [](Fulfill fulfill, Reject) {
      return std::function<void(Value)>([fulfill](Value value) { fulfill(value); });
    });
  }
  // handler(value, error): a present error rejects.
  template <class F>
  static Promise wrapValueOrError(F work) {
    return wrapValueOrError(promisesDefaultDispatchQueue(), std::move(work));
  }
  template <class F>
  static Promise wrapValueOrError(const Queue& queue, F work) {
    return wrapWith(queue, std::move(work), [](Fulfill fulfill, Reject reject) {
      return std::function<void(Value, std::optional<platform::Error>)>(
          [fulfill, reject](Value value, std::optional<platform::Error> error) {
            if (error) {
              reject(*error);
            } else {
              fulfill(value);
            }
          });
    });
  }
  // handler(error, value): a present error rejects.
  template <class F>
  static Promise wrapErrorOrValue(F work) {
    return wrapErrorOrValue(promisesDefaultDispatchQueue(), std::move(work));
  }
  template <class F>
  static Promise wrapErrorOrValue(const Queue& queue, F work) {
    return wrapWith(queue, std::move(work), [](Fulfill fulfill, Reject reject) {
      return std::function<void(std::optional<platform::Error>, Value)>(
          [fulfill, reject](std::optional<platform::Error> error, Value value) {
            if (error) {
              reject(*error);
            } else {
              fulfill(value);
            }
          });
    });
  }
  // For a Promise of a pair: handler(first, second, error); the pair fulfils.
  template <class F>
  static Promise wrapPairOrError(F work) {
    return wrapPairOrError(promisesDefaultDispatchQueue(), std::move(work));
  }
  template <class F>
  static Promise wrapPairOrError(const Queue& queue, F work) {
    using First = typename Value::first_type;
    using Second = typename Value::second_type;
    return wrapWith(queue, std::move(work), [](Fulfill fulfill, Reject reject) {
      return std::function<void(First, Second, std::optional<platform::Error>)>(
          [fulfill, reject](First first, Second second, std::optional<platform::Error> error) {
            if (error) {
              reject(*error);
            } else {
              fulfill(Value(std::move(first), std::move(second)));
            }
          });
    });
  }
  // For a Promise<PRMObject>: handler(any object or nil); an error object rejects, a
  // promise is followed.
  template <class F>
  static Promise wrapAny(F work) {
    return wrapAny(promisesDefaultDispatchQueue(), std::move(work));
  }
  template <class F>
  static Promise wrapAny(const Queue& queue, F work) {
    static_assert(std::is_same_v<Value, PRMObject>, "wrapAny makes a Promise<PRMObject>");
    return Promise(PRMPromise::wrapObjectCompletionOn(queue, std::move(work)));
  }

 private:
  template <class F, class MakeHandler>
  static Promise wrapWith(const Queue& queue, F work, MakeHandler makeHandler) {
    return async(queue, [work = std::move(work), makeHandler](Fulfill fulfill, Reject reject) mutable {
      work(makeHandler(std::move(fulfill), std::move(reject)));
    });
  }

  std::shared_ptr<PRMPromise> objCPromise_;
};

// ---- Combinators over several promises ---------------------------------------------------

namespace detail {
template <class Value>
std::vector<PRMObject> objects(const std::vector<Promise<Value>>& promises) {
  std::vector<PRMObject> result;
  result.reserve(promises.size());
  for (const auto& p : promises) result.emplace_back(p.asObjCPromise());
  return result;
}

template <class Value>
Maybe<Value> maybeFrom(const PRMObject& entry) {
  if (const auto* error = entry.error()) return Maybe<Value>::fromError(*error);
  return Maybe<Value>::fromValue(requireValue<Value>(entry));
}

// Turns the array of an object-layer all/any into a typed value on the queue.
template <class Result, class Convert>
Promise<Result> convertArray(const Queue& queue, const PRMPromise::Ptr& source, Convert convert) {
  return Promise<Result>(source->thenOn(queue, [convert](const PRMObject& object) {
    return guarded([&] {
      const auto* entries = object.array();
      if (!entries) prm_internal::assertionFailure("combined promise value is not an array");
      return PRMObject(convert(*entries));
    });
  }));
}
}  // namespace detail

// All values in input order, or the first rejection observed.
template <class Value>
Promise<std::vector<Value>> all(const Queue& queue, const std::vector<Promise<Value>>& promises) {
  return Promise<std::vector<Value>>(PRMPromise::allOn(queue, detail::objects(promises)));
}
template <class Value>
Promise<std::vector<Value>> all(const std::vector<Promise<Value>>& promises) {
  return all(promisesDefaultDispatchQueue(), promises);
}
// Two to four promises of different types: a tuple of their values in argument order.
template <class First, class... Rest>
  requires(sizeof...(Rest) >= 1 && sizeof...(Rest) <= 3)
Promise<std::tuple<First, Rest...>> all(const Queue& queue, const Promise<First>& first, const Promise<Rest>&... rest) {
  auto combined = PRMPromise::allOn(queue, {PRMObject(first.asObjCPromise()), PRMObject(rest.asObjCPromise())...});
  return detail::convertArray<std::tuple<First, Rest...>>(queue, combined, [](const std::vector<PRMObject>& entries) {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
      return std::tuple<First, Rest...>(
          detail::requireValue<std::tuple_element_t<I, std::tuple<First, Rest...>>>(entries.at(I))...);
    }(std::index_sequence_for<First, Rest...>{});
  });
}
template <class First, class... Rest>
  requires(sizeof...(Rest) >= 1 && sizeof...(Rest) <= 3)
Promise<std::tuple<First, Rest...>> all(const Promise<First>& first, const Promise<Rest>&... rest) {
  return all(promisesDefaultDispatchQueue(), first, rest...);
}

// Waits for every input: an entry per input, or the last rejection when all failed.
template <class Value>
Promise<std::vector<Maybe<Value>>> any(const Queue& queue, const std::vector<Promise<Value>>& promises) {
  auto combined = PRMPromise::anyOn(queue, detail::objects(promises));
  return detail::convertArray<std::vector<Maybe<Value>>>(queue, combined, [](const std::vector<PRMObject>& entries) {
    std::vector<Maybe<Value>> result;
    result.reserve(entries.size());
    for (const auto& entry : entries) result.push_back(detail::maybeFrom<Value>(entry));
    return result;
  });
}
template <class Value>
Promise<std::vector<Maybe<Value>>> any(const std::vector<Promise<Value>>& promises) {
  return any(promisesDefaultDispatchQueue(), promises);
}
template <class First, class... Rest>
  requires(sizeof...(Rest) >= 1 && sizeof...(Rest) <= 2)
Promise<std::tuple<Maybe<First>, Maybe<Rest>...>> any(const Queue& queue, const Promise<First>& first,
                                                      const Promise<Rest>&... rest) {
  using Result = std::tuple<Maybe<First>, Maybe<Rest>...>;
  auto combined = PRMPromise::anyOn(queue, {PRMObject(first.asObjCPromise()), PRMObject(rest.asObjCPromise())...});
  return detail::convertArray<Result>(queue, combined, [](const std::vector<PRMObject>& entries) {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
      return Result(detail::maybeFrom<std::tuple_element_t<I, std::tuple<First, Rest...>>>(entries.at(I))...);
    }(std::index_sequence_for<First, Rest...>{});
  });
}
template <class First, class... Rest>
  requires(sizeof...(Rest) >= 1 && sizeof...(Rest) <= 2)
Promise<std::tuple<Maybe<First>, Maybe<Rest>...>> any(const Promise<First>& first, const Promise<Rest>&... rest) {
  return any(promisesDefaultDispatchQueue(), first, rest...);
}

// The first input to settle decides. An empty list is a programming error.
template <class Value>
Promise<Value> race(const Queue& queue, const std::vector<Promise<Value>>& promises) {
  return Promise<Value>(PRMPromise::raceOn(queue, detail::objects(promises)));
}
template <class Value>
Promise<Value> race(const std::vector<Promise<Value>>& promises) {
  return race(promisesDefaultDispatchQueue(), promises);
}

// Blocks until the promise settles: its value, or throws its error object
// (platform::Error). Must not be called on a thread the promise needs to settle.
template <class Value>
Value awaitPromise(const Promise<Value>& promise) {
  platform::Error error;
  PRMObject value = PRMPromiseAwait(promise.asObjCPromise(), &error);
  if (promise.isRejected()) throw error;
  return detail::requireValue<Value>(value);
}

}  // namespace Promises
