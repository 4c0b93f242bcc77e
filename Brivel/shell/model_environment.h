// The store container in the view environment.
//
// The scene puts the shared container into the environment of the root screen with
// modelContainer(); every screen below reads it with modelContainer(ctx) and works on its
// main context (modelContext(ctx)).
//
// Threads: main thread, like the views.
#pragma once

#include <memory>

#include "platform/data/model_container.h"
#include "platform/ui/view.h"

namespace brivel {

struct ModelContainerKey {
  using Value = std::shared_ptr<platform::ModelContainer>;
  static Value defaultValue() { return {}; }
};

// `content` with `container` in its environment.
inline platform::ui::View modelContainer(const platform::ui::View& content,
                                         std::shared_ptr<platform::ModelContainer> container) {
  return content.environment<ModelContainerKey>(std::move(container));
}

// The container of the environment; stops the program when none was supplied (a
// programming error, as with a missing environment object).
inline std::shared_ptr<platform::ModelContainer> modelContainer(const platform::ui::Context& ctx) {
  auto container = ctx.environment<ModelContainerKey>();
  if (!container) platform::ui::fatalError("No model container found in the environment.");
  return container;
}

inline platform::ModelContext& modelContext(const platform::ui::Context& ctx) {
  return modelContainer(ctx)->mainContext();
}

}  // namespace brivel
