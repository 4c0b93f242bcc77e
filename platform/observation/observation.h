// Per-property change observation for model objects.
//
// Every observed object owns an ObservationRegistrar. Its getters call `access(property)`
// and its setters wrap the change in `withMutation(property, ...)`; observers of that one
// property hear about the change after it is made, and nobody else does.
//
// Three ways to listen:
//   - `addObserver(property, callback)`: a lasting observer, removed with its token.
//   - `addObserverOfEveryProperty(callback)`: a lasting observer of the whole object, told the
//     index of each property that changed (one observer where a cache follows many fields).
//   - `withObservationTracking(apply, onChange)`: runs `apply`, records every property it
//     read on any registrar, and calls `onChange` once, at the first later change of any of
//     them (the way a view re-renders when something it showed changes).
//
// Threads: a registrar belongs to the thread that uses its object (the main thread for
// entities); callbacks run synchronously on the mutating thread. Tracking scopes are per
// thread. Tokens stay safe to remove after the object is gone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

class ObservationTracking;
ObservationTracking withObservationTracking(const std::function<void()>& apply,
                                            std::function<void()> onChange);
void withoutObservationTracking(const std::function<void()>& apply);

class ObservationRegistrar {
 public:
  using PropertyIndex = std::size_t;
  using ObserverToken = std::uint64_t;
  using Callback = std::function<void()>;
  using PropertyCallback = std::function<void(PropertyIndex)>;

  ObservationRegistrar();
  ~ObservationRegistrar();
  ObservationRegistrar(const ObservationRegistrar&) = delete;
  ObservationRegistrar& operator=(const ObservationRegistrar&) = delete;

  // Records a read of `property` in the current thread's tracking scope, if any.
  void access(PropertyIndex property) const {
    if (isTracking()) {
      record(property);
    }
  }
  // True while the current thread runs inside withObservationTracking: only then do reads
  // need recording (a cached value can skip replaying its reads otherwise).
  static bool isTracking() { return currentScope_ != nullptr; }

  // Runs `mutation`, then tells the observers of `property`.
  void withMutation(PropertyIndex property, const std::function<void()>& mutation) const;
  // Tells the observers of `property` without running anything (for changes made
  // elsewhere, such as the other end of a relationship).
  void didChange(PropertyIndex property) const;

  ObserverToken addObserver(PropertyIndex property, Callback callback) const;
  // Observes every property of the object: `callback` runs after each change with the index of
  // the property that changed.
  ObserverToken addObserverOfEveryProperty(PropertyCallback callback) const;
  void removeObserver(ObserverToken token) const;

 // Opaque; shared with tracking registrations, which may outlive the registrar.
  struct State;

 private:
  friend ObservationTracking withObservationTracking(const std::function<void()>&,
                                                     std::function<void()>);
  friend void withoutObservationTracking(const std::function<void()>&);
  void record(PropertyIndex property) const;
  // Runs `apply` with `scope` as this thread's tracking scope (null: none).
  static void runInScope(void* scope, const std::function<void()>& apply);
  State& state() const;

  // The innermost tracking scope of this thread (opaque; null outside any scope).
  static thread_local constinit void* currentScope_;

  // Made when something first observes or tracks the object: most objects never are.
  mutable std::shared_ptr<State> state_;
};

// The observers one withObservationTracking call left behind. They stay until the first
// change fires them, or until cancel(): a caller that tracks again (a renderer rendering
// anew) cancels the previous tracking first, so unchanged objects do not collect observers.
// Copies share the same observers.
class ObservationTracking {
 public:
  ObservationTracking() = default;
  // Removes the observers without calling onChange. Safe to call more than once.
  void cancel();
  // True until the change fired or cancel() ran.
  bool isActive() const;

  struct Registration;  // opaque

 private:
  friend ObservationTracking withObservationTracking(const std::function<void()>&,
                                                     std::function<void()>);
  std::shared_ptr<Registration> registration_;
};

// Runs `apply`; `onChange` runs once, after the first change to any property that `apply`
// read (each property is observed once however often it was read). Nested tracking scopes
// each record their own reads.
ObservationTracking withObservationTracking(const std::function<void()>& apply,
                                            std::function<void()> onChange);
// Runs `apply` outside any tracking scope: its reads are recorded nowhere (for a cache that
// watches its own sources).
void withoutObservationTracking(const std::function<void()>& apply);

}  // namespace platform
