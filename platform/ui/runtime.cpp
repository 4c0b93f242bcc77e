#include "platform/ui/runtime.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <map>
#include <utility>
#include <vector>

#include <unicode/ustring.h>

#include "platform/dispatch/queue.h"
#include "platform/foundation/text.h"
#include "platform/observation/observation.h"
#include "platform/ui/observable.h"
#include "platform/ui/services.h"

namespace platform::ui {

std::string typeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}

void fatalError(const std::string& message) {
  std::fprintf(stderr, "Fatal error: %s\n", message.c_str());
  std::fflush(stderr);
  std::abort();
}

namespace {
// Text from a renderer is untrusted: only well-formed UTF-8 reaches a binding.
bool isWellFormedUtf8(const std::string& text) {
  if (text.size() > static_cast<std::size_t>(INT32_MAX)) return false;
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
  return status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status);
}

// Passes of one render before the runtime gives up on a view that keeps changing its own
// state. A rule that shortens a text one character per pass (a pasted number cut to two
// decimals) needs one pass per character, so this is well above any field's length.
constexpr int kMaxPasses = 256;
}  // namespace

struct ViewRuntime::Impl {
  // Forwards state changes to the runtime while it exists.
  struct Forwarder final : detail::Invalidator {
    Impl* impl = nullptr;
    void stateChanged() override {
      if (impl) impl->markDirty();
    }
  };

  std::function<View()> root;
  Poster poster;
  bool usesMainQueue = true;  // false with a caller's poster, which decides the thread
  std::shared_ptr<Forwarder> forwarder = std::make_shared<Forwarder>();
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);

  detail::Builder::Store store;
  std::unordered_map<std::string, detail::Handlers> handlers;
  Node tree;
  std::uint64_t version = 0;
  std::uint64_t generation = 0;
  bool rendered = false;
  bool dirty = true;
  bool rendering = false;     // inside render() or dispatch(): no deferred render needed
  bool renderPosted = false;
  ScenePhase scenePhase = ScenePhase::active;
  std::uint64_t anyChangeToken = 0;
  platform::ObservationTracking tracking;
  std::map<ObserverId, RenderObserver> observers;
  ObserverId nextObserver = 1;

  void markDirty() {
    if (usesMainQueue && !platform::MainLoop::isMainThread()) {
      // Observed data changed on another thread: note it on the main thread.
      std::weak_ptr<bool> weak = alive;
      auto self = this;
      poster([weak, self] {
        if (!weak.expired()) self->markDirty();
      });
      return;
    }
    dirty = true;
    if (rendering || renderPosted || !rendered) return;
    renderPosted = true;
    std::weak_ptr<bool> weak = alive;
    auto self = this;
    poster([weak, self] {
      if (weak.expired()) return;
      self->renderPosted = false;
      if (self->dirty) self->renderNow();
    });
  }

  // One evaluation of the tree and its lifecycle.
  void pass() {
    dirty = false;
    ++generation;
    detail::Builder builder(store, forwarder, generation);
    builder.post = poster;
    builder.reserveActions(handlers.size());
    builder.scope.env = builder.scope.env.with<ScenePhaseKey>(scenePhase);

    Node window;
    window.kind = NodeKind::window;
    window.identity = "window";
    Appearance appearance = Appearance::current();
    window.attrs[Attr::appearanceTableShowsVerticalScrollIndicator] = appearance.tableShowsVerticalScrollIndicator;
    if (appearance.segmentedSelectedTint) {
      window.attrs[Attr::appearanceSegmentedSelectedTint] = *appearance.segmentedSelectedTint;
    }
    if (appearance.segmentedSelectedTitleColor) {
      window.attrs[Attr::appearanceSegmentedSelectedTitleColor] = *appearance.segmentedSelectedTitleColor;
    }
    if (appearance.segmentedNormalTitleColor) {
      window.attrs[Attr::appearanceSegmentedNormalTitleColor] = *appearance.segmentedNormalTitleColor;
    }
    std::weak_ptr<bool> weak = alive;
    auto self = this;
    // Any store property read while building re-renders the tree when it changes. The
    // tracking of the previous pass is replaced, so unchanged objects collect no observers.
    tracking.cancel();
    tracking = platform::withObservationTracking([&] { root().build(builder, "r", window.children); },
                                      [weak, self] {
                                        if (!weak.expired()) self->markDirty();
                                      });
    auto presentations = builder.takePresentations();
    if (!presentations.empty()) window.slots["presentations"] = std::move(presentations);
    // The previous tree, its handlers and the storage of what left the tree are freed after
    // this action is answered, not while the page waits.
    auto garbage = std::make_shared<Garbage>();
    garbage->handlers = std::exchange(handlers, builder.takeHandlers());
    garbage->tree = std::exchange(tree, std::move(window));
    ++version;
    rendered = true;

    // Drop what left the tree, then run the lifecycle work in the order it was queued.
    std::vector<std::function<void()>> dropped;
    for (auto it = store.begin(); it != store.end();) {
      if (it->second.generation != generation) {
        if (it->second.onDrop) dropped.push_back(std::move(it->second.onDrop));
        garbage->storage.push_back(std::move(it->second.data));
        it = store.erase(it);
      } else {
        ++it;
      }
    }
    auto work = builder.takeAfterRender();
    for (auto& w : dropped) w();
    for (auto& w : work) w();
    garbage->work.push_back(std::move(dropped));
    garbage->work.push_back(std::move(work));
    poster([garbage] {});
  }

  // What one pass replaced, kept until the main queue gets to it.
  struct Garbage {
    Node tree;
    std::unordered_map<std::string, detail::Handlers> handlers;
    std::vector<std::shared_ptr<void>> storage;
    std::vector<std::vector<std::function<void()>>> work;
  };

  // Sets `rendering` for a scope, and puts it back even when a view throws.
  struct RenderingScope {
    explicit RenderingScope(Impl& impl) : impl(impl), was(impl.rendering) { impl.rendering = true; }
    ~RenderingScope() { impl.rendering = was; }
    Impl& impl;
    bool was;
  };

  void renderNow() {
    RenderingScope scope(*this);
    int passes = 0;
    do {
      pass();
      if (++passes >= kMaxPasses && dirty) {
        std::fprintf(stderr, "ViewRuntime: the tree kept changing while it rendered; stopped after %d passes\n",
                     passes);
        break;
      }
    } while (dirty);
    dirty = false;
    auto current = observers;
    for (auto& [id, observer] : current) observer(tree, version);
  }
};

