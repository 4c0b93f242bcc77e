// Observable reference objects for views: a change signal per object and published fields.
//
// An object that views read (a settings holder, a selected-profile holder, an editor's view
// model) derives from ObservableObject and either declares Published<T> fields or calls
// objectWillChange().send() before it changes. Every send also reaches the process-wide
// observers (addAnyChangeObserver), which is how each ViewRuntime learns that it must render
// again: a runtime re-renders its whole tree, so it needs no per-view subscription. A
// memoised view (platform/ui/memo.h) is built again when an object whose published fields it
// read, or that it took from the environment, sent since.
//
// Store entities are observed through their ObservationRegistrar instead (observation.h; the
// runtime tracks every property a render reads). Views bind to published fields with
// platform::ui::bind (platform/ui/observable.h).
//
// Threads: main thread only. Callbacks run synchronously on the sending thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace platform {

// A list of callbacks run on every send(). Copies share nothing; removing a callback while
// callbacks run is safe.
class ChangeSignal {
 public:
  using Token = std::uint64_t;

  Token subscribe(std::function<void()> callback);
  void unsubscribe(Token token);
  // Runs the object's own callbacks, then the process-wide observers.
  void send() const;
  // Counts the sends, so that a memoised view can tell whether an object it read changed.
  std::shared_ptr<const std::uint64_t> sendCount() const { return sends_; }

 private:
  std::shared_ptr<std::map<Token, std::function<void()>>> callbacks_ =
      std::make_shared<std::map<Token, std::function<void()>>>();
  std::shared_ptr<std::uint64_t> sends_ = std::make_shared<std::uint64_t>(0);
  Token next_ = 1;
};

namespace detail {
// The objects a memoised view read while it builds (their send counts then); null outside.
struct ObjectReads {
  std::vector<std::shared_ptr<const std::uint64_t>> counts;
  std::vector<std::uint64_t> seen;
  void read(const ChangeSignal& signal) {
    counts.push_back(signal.sendCount());
    seen.push_back(*counts.back());
  }
};
extern thread_local ObjectReads* currentObjectReads;
}  // namespace detail

class ObservableObject {
 public:
  virtual ~ObservableObject() = default;
  ChangeSignal& objectWillChange() const { return signal_; }

 private:
  mutable ChangeSignal signal_;
};

// A field of an ObservableObject that sends the owner's signal on every write.
//   class UserDefaultsManager : public ObservableObject {
//     Published<bool> popViewAfterSaveAndUpdate{*this, false};
//   };
template <class T>
class Published {
 public:
  Published(const ObservableObject& owner, T initial) : owner_(&owner), value_(std::move(initial)) {}
  Published(const Published&) = delete;
  Published& operator=(const Published&) = delete;

  const T& get() const {
    if (detail::currentObjectReads) detail::currentObjectReads->read(owner_->objectWillChange());
    return value_;
  }
  operator const T&() const { return get(); }
  void set(T value) {
    owner_->objectWillChange().send();
    value_ = std::move(value);
  }
  Published& operator=(T value) {
    set(std::move(value));
    return *this;
  }

 private:
  const ObservableObject* owner_;
  T value_;
};

// Process-wide observers of every ObservableObject change (and of notifyAnyChange()).
std::uint64_t addAnyChangeObserver(std::function<void()> observer);
void removeAnyChangeObserver(std::uint64_t token);
// Tells the process-wide observers that some observed data changed. Views read such data
// without tracking it, so memoised views are built again too (anyChangeCount()).
void notifyAnyChange();
// Tells the process-wide observers to render again because a cache that watches its own
// sources dropped its content (a list's sorted rows); memoised views stay, since what they
// read is tracked.
void notifyCacheDropped();
// Counts the notifyAnyChange() calls.
std::uint64_t anyChangeCount();

// Runs `body` as an animated change. The animation observer hears of it first (the view
// layer's event log records a marker); set it once, before any change, or with {} to remove it.
void withAnimation(const std::function<void()>& body);
void setAnimationObserver(std::function<void()> observer);

}  // namespace platform
