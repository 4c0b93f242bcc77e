// The combinators built on observing and chaining, and PRMPromiseAwait.
#include <atomic>

#include "platform/dispatch/semaphore.h"
#include "sdk-core/promises/internal/assert.h"
#include "sdk-core/promises/promise.h"

using prm_internal::assertParameter;
using platform::Error;

namespace {

Error promisesError(long code) { return Error(PRMPromiseErrorDomain, code); }

// Inputs of all/any as promises: plain values become settled promises.
std::vector<PRMPromise::Ptr> asPromises(const std::vector<PRMObject>& inputs) {
  std::vector<PRMPromise::Ptr> promises;
  promises.reserve(inputs.size());
  for (const auto& input : inputs) {
    auto promise = input.promise();
    promises.push_back(promise ? promise : PRMPromise::resolvedWith(input));
  }
  return promises;
}

}  // namespace

// ---- async / do ----------------------------------------------------------------------

PRMPromise::Ptr PRMPromise::async(AsyncWork work) { return asyncOn(defaultDispatchQueue(), std::move(work)); }

PRMPromise::Ptr PRMPromise::asyncOn(const Queue& queue, AsyncWork work) {
  assertParameter(queue != nullptr, "queue");
  assertParameter(static_cast<bool>(work), "work");
  Ptr promise = pendingPromise();
  dispatchGroup().async(queue, [queue, promise, work = std::move(work)] {
    // The fulfil block follows a promise (as a chained block's result is followed), else fulfils.
    work([queue, promise](const PRMObject& value) { resolveChained(queue, promise, value); },
         [promise](const Error& error) { promise->reject(error); });
  });
  return promise;
}

PRMPromise::Ptr PRMPromise::do_(Work work) { return doOn(defaultDispatchQueue(), std::move(work)); }

PRMPromise::Ptr PRMPromise::doOn(const Queue& queue, Work work) {
  assertParameter(queue != nullptr, "queue");
  assertParameter(static_cast<bool>(work), "work");
  Ptr promise = pendingPromise();
  dispatchGroup().async(queue, [queue, promise, work = std::move(work)] {
    resolveChained(queue, promise, work());
  });
  return promise;
}

// ---- all / any / race ----------------------------------------------------------------

PRMPromise::Ptr PRMPromise::all(std::vector<PRMObject> allPromises) {
  return allOn(defaultDispatchQueue(), std::move(allPromises));
}

PRMPromise::Ptr PRMPromise::allOn(const Queue& queue, std::vector<PRMObject> allPromises) {
  assertParameter(queue != nullptr, "queue");
  if (allPromises.empty()) return resolvedWith(std::vector<PRMObject>{});
  return asyncOn(queue, [queue, inputs = std::move(allPromises)](FulfillBlock fulfill, RejectBlock reject) {
    for (const auto& input : inputs) {
      if (!input.isPromise() && input.isError()) {
        reject(*input.error());
        return;
      }
    }
    // The observers share the collected values, never the inputs, so an input that
    // never settles does not keep the others alive.
    struct Collected {
      std::mutex mutex;
      std::vector<PRMObject> values;
      std::size_t fulfilled = 0;
    };
    auto promises = asPromises(inputs);
    auto collected = std::make_shared<Collected>();
    collected->values.resize(promises.size());
    for (std::size_t i = 0; i < promises.size(); ++i) {
      promises[i]->observeOnQueue(
          queue,
          [collected, fulfill, i](const PRMObject& value) {
            std::vector<PRMObject> result;
            {
              std::lock_guard lock(collected->mutex);
              collected->values[i] = value.isNil() ? PRMObject::null() : value;
              if (++collected->fulfilled < collected->values.size()) return;
              result = collected->values;
            }
            fulfill(PRMObject(std::move(result)));
          },
          [reject](const Error& error) { reject(error); });
    }
  });
}

PRMPromise::Ptr PRMPromise::any(std::vector<PRMObject> anyPromises) {
  return anyOn(defaultDispatchQueue(), std::move(anyPromises));
}

