// The evaluation pass that turns views into nodes. Owned by ViewRuntime; views call it
// while they build. Not for screens: they use Context (view.h).
#pragma once

#include <any>
#include <concepts>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/ui/environment.h"
#include "platform/ui/node.h"
#include "platform/ui/observable.h"
#include "platform/ui/state.h"

namespace platform::ui {
class View;
}

namespace platform::ui::detail {

// What the user can do to one actionable node.
struct Handlers {
  std::function<void()> tap;
  std::function<void(bool)> setBool;
  std::function<void(std::string)> setText;
  std::vector<std::function<void()>> submit;
  std::function<void(bool)> focus;
  std::function<void()> dismiss;
  std::function<void(std::int64_t first, std::int64_t rowsShown)> scroll;
  std::optional<std::size_t> maxLength;
  bool disabled = false;
  bool refuseDismiss = false;
};

// A value of any equality-comparable type (picker tags, task ids, trigger values).
class AnyValue {
 public:
  AnyValue() = default;
  template <class T>
  static AnyValue of(T value) {
    AnyValue v;
    v.value_ = std::make_shared<std::any>(std::move(value));
    v.equals_ = [](const std::any& a, const std::any& b) {
      auto* x = std::any_cast<T>(&a);
      auto* y = std::any_cast<T>(&b);
      return x && y && *x == *y;
    };
    return v;
  }
  bool empty() const { return !value_; }
  bool operator==(const AnyValue& other) const {
    if (!value_ || !other.value_) return !value_ && !other.value_;
    return equals_(*value_, *other.value_);
  }
  template <class T>
  const T* as() const {
    return value_ ? std::any_cast<T>(value_.get()) : nullptr;
  }

 private:
  std::shared_ptr<std::any> value_;
  std::function<bool(const std::any&, const std::any&)> equals_;
};

// Title, toolbar and search of one navigation page, collected from its content.
struct NavCollector {
  std::optional<TextContent> title;
  std::optional<TitleDisplayMode> displayMode;
  std::optional<bool> backButtonHidden;
  std::vector<Node> toolbar;
  std::vector<Node> search;
  // Navigation links and isPresented destinations found on this page.
  std::map<std::string, std::function<View()>> links;
  struct Destination {
    std::string key;
    Binding<bool> isPresented;
    std::function<View()> content;
  };
  std::vector<Destination> destinations;
  // Pushes `key` right above this page.
  std::function<void(const std::string& key)> push;
  // The key of the page pushed right above this one; empty when none is.
  std::string pushed;
};

// The window of a lazy list (see node.h): rows are numbered across the list as ForEach
// elements meet it; those in [first, end) are built.
// Rows of a ForEach with RowIdentity::list (view.h) take the list's path and their id as
// identity ("list/[id]"), whichever ForEach or section they are in.
struct LazyRows {
  std::int64_t first = 0;
  std::int64_t end = 0;
  std::int64_t next = 0;  // the number the next row gets; the row count at the end
  bool any = false;       // a ForEach numbered rows here
  std::string path;       // the list's
  std::unordered_set<std::string> ids;  // of such rows built so far (a repeated one gets a suffix)
};

// Preferences a sheet takes from its content.
struct PresentationPrefs {
  std::optional<PresentationSizing> sizing;
  std::optional<bool> interactiveDismissDisabled;
};

// What building a memoised subtree did besides writing its nodes (see memo.h), so that a
// later render can repeat it without building: the storage it touched, the state it read
// (with the state's version then), the environment values it read, the actions it
// registered. A subtree whose build did anything a copy cannot repeat is not reusable.
struct MemoRecord {
  std::vector<void*> entries;  // Builder::StoreEntry*, stable until the entry is dropped
  std::vector<std::shared_ptr<const std::uint64_t>> stateVersions;
  std::vector<std::uint64_t> versionsSeen;
  std::vector<std::function<bool(const Environment&)>> environment;  // each: the value read is still there
  std::vector<std::string> actions;
  ObjectReads objects;  // observable objects read, with their send counts then
  // Memoised subtrees inside this one: this one is stale whenever one of them is.
  std::vector<std::shared_ptr<const bool>> nestedStale;
  bool reusable = true;

