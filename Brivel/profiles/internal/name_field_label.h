// The label of the name row in the profile forms (add and edit): "localizable_name" in the
// secondary style. A plain function of nothing; the returned view keeps no state.
//
// Threads: main thread, like the views.
#pragma once

#include "platform/ui/view.h"

namespace brivel::profiles_internal {

platform::ui::View nameFieldLabel();

}  // namespace brivel::profiles_internal