PRMPromise::Ptr PRMPromise::anyOn(const Queue& queue, std::vector<PRMObject> anyPromises) {
  assertParameter(queue != nullptr, "queue");
  if (anyPromises.empty()) return resolvedWith(std::vector<PRMObject>{});
  return asyncOn(queue, [queue, inputs = std::move(anyPromises)](FulfillBlock fulfill, RejectBlock reject) {
    struct Collected {
      std::mutex mutex;
      std::vector<PRMObject> entries;   // value (null object for nil) or error object
      std::size_t settled = 0;
      std::size_t fulfilled = 0;
    };
    auto promises = asPromises(inputs);
    auto collected = std::make_shared<Collected>();
    collected->entries.resize(promises.size());
    // Called on each observed outcome; settles the result once none is pending.
    auto record = [collected, fulfill, reject](std::size_t i, const PRMObject& entry, bool wasFulfilled) {
      std::vector<PRMObject> entries;
      std::size_t fulfilledCount;
      {
        std::lock_guard lock(collected->mutex);
        collected->entries[i] = entry;
        if (wasFulfilled) ++collected->fulfilled;
        if (++collected->settled < collected->entries.size()) return;
        entries = collected->entries;
        fulfilledCount = collected->fulfilled;
      }
      if (fulfilledCount > 0) {
        fulfill(PRMObject(std::move(entries)));
      } else {
        reject(*entry.error());   // the rejection observed last
      }
    };
    for (std::size_t i = 0; i < promises.size(); ++i) {
      promises[i]->observeOnQueue(
          queue,
          [record, i](const PRMObject& value) { record(i, value.isNil() ? PRMObject::null() : value, true); },
          [record, i](const Error& error) { record(i, PRMObject(error), false); });
    }
  });
}

PRMPromise::Ptr PRMPromise::race(std::vector<PRMObject> promises) {
  return raceOn(defaultDispatchQueue(), std::move(promises));
}

PRMPromise::Ptr PRMPromise::raceOn(const Queue& queue, std::vector<PRMObject> promises) {
  assertParameter(queue != nullptr, "queue");
  if (promises.empty()) prm_internal::assertionFailure("No promises to observe");
  return asyncOn(queue, [queue, inputs = std::move(promises)](FulfillBlock fulfill, RejectBlock reject) {
    for (const auto& input : inputs) {
      if (!input.isPromise()) {
        fulfill(input);
        return;
      }
    }
    for (const auto& input : inputs) {
      input.promise()->observeOnQueue(
          queue, [fulfill](const PRMObject& value) { fulfill(value); },
          [reject](const Error& error) { reject(error); });
    }
  });
}

// ---- retry ---------------------------------------------------------------------------

namespace {

struct RetryState {
  PRMPromise::Queue queue;
  double delay;
  PRMPromise::RetryCondition condition;
  std::function<PRMObject()> work;
  PRMPromise::Ptr promise;
};

void runAttempt(const std::shared_ptr<RetryState>& state, std::int64_t remaining);

void handleOutcome(const std::shared_ptr<RetryState>& state, std::int64_t remaining, const PRMObject& outcome) {
  const auto* error = outcome.error();
  if (!error) {
    state->promise->fulfill(outcome);
    return;
  }
  if (remaining >= 1 && (!state->condition || state->condition(remaining, *error))) {
    state->queue->asyncAfter(platform::secondsToDuration(state->delay),
                             [state, remaining] { runAttempt(state, remaining - 1); });
    return;
  }
  state->promise->reject(*error);
}

void runAttempt(const std::shared_ptr<RetryState>& state, std::int64_t remaining) {
  PRMObject result = state->work();
  if (auto promise = result.promise()) {
    promise->observeOnQueue(
        state->queue, [state, remaining](const PRMObject& value) { handleOutcome(state, remaining, value); },
        [state, remaining](const Error& error) { handleOutcome(state, remaining, PRMObject(error)); });
  } else {
    handleOutcome(state, remaining, result);
  }
}

constexpr double kDefaultRetryDelay = 1.0;

}  // namespace

PRMPromise::Ptr PRMPromise::retry(std::function<PRMObject()> work) { return retryOn(defaultDispatchQueue(), std::move(work)); }

PRMPromise::Ptr PRMPromise::retryOn(const Queue& queue, std::function<PRMObject()> work) {
  return attemptsOn(queue, 1, kDefaultRetryDelay, nullptr, std::move(work));
}

PRMPromise::Ptr PRMPromise::attempts(std::int64_t count, std::function<PRMObject()> work) {
  return attemptsOn(defaultDispatchQueue(), count, kDefaultRetryDelay, nullptr, std::move(work));
}

PRMPromise::Ptr PRMPromise::attemptsOn(const Queue& queue, std::int64_t count, std::function<PRMObject()> work) {
  return attemptsOn(queue, count, kDefaultRetryDelay, nullptr, std::move(work));
}

PRMPromise::Ptr PRMPromise::attempts(std::int64_t count, double delay, RetryCondition condition,
                                     std::function<PRMObject()> work) {
  return attemptsOn(defaultDispatchQueue(), count, delay, std::move(condition), std::move(work));
}

PRMPromise::Ptr PRMPromise::attemptsOn(const Queue& queue, std::int64_t count, double delay, RetryCondition condition,
                                       std::function<PRMObject()> work) {
  assertParameter(queue != nullptr, "queue");
  assertParameter(static_cast<bool>(work), "work");
  auto state = std::make_shared<RetryState>(RetryState{queue, delay, std::move(condition), std::move(work), pendingPromise()});
  Ptr promise = state->promise;
  runAttempt(state, count);
  return promise;
}

