// ViewRuntime: hosts one view tree, keeps its state, runs its lifecycle and its actions.
//
// The runtime owns the state of every view it shows, keyed by view identity (structural
// position plus ForEach ids); state whose identity leaves the tree is dropped. A render
// evaluates the root view into a Node tree (node.h), then runs the lifecycle: appear and
// disappear from the difference of visible identities, onChange/sensoryFeedback/symbolEffect
// triggers compared with the previous render, and keyed tasks. Handlers that change state
// cause one more render in the same pass.
//
// Threads: everything runs on the main thread (the thread that pumps platform::MainLoop).
// Renderers on other threads post to DispatchQueue::main() and wait. When state changes
// outside an action (a timer, an observed object or entity), the runtime posts one render
// to the main queue; render observers then hear about the new tree.
//
// Example:
//   ViewRuntime runtime([] { return View(SettingsScreen{...}); });
//   const Node& tree = runtime.render();
//   runtime.dispatch({someActionId, EventKind::tap, {}});
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/ui/node.h"
#include "platform/ui/view.h"

namespace platform::ui {

class ViewRuntime {
 public:
  using RenderObserver = std::function<void(const Node& tree, std::uint64_t version)>;
  using ObserverId = std::uint64_t;
  // How a deferred render (and a started task) is scheduled; the default posts to
  // platform::DispatchQueue::main() and also moves changes reported on other threads there.
  // With a poster of its own the runtime belongs to the caller's thread.
  using Poster = std::function<void(std::function<void()>)>;

  explicit ViewRuntime(std::function<View()> root, Poster poster = {});
  ~ViewRuntime();
  ViewRuntime(const ViewRuntime&) = delete;
  ViewRuntime& operator=(const ViewRuntime&) = delete;

  // Renders when nothing was rendered yet or something changed since; answers the latest
  // tree. The reference stays valid until the next render.
  const Node& render();
  // The latest tree without rendering.
  const Node& tree() const;
  // Counts renders; a renderer can tell a new tree by it.
  std::uint64_t version() const;

  // Runs the handler of an action of the latest render, then renders (once for the whole
  // action, so onChange sees one change however many writes the handler made). Text
  // values are cut to the field's length limit (in user-perceived characters) before the
  // binding sees them; text that is not well-formed UTF-8 is refused.
  DispatchStatus dispatch(const ActionEvent& event);

  // Marks the tree stale and posts one render.
  void invalidate();
  bool needsRender() const;

  // The scene phase every view reads from the environment; a change re-renders.
  void setScenePhase(ScenePhase phase);
  ScenePhase scenePhase() const;

  ObserverId addRenderObserver(RenderObserver observer);
  void removeRenderObserver(ObserverId id);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The scene phase most recently given to any runtime (active before any): whether the app's
// window is in the foreground, for code without a view, such as a deferred review request.
ScenePhase currentScenePhase();

}  // namespace platform::ui
