// ForecastScreen: the forecast tab of the selected profile. A segmented picker chooses the
// year overview (twelve month cards, January first) or the profile's monthly, quarterly or
// yearly bills in the profile's bill order, each kind with an empty state when it has none.
// The toolbar's profile menu opens, each in a sheet of its own, the profile editor, the
// profile's favourite side screen (bank accounts, categories, notes or salary), the
// profiles list and the settings; its trailing menu switches the month cards' spendable
// figure (year overview) or sets the bill order (the lists).
//
//   RootScreen root;
//   root.forecastTab = [](const auto& profile) { return View(ForecastScreen{profile}); };
//
// The screen writes only the profile's `showSpendable` and `billSortType`; the store's
// automatic save keeps them. The bank-account, category and notes sheets come from
// BillsNeighbourScreensKey, each closing through its own sheet's dismiss action. A profile
// that has been deleted shows nothing and is not read.
// Threads: main thread.
#pragma once

#include <memory>

#include "Brivel/model/profile_entity.h"
#include "platform/ui/view.h"

namespace brivel {

struct ForecastScreen {
  std::shared_ptr<ProfileEntity> profile;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