// ---- instance combinators ------------------------------------------------------------

PRMPromise::Ptr PRMPromise::always(AlwaysWork work) { return alwaysOn(defaultDispatchQueue(), std::move(work)); }

PRMPromise::Ptr PRMPromise::alwaysOn(const Queue& queue, AlwaysWork work) {
  assertParameter(queue != nullptr, "queue");
  assertParameter(static_cast<bool>(work), "work");
  return chainOnQueue(
      queue,
      [work](const PRMObject& value) {
        work();
        return value;
      },
      [work](const Error& error) {
        work();
        return PRMObject(error);
      });
}

PRMPromise::Ptr PRMPromise::recover(Recovery recovery) { return recoverOn(defaultDispatchQueue(), std::move(recovery)); }

PRMPromise::Ptr PRMPromise::recoverOn(const Queue& queue, Recovery recovery) {
  assertParameter(queue != nullptr, "queue");
  assertParameter(static_cast<bool>(recovery), "recovery");
  return chainOnQueue(queue, nullptr, std::move(recovery));
}

PRMPromise::Ptr PRMPromise::validate(Predicate predicate) {
  return validateOn(defaultDispatchQueue(), std::move(predicate));
}

PRMPromise::Ptr PRMPromise::validateOn(const Queue& queue, Predicate predicate) {
  assertParameter(queue != nullptr, "queue");
  assertParameter(static_cast<bool>(predicate), "predicate");
  return chainOnQueue(
      queue,
      [predicate = std::move(predicate)](const PRMObject& value) {
        return predicate(value) ? value : PRMObject(promisesError(PRMPromiseErrorCodeValidationFailure));
      },
      nullptr);
}

PRMPromise::Ptr PRMPromise::delay(double interval) { return delayOn(defaultDispatchQueue(), interval); }

PRMPromise::Ptr PRMPromise::delayOn(const Queue& queue, double interval) {
  assertParameter(queue != nullptr, "queue");
  Ptr delayed = pendingPromise();
  observeOnQueue(
      queue,
      [queue, delayed, interval](const PRMObject& value) {
        queue->asyncAfter(platform::secondsToDuration(interval), [delayed, value] { delayed->fulfill(value); });
      },
      [delayed](const Error& error) { delayed->reject(error); });
  return delayed;
}

PRMPromise::Ptr PRMPromise::timeout(double interval) { return timeoutOn(defaultDispatchQueue(), interval); }

PRMPromise::Ptr PRMPromise::timeoutOn(const Queue& queue, double interval) {
  assertParameter(queue != nullptr, "queue");
  Ptr limited = pendingPromise();
  observeOnQueue(
      queue, [limited](const PRMObject& value) { limited->fulfill(value); },
      [limited](const Error& error) { limited->reject(error); });
  std::weak_ptr<PRMPromise> weak = limited;
  queue->asyncAfter(platform::secondsToDuration(interval), [weak] {
    if (auto promise = weak.lock()) promise->reject(promisesError(PRMPromiseErrorCodeTimedOut));
  });
  return limited;
}

PRMPromise::Ptr PRMPromise::reduce(std::vector<PRMObject> items, Reducer reducer) {
  return reduceOn(defaultDispatchQueue(), std::move(items), std::move(reducer));
}

PRMPromise::Ptr PRMPromise::reduceOn(const Queue& queue, std::vector<PRMObject> items, Reducer reducer) {
  assertParameter(queue != nullptr, "queue");
  assertParameter(static_cast<bool>(reducer), "reducer");
  Ptr current = shared_from_this();
  for (auto& item : items) {
    current = current->chainOnQueue(
        queue, [reducer, item](const PRMObject& partial) { return reducer(partial, item); }, nullptr);
  }
  return current;
}

// ---- await ---------------------------------------------------------------------------

PRMObject PRMPromiseAwait(const PRMPromise::Ptr& promise, Error* error) {
  assertParameter(promise != nullptr, "promise");
  static const auto* awaitQueue =
      new PRMPromise::Queue(platform::DispatchQueue::makeConcurrent("ziz.ozudor.PRMPromises.Await"));
  struct Outcome {
    PRMObject value;
    std::optional<Error> error;
    platform::DispatchSemaphore done;
  };
  auto outcome = std::make_shared<Outcome>();
  promise->chainOnQueue(
      *awaitQueue,
      [outcome](const PRMObject& value) {
        outcome->value = value;
        outcome->done.signal();
        return value;
      },
      [outcome](const Error& e) {
        outcome->error = e;
        outcome->done.signal();
        return PRMObject(e);
      });
  outcome->done.wait();
  if (error && outcome->error) *error = *outcome->error;
  return outcome->value;
}
