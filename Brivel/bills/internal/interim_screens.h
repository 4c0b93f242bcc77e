// The interim stand-in for the salary sheet, which is not built yet (see neighbour_screens.h):
// an empty-state sheet with a close button.
//
// Threads: main thread.
#pragma once

#include <string_view>

#include "platform/ui/environment.h"
#include "platform/ui/view.h"

namespace brivel::bills_internal {

// A titled page with an empty state and an "xmark" button that calls `dismiss`.
struct InterimListScreen {
  std::string_view titleKey;
  std::string_view emptyTitleKey;
  std::string_view emptyDescriptionKey;
  std::string_view symbol;
  platform::ui::DismissAction dismiss;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel::bills_internal
