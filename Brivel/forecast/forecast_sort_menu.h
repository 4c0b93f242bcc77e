// The sort menu of the forecast's bill lists and of a month screen: the bill order by name,
// cost or date added. An entry picks its key's ascending order, or the reversed one when the
// ascending one is current, as an animated change of the profile's `billSortType` (the main
// bills list follows the same choice); the store's automatic save keeps it. The entries'
// images show the current order; the date entry shows "calendar" arrows while active and a
// clock otherwise.
//
//   ToolbarItem(ToolbarPlacement::primaryAction, forecastSortMenu(profile))
//
// Threads: main thread.
#pragma once

#include <memory>
#include <string>

#include "Brivel/model/profile_entity.h"
#include "platform/ui/view.h"

namespace brivel {

platform::ui::View forecastSortMenu(const std::shared_ptr<ProfileEntity>& profile);

// The image of the date entry under the order `current`.
std::string dateSortImage(BillSortType current);

}  // namespace brivel
