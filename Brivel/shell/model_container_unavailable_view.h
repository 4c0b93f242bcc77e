// ModelContainerUnavailableView: the whole interface of a process whose store could not be
// opened. It says that the app cannot run and why (the reason the store refused to open), that
// no file was changed, and offers a link for writing to support. It has no state and touches
// no store.
//
// Threads: main thread.
#pragma once

#include "platform/ui/view.h"

namespace brivel {

struct ModelContainerUnavailableView {
  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
