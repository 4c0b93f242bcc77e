// View state and two-way bindings.
//
// State<T> is a handle to storage that the ViewRuntime keeps for a view identity; handles
// are cheap to copy and stay usable after the view is gone (a write then changes nothing
// that is shown). Binding<T> is a getter/setter pair: a state, a field of an observable
// object, or a constant. Every write through either marks the runtime's tree stale.
//
// Threads: main thread only, like the views.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include "platform/observation/observable.h"

namespace platform::ui {

namespace detail {

// Told when any state of one runtime changes. Held weakly by the state boxes.
class Invalidator {
 public:
  virtual ~Invalidator() = default;
  virtual void stateChanged() = 0;
};

template <class T>
struct StateBox {
  T value;
  std::weak_ptr<Invalidator> owner;
  // Counts the changes, so that a memoised view can tell whether the state it read changed.
  mutable std::uint64_t version = 0;

  void changed() const {
    ++version;
    if (auto o = owner.lock()) o->stateChanged();
  }
};

}  // namespace detail

// Runs `body` as an animated change. Animations are recorded as markers in the event log.
using platform::withAnimation;

template <class T>
class Binding {
 public:
  Binding() : Binding(constant(T{})) {}
  Binding(std::function<T()> get, std::function<void(T)> set)
      : get_(std::make_shared<std::function<T()>>(std::move(get))),
        set_(std::make_shared<std::function<void(T)>>(std::move(set))) {}

  // A binding that always reads `value` and ignores writes.
  static Binding constant(T value) {
    return Binding([value] { return value; }, [](T) {});
  }

  T get() const { return (*get_)(); }
  void set(T value) const { (*set_)(std::move(value)); }

  // The same binding, but every write runs inside withAnimation.
  Binding animation() const {
    auto self = *this;
    return Binding([self] { return self.get(); },
                   [self](T v) { withAnimation([&] { self.set(std::move(v)); }); });
  }

  // A binding to a part of the value (for example one field of a struct).
  template <class U>
  Binding<U> project(std::function<U(const T&)> read, std::function<void(T&, U)> write) const {
    auto self = *this;
    return Binding<U>([self, read] { return read(self.get()); },
                      [self, write](U u) {
                        T whole = self.get();
                        write(whole, std::move(u));
                        self.set(std::move(whole));
                      });
  }

 private:
  std::shared_ptr<std::function<T()>> get_;
  std::shared_ptr<std::function<void(T)>> set_;
};

template <class T>
class State {
 public:
  State() : box_(std::make_shared<detail::StateBox<T>>()) {}
  explicit State(std::shared_ptr<detail::StateBox<T>> box) : box_(std::move(box)) {}

  const T& get() const { return box_->value; }
  const T& operator*() const { return box_->value; }
  const T* operator->() const { return &box_->value; }

  void set(T value) const {
    box_->value = std::move(value);
    box_->changed();
  }
  // Changes the value in place, then marks the tree stale.
  template <class F>
  void mutate(F&& change) const {
    change(box_->value);
    box_->changed();
  }
  // For Bool state: false becomes true and true becomes false.
  void toggle() const
    requires std::is_same_v<T, bool>
  {
    set(!box_->value);
  }

  Binding<T> binding() const {
    auto box = box_;
    return Binding<T>([box] { return box->value; },
                      [box](T v) {
                        box->value = std::move(v);
                        box->changed();
                      });
  }

  // Whether two handles refer to the same storage.
  bool sameStorage(const State& other) const { return box_ == other.box_; }

 private:
  std::shared_ptr<detail::StateBox<T>> box_;
};

}  // namespace platform::ui
