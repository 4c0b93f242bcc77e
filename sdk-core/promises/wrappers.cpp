// The completion wrappers: each runs its work on the queue with a completion handler of
// one shape and settles the promise from the handler's first call (later calls change
// nothing, because a promise settles once). In every "OrError" shape a present error
// rejects, whatever value came with it.
#include "sdk-core/promises/internal/assert.h"
#include "sdk-core/promises/promise.h"

using prm_internal::assertParameter;
using platform::Error;
using Ptr = PRMPromise::Ptr;
using Queue = PRMPromise::Queue;

namespace {

// Runs `work` through asyncOn, handing it the handler that `makeHandler` builds from the
// async work's fulfil and reject blocks.
template <class Handler, class MakeHandler>
Ptr wrap(const Queue& queue, std::function<void(Handler)> work, MakeHandler makeHandler) {
  assertParameter(queue != nullptr, "queue");
  assertParameter(static_cast<bool>(work), "work");
  return PRMPromise::asyncOn(queue, [work = std::move(work), makeHandler](PRMPromise::FulfillBlock fulfill,
                                                                           PRMPromise::RejectBlock reject) {
    work(Handler(makeHandler(std::move(fulfill), std::move(reject))));
  });
}

}  // namespace

#define PRM_DEFAULT_QUEUE_FORM(Name, Handler)                           \
  Ptr PRMPromise::Name(std::function<void(Handler)> work) {             \
    return Name##On(PRMPromise::defaultDispatchQueue(), std::move(work)); \
  }

PRM_DEFAULT_QUEUE_FORM(wrapCompletion, Completion)
PRM_DEFAULT_QUEUE_FORM(wrapObjectCompletion, ObjectCompletion)
PRM_DEFAULT_QUEUE_FORM(wrapErrorCompletion, ErrorCompletion)
PRM_DEFAULT_QUEUE_FORM(wrapObjectOrErrorCompletion, ObjectOrErrorCompletion)
PRM_DEFAULT_QUEUE_FORM(wrapErrorOrObjectCompletion, ErrorOrObjectCompletion)
PRM_DEFAULT_QUEUE_FORM(wrap2ObjectsOrErrorCompletion, TwoObjectsOrErrorCompletion)
PRM_DEFAULT_QUEUE_FORM(wrapBoolCompletion, BoolCompletion)
PRM_DEFAULT_QUEUE_FORM(wrapBoolOrErrorCompletion, BoolOrErrorCompletion)
PRM_DEFAULT_QUEUE_FORM(wrapIntegerCompletion, IntegerCompletion)
PRM_DEFAULT_QUEUE_FORM(wrapIntegerOrErrorCompletion, IntegerOrErrorCompletion)
PRM_DEFAULT_QUEUE_FORM(wrapDoubleCompletion, DoubleCompletion)
PRM_DEFAULT_QUEUE_FORM(wrapDoubleOrErrorCompletion, DoubleOrErrorCompletion)
#undef PRM_DEFAULT_QUEUE_FORM

Ptr PRMPromise::wrapCompletionOn(const Queue& queue, std::function<void(Completion)> work) {
  return wrap(queue, std::move(work), [](FulfillBlock fulfill, RejectBlock) {
    return [fulfill] { fulfill(PRMObject()); };
  });
}

Ptr PRMPromise::wrapObjectCompletionOn(const Queue& queue, std::function<void(ObjectCompletion)> work) {
  return wrap(queue, std::move(work), [](FulfillBlock fulfill, RejectBlock) {
    return [fulfill](const PRMObject& value) { fulfill(value); };
  });
}

Ptr PRMPromise::wrapErrorCompletionOn(const Queue& queue, std::function<void(ErrorCompletion)> work) {
  return wrap(queue, std::move(work), [](FulfillBlock fulfill, RejectBlock reject) {
    return [fulfill, reject](const std::optional<Error>& error) {
      if (error) {
        reject(*error);
      } else {
        fulfill(PRMObject());
      }
    };
  });
}

Ptr PRMPromise::wrapObjectOrErrorCompletionOn(const Queue& queue, std::function<void(ObjectOrErrorCompletion)> work) {
  return wrap(queue, std::move(work), [](FulfillBlock fulfill, RejectBlock reject) {
    return [fulfill, reject](const PRMObject& value, const std::optional<Error>& error) {
      if (error) {
        reject(*error);
      } else {
        fulfill(value);
      }
    };
  });
}

Ptr PRMPromise::wrapErrorOrObjectCompletionOn(const Queue& queue, std::function<void(ErrorOrObjectCompletion)> work) {
  return wrap(queue, std::move(work), [](FulfillBlock fulfill, RejectBlock reject) {
    return [fulfill, reject](const std::optional<Error>& error, const PRMObject& value) {
      if (error) {
        reject(*error);
      } else {
        fulfill(value);
      }
    };
  });
}

Ptr PRMPromise::wrap2ObjectsOrErrorCompletionOn(const Queue& queue,
                                                std::function<void(TwoObjectsOrErrorCompletion)> work) {
  return wrap(queue, std::move(work), [](FulfillBlock fulfill, RejectBlock reject) {
    return [fulfill, reject](const PRMObject& first, const PRMObject& second, const std::optional<Error>& error) {
      if (error) {
        reject(*error);
        return;
      }
      fulfill(PRMObject(std::vector<PRMObject>{first.isNil() ? PRMObject::null() : first,
                                               second.isNil() ? PRMObject::null() : second}));
    };
  });
}

namespace {

// The number shapes: the value boxed as a number, or the error.
template <class T>
auto numberHandler() {
  return [](PRMPromise::FulfillBlock fulfill, PRMPromise::RejectBlock) {
    return [fulfill](T value) { fulfill(PRMObject(value)); };
  };
}

template <class T>
auto numberOrErrorHandler() {
  return [](PRMPromise::FulfillBlock fulfill, PRMPromise::RejectBlock reject) {
    return [fulfill, reject](T value, const std::optional<Error>& error) {
      if (error) {
        reject(*error);
      } else {
        fulfill(PRMObject(value));
      }
    };
  };
}

}  // namespace

Ptr PRMPromise::wrapBoolCompletionOn(const Queue& queue, std::function<void(BoolCompletion)> work) {
  return wrap(queue, std::move(work), numberHandler<bool>());
}
Ptr PRMPromise::wrapBoolOrErrorCompletionOn(const Queue& queue, std::function<void(BoolOrErrorCompletion)> work) {
  return wrap(queue, std::move(work), numberOrErrorHandler<bool>());
}
Ptr PRMPromise::wrapIntegerCompletionOn(const Queue& queue, std::function<void(IntegerCompletion)> work) {
  return wrap(queue, std::move(work), numberHandler<long>());
}
Ptr PRMPromise::wrapIntegerOrErrorCompletionOn(const Queue& queue,
                                               std::function<void(IntegerOrErrorCompletion)> work) {
  return wrap(queue, std::move(work), numberOrErrorHandler<long>());
}
Ptr PRMPromise::wrapDoubleCompletionOn(const Queue& queue, std::function<void(DoubleCompletion)> work) {
  return wrap(queue, std::move(work), numberHandler<double>());
}
Ptr PRMPromise::wrapDoubleOrErrorCompletionOn(const Queue& queue, std::function<void(DoubleOrErrorCompletion)> work) {
  return wrap(queue, std::move(work), numberOrErrorHandler<double>());
}