ViewRuntime::ViewRuntime(std::function<View()> root, Poster poster) : impl_(std::make_unique<Impl>()) {
  impl_->root = std::move(root);
  impl_->usesMainQueue = !poster;
  impl_->poster = poster ? std::move(poster) : Poster([](std::function<void()> work) {
    platform::DispatchQueue::main()->async(std::move(work));
  });
  impl_->forwarder->impl = impl_.get();
  std::weak_ptr<bool> weak = impl_->alive;
  Impl* impl = impl_.get();
  impl_->anyChangeToken = addAnyChangeObserver([weak, impl] {
    if (!weak.expired()) impl->markDirty();
  });
  impl_->tree.kind = NodeKind::window;
  impl_->tree.identity = "window";
}

ViewRuntime::~ViewRuntime() {
  removeAnyChangeObserver(impl_->anyChangeToken);
  impl_->tracking.cancel();
  impl_->forwarder->impl = nullptr;
  impl_->alive.reset();
  // Tasks and disappear handlers of the views still shown are not run: the host is gone.
  impl_->store.clear();
}

const Node& ViewRuntime::render() {
  if (!impl_->rendered || impl_->dirty) impl_->renderNow();
  return impl_->tree;
}

const Node& ViewRuntime::tree() const { return impl_->tree; }
std::uint64_t ViewRuntime::version() const { return impl_->version; }

DispatchStatus ViewRuntime::dispatch(const ActionEvent& event) {
  auto found = impl_->handlers.find(event.actionId);
  if (event.actionId.empty() || found == impl_->handlers.end()) return DispatchStatus::unknownAction;
  detail::Handlers h = found->second;  // the handlers are replaced by the render below
  if (h.disabled) return DispatchStatus::disabled;

  const bool* boolValue = std::get_if<bool>(&event.value);
  const std::string* textValue = std::get_if<std::string>(&event.value);
  std::function<void()> run;
  switch (event.kind) {
    case EventKind::tap:
      if (h.tap) run = h.tap;
      break;
    case EventKind::setValue:
      if (boolValue && h.setBool) {
        run = [&] { h.setBool(*boolValue); };
      } else if (textValue && h.setText && isWellFormedUtf8(*textValue)) {
        std::string text = *textValue;
        if (h.maxLength && platform::graphemeCount(text) > *h.maxLength) {
          text = platform::graphemePrefix(text, *h.maxLength);
        }
        run = [&h, text] { h.setText(text); };
      }
      break;
    case EventKind::submit:
      if (h.setText) {
        run = [&] {
          for (auto& submit : h.submit) submit();
        };
      }
      break;
    case EventKind::focus:
      if (boolValue && h.setText) {
        run = [&] {
          if (h.focus) h.focus(*boolValue);
        };
      }
      break;
    case EventKind::dismiss:
      if (h.dismiss && !h.refuseDismiss) run = h.dismiss;
      break;
    case EventKind::scroll:
      if (const std::int64_t* row = std::get_if<std::int64_t>(&event.value); row && *row >= 0 && h.scroll) {
        run = [&h, row = *row, shownRows = event.rowsShown] { h.scroll(row, shownRows); };
      }
      break;
  }
  if (!run) return DispatchStatus::refused;

  bool nested = impl_->rendering;
  // A field's focus is the runtime's own state, so a focus event that changed nothing (the page
  // telling what the app itself set) needs no render; other handlers may change data the
  // runtime cannot see.
  const bool focusOnly = event.kind == EventKind::focus;
  const bool wasDirty = impl_->dirty;
  if (focusOnly) impl_->dirty = false;
  {
    Impl::RenderingScope scope(*impl_);
    run();
  }
  impl_->dirty = !focusOnly || impl_->dirty || wasDirty;
  if (!nested && impl_->dirty) impl_->renderNow();
  return DispatchStatus::handled;
}

void ViewRuntime::invalidate() { impl_->markDirty(); }
bool ViewRuntime::needsRender() const { return impl_->dirty; }

namespace {
std::atomic<ScenePhase> lastScenePhase{ScenePhase::active};
}  // namespace

ScenePhase currentScenePhase() { return lastScenePhase.load(); }

void ViewRuntime::setScenePhase(ScenePhase phase) {
  lastScenePhase = phase;
  if (impl_->scenePhase == phase) return;
  impl_->scenePhase = phase;
  impl_->markDirty();
}

ScenePhase ViewRuntime::scenePhase() const { return impl_->scenePhase; }

ViewRuntime::ObserverId ViewRuntime::addRenderObserver(RenderObserver observer) {
  ObserverId id = impl_->nextObserver++;
  impl_->observers[id] = std::move(observer);
  return id;
}

void ViewRuntime::removeRenderObserver(ObserverId id) { impl_->observers.erase(id); }

}  // namespace platform::ui