  void merge(const MemoRecord& inner) {
    entries.insert(entries.end(), inner.entries.begin(), inner.entries.end());
    stateVersions.insert(stateVersions.end(), inner.stateVersions.begin(), inner.stateVersions.end());
    versionsSeen.insert(versionsSeen.end(), inner.versionsSeen.begin(), inner.versionsSeen.end());
    environment.insert(environment.end(), inner.environment.begin(), inner.environment.end());
    actions.insert(actions.end(), inner.actions.begin(), inner.actions.end());
    objects.counts.insert(objects.counts.end(), inner.objects.counts.begin(), inner.objects.counts.end());
    objects.seen.insert(objects.seen.end(), inner.objects.seen.begin(), inner.objects.seen.end());
    nestedStale.insert(nestedStale.end(), inner.nestedStale.begin(), inner.nestedStale.end());
    reusable = reusable && inner.reusable;
  }
};

// Builder state that applies to a subtree; saved and restored around each modifier.
struct Scope {
  Environment env;
  bool hidden = false;
  bool disabled = false;
  NavCollector* nav = nullptr;
  PresentationPrefs* presentation = nullptr;
  // Runs after every button action built here (a dialog closes after any of its buttons).
  std::function<void()> afterAction;
  // Inside a List: its window, and the node list that holds its rows right now (the list's
  // children or a section's); a ForEach writing into any other list is not a list of rows.
  LazyRows* lazy = nullptr;
  std::vector<Node>* lazyRowsOut = nullptr;
  bool lazyInSection = false;
};

class Builder {
 public:
  struct StoreEntry {
    std::shared_ptr<void> data;
    std::function<void()> onDrop;
    std::uint64_t generation = 0;
    const std::type_info* type = nullptr;
  };
  using Store = std::unordered_map<std::string, StoreEntry>;

  Builder(Store& store, std::shared_ptr<Invalidator> invalidator, std::uint64_t generation);

  Scope scope;

  // Storage that outlives one render, keyed by identity. `make` runs when the key is new.
  // Entries not asked for during a render are dropped after it; `onDrop` then runs.
  template <class T>
  std::shared_ptr<T> persistent(const std::string& key, const std::function<std::shared_ptr<T>()>& make,
                                std::function<void(T&)> onDrop = {}) {
    auto& entry = store_[key];
    if (entry.data && entry.type != &typeid(T)) {
      // Another kind of view now has this identity: start afresh.
      if (entry.onDrop) entry.onDrop();
      entry = StoreEntry{};
    }
    if (!entry.data) {
      entry.type = &typeid(T);
      auto made = make();
      entry.data = made;
      if (onDrop) {
        entry.onDrop = [made, onDrop] { onDrop(*made); };
      }
    }
    entry.generation = generation_;
    if (recording) recording->entries.push_back(&entry);
    return std::static_pointer_cast<T>(entry.data);
  }

  template <class T>
  std::shared_ptr<StateBox<T>> stateBox(const std::string& key, const std::function<T()>& initial) {
    auto box = persistent<StateBox<T>>(key, [&] {
      auto box = std::make_shared<StateBox<T>>(StateBox<T>{initial(), invalidator_});
      return box;
    });
    if (recording) {
      recording->stateVersions.emplace_back(box, &box->version);
      recording->versionsSeen.push_back(box->version);
    }
    return box;
  }

