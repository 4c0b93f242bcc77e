// ForecastMonthItemScreen: one month of the forecast, pushed from its card. It lists the
// month's bills in the profile's bill order (the toolbar's sort menu changes that order for
// the main bills list too) and floats a summary card (count and cost) whose tap opens the
// left-to-pay checklist and retires the left-to-pay tip for good. A month without bills
// shows an empty state instead.
//
//   NavigationLink(card, [=] { return View(ForecastMonthItemScreen{profile, values}); })
//
// The month's bills, count and cost are taken from the profile's kept year records at each
// render, so a bill edited or deleted from its row shows at once; `values` names the month
// (and stands as given when its key is no month). The rows come in the bills list's kept
// order, read off it again only when the order, the locale or one of the month's bills
// changed; bills the month only gained (a bill added) are put into the kept rows one by one.
// The screen lives on its presenter's navigation stack.
// Threads: main thread.
#pragma once

#include <memory>

#include "Brivel/forecast/forecast_figures.h"
#include "Brivel/model/profile_entity.h"
#include "platform/ui/view.h"

namespace brivel {

struct ForecastMonthItemScreen {
  std::shared_ptr<ProfileEntity> profile;
  std::shared_ptr<const ForecastMonthValues> values;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

// The month record of `values`' month from the profile's current bills, shared with its kept
// year records; `values` itself when its key is none of the twelve months.
std::shared_ptr<const ForecastMonthValues> currentMonthValues(const ProfileEntity& profile,
                                                              std::shared_ptr<const ForecastMonthValues> values);

}  // namespace brivel
