// The label of the red delete rows: "localizable_delete" in bold white headline beside a
// white "trash" symbol. The collections screens will publish the shared version; until then
// the bill detail screen keeps this one.
//
// Threads: main thread.
#pragma once

#include "platform/ui/view.h"

namespace brivel::bills_internal {

platform::ui::View deleteRowLabel();

}  // namespace brivel::bills_internal
