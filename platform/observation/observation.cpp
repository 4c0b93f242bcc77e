#include "platform/observation/observation.h"

#include <atomic>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace platform {

struct ObservationRegistrar::State {
  // An observer of one property (`callback`), or of every property (`everyProperty`).
  struct Observer {
    PropertyIndex property;
    Callback callback;
    PropertyCallback everyProperty;
  };
  std::map<ObserverToken, Observer> observers;
};

namespace {

std::uint64_t nextToken() {
  static std::atomic<std::uint64_t> counter{0};
  return ++counter;
}

struct TrackedAccess {
  std::weak_ptr<ObservationRegistrar::State> state;
  ObservationRegistrar::PropertyIndex property;
};

using Scope = std::vector<TrackedAccess>;

}  // namespace

thread_local constinit void* ObservationRegistrar::currentScope_ = nullptr;

ObservationRegistrar::ObservationRegistrar() = default;
ObservationRegistrar::~ObservationRegistrar() = default;

ObservationRegistrar::State& ObservationRegistrar::state() const {
  if (!state_) {
    state_ = std::make_shared<State>();
  }
  return *state_;
}

void ObservationRegistrar::record(PropertyIndex property) const {
  state();
  static_cast<Scope*>(currentScope_)->push_back({state_, property});
}

void ObservationRegistrar::withMutation(PropertyIndex property,
                                        const std::function<void()>& mutation) const {
  mutation();
  didChange(property);
}

void ObservationRegistrar::didChange(PropertyIndex property) const {
  if (!state_ || state_->observers.empty()) {
    return;
  }
  // Copy first: a callback may add or remove observers, or drop the object itself.
  std::shared_ptr<State> keepAlive = state_;
  std::vector<std::pair<ObserverToken, State::Observer>> toCall;
  for (const auto& [token, observer] : keepAlive->observers) {
    if (observer.everyProperty || observer.property == property) {
      toCall.emplace_back(token, observer);
    }
  }
  for (auto& [token, observer] : toCall) {
    if (keepAlive->observers.count(token) != 0) {
      observer.everyProperty ? observer.everyProperty(property) : observer.callback();
    }
  }
}

ObservationRegistrar::ObserverToken ObservationRegistrar::addObserver(PropertyIndex property,
                                                                      Callback callback) const {
  ObserverToken token = nextToken();
  state().observers.emplace(token, State::Observer{property, std::move(callback), {}});
  return token;
}

ObservationRegistrar::ObserverToken ObservationRegistrar::addObserverOfEveryProperty(
    PropertyCallback callback) const {
  ObserverToken token = nextToken();
  state().observers.emplace(token, State::Observer{0, {}, std::move(callback)});
  return token;
}

void ObservationRegistrar::removeObserver(ObserverToken token) const {
  if (state_) {
    state_->observers.erase(token);
  }
}

struct ObservationTracking::Registration {
  std::function<void()> onChange;
  std::vector<std::pair<std::weak_ptr<ObservationRegistrar::State>,
                        ObservationRegistrar::ObserverToken>>
      tokens;
  bool done = false;

  // Ends the registration; returns the change callback if it had not ended before.
  std::function<void()> finish() {
    if (done) {
      return nullptr;
    }
    done = true;
    for (auto& [weakState, token] : tokens) {
      if (auto state = weakState.lock()) {
        state->observers.erase(token);
      }
    }
    tokens.clear();
    return std::move(onChange);
  }
};

void ObservationTracking::cancel() {
  if (registration_) {
    registration_->finish();
  }
}

bool ObservationTracking::isActive() const { return registration_ && !registration_->done; }

void ObservationRegistrar::runInScope(void* scope, const std::function<void()>& apply) {
  void* outer = currentScope_;
  currentScope_ = scope;
  try {
    apply();
  } catch (...) {
    currentScope_ = outer;
    throw;
  }
  currentScope_ = outer;
}

void withoutObservationTracking(const std::function<void()>& apply) { ObservationRegistrar::runInScope(nullptr, apply); }

ObservationTracking withObservationTracking(const std::function<void()>& apply,
                                            std::function<void()> onChange) {
  Scope accesses;
  ObservationRegistrar::runInScope(&accesses, apply);
  ObservationTracking tracking;
  if (accesses.empty() || !onChange) {
    return tracking;
  }

  // One shared registration: the first change calls onChange and removes every observer.
  // One observer per property read, however often it was read.
  std::set<std::pair<const ObservationRegistrar::State*, ObservationRegistrar::PropertyIndex>>
      seen;
  auto registration = std::make_shared<ObservationTracking::Registration>();
  registration->onChange = std::move(onChange);
  for (const auto& access : accesses) {
    auto state = access.state.lock();
    if (!state || !seen.insert({state.get(), access.property}).second) {
      continue;
    }
    ObservationRegistrar::ObserverToken token = nextToken();
    // The observer owns the registration; the registration only names its observers.
    state->observers.emplace(
        token, ObservationRegistrar::State::Observer{access.property,
                                                     [registration] {
                                                       if (auto callback = registration->finish()) {
                                                         callback();
                                                       }
                                                     },
                                                     {}});
    registration->tokens.emplace_back(state, token);
  }
  tracking.registration_ = std::move(registration);
  return tracking;
}

}  // namespace platform