  // The memoised subtree being built (memo.h), if any; told what the build reads and does.
  MemoRecord* recording = nullptr;
  // A view read the environment value of `Key`: a memoised subtree is reusable only while
  // the value stays the same (values that cannot be compared keep it from being reused).
  template <class Key>
  void environmentRead(const typename Key::Value& value) {
    if (!recording) return;
    if constexpr (std::equality_comparable<typename Key::Value>) {
      recording->environment.push_back([value](const Environment& env) { return env.get<Key>() == value; });
    } else {
      recording->reusable = false;
    }
  }
  template <class T>
  void environmentObjectRead(const std::shared_ptr<T>& object) {
    if (!recording) return;
    recording->environment.push_back(
        [address = object.get()](const Environment& env) { return env.objectIfPresent<T>().get() == address; });
    if constexpr (std::is_base_of_v<ObservableObject, T>) {
      if (object) recording->objects.read(object->objectWillChange());
    }
  }
  // Counts of what a subtree may leave behind; a memoised subtree that changed any of them
  // cannot be repeated from a copy.
  struct Marks {
    std::size_t afterRender, disappearing, presentations, tags;
    bool operator==(const Marks&) const = default;
  };
  Marks marks() const { return {afterRender_.size(), disappearing_.size(), presentations_.size(), tags_.size()}; }
  // Registers handlers again under an id of an earlier render; false when the id is taken.
  bool reregisterAction(const std::string& actionId, const Handlers& handlers) {
    return handlers_.emplace(actionId, handlers).second;
  }

  // "path#whatN", N counting the uses of `what` at `path` in this render.
  std::string subKey(const std::string& path, const char* what);

  // Sizes the action tables for about `count` actionable nodes (the last render's count).
  void reserveActions(std::size_t count) {
    handlers_.reserve(count);
  }
  // Registers the handlers of an actionable node: gives the node its action id and writes
  // the events the handlers take into it.
  void registerAction(Node& node, Handlers handlers);
  Handlers* handlers(const std::string& actionId);
  // Wraps an action so that it also runs the scope's afterAction.
  std::function<void()> wrapAction(std::function<void()> action) const;

  // Work to run once the render is complete, in the order queued.
  void afterRender(std::function<void()> work) { afterRender_.push_back(std::move(work)); }
  // Disappear handlers run before all other work of the render.
  void whenDisappearing(std::function<void()> work) { disappearing_.push_back(std::move(work)); }
  // Sheets and dialogs of the window, bottom-most first. Reserve a place, then fill it, so
  // that a presentation comes before the ones its content presents.
  std::size_t reservePresentation();
  // How many presentations were reserved so far (a view can tell whether its subtree
  // presented something).
  std::size_t presentationCount() const { return presentations_.size(); }
  void setPresentation(std::size_t index, Node node);

  std::map<std::string, AnyValue>& tags() { return tags_; }
  std::shared_ptr<Invalidator> invalidator() const { return invalidator_; }
  // Posts work to the main queue (started tasks).
  std::function<void(std::function<void()>)> post;
  std::uint64_t generation() const { return generation_; }

  // Used by the runtime once the pass is over.
  std::vector<std::function<void()>> takeAfterRender() {
    std::vector<std::function<void()>> all = std::move(disappearing_);
    for (auto& work : afterRender_) all.push_back(std::move(work));
    afterRender_.clear();
    disappearing_.clear();
    return all;
  }
  std::vector<Node> takePresentations();
  std::unordered_map<std::string, Handlers> takeHandlers() { return std::move(handlers_); }

 private:
  Store& store_;
  std::shared_ptr<Invalidator> invalidator_;
  std::uint64_t generation_;
  std::map<std::string, int> counters_;
  std::unordered_map<std::string, Handlers> handlers_;
  std::vector<std::function<void()>> afterRender_;
  std::vector<std::function<void()>> disappearing_;
  std::vector<std::optional<Node>> presentations_;
  std::map<std::string, AnyValue> tags_;
};

// Saves the builder's scope and puts it back at the end of a block.
class ScopeGuard {
 public:
  explicit ScopeGuard(Builder& b) : b_(b), saved_(b.scope) {}
  ~ScopeGuard() { b_.scope = std::move(saved_); }

 private:
  Builder& b_;
  Scope saved_;
};

}  // namespace platform::ui::detail
