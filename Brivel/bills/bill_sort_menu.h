// The sort menu of the bills list: the bill order (name, cost, date added), the grouping
// (off, by bank account, by category) and, while grouped, the order of the accounts or
// categories. Each entry writes one of the profile's four stored choices as an animated
// change; the store's automatic save keeps it. A sort entry's image shows whether its key is
// active ascending (".badge.arrow.up"), active reversed (".badge.arrow.down") or inactive.
//
//   Menu(Label(keyText(localizable_sort), SystemImage("arrow.up.arrow.down")), billSortMenuItems(profile))
//
// Threads: main thread.
#pragma once

#include <memory>
#include <vector>

#include "Brivel/model/profile_entity.h"
#include "platform/ui/view.h"

namespace brivel {

std::vector<platform::ui::View> billSortMenuItems(const std::shared_ptr<ProfileEntity>& profile);

}  // namespace brivel
