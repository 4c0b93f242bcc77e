// ForecastMonthView: the card of one month in the forecast's year overview: the month's
// name, how many bills fall due in it and their cost, and (while the profile shows it) what
// is left of that month's salary. A tap pushes the month screen; the context menu opens the
// left-to-pay checklist in a page-sized sheet of the card.
//
//   ForEach(year, ..., [&](const ForecastMonthValues& values) { return View(ForecastMonthView{profile, values}); })
//
// Reads the profile (spendable switch and salary); writes nothing.
// Threads: main thread.
#pragma once

#include <memory>

#include "Brivel/forecast/forecast_figures.h"
#include "Brivel/model/profile_entity.h"
#include "platform/ui/view.h"

namespace brivel {

struct ForecastMonthView {
  std::shared_ptr<ProfileEntity> profile;
  ForecastMonthValues values;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

// The left-to-pay sheet of a month, as the month card and the month screen present it.
platform::ui::View leftToPaySheet(platform::ui::View content, const platform::ui::State<bool>& showCalculateSheet,
                                  const std::shared_ptr<ProfileEntity>& profile, const ForecastMonthValues& values);

}  // namespace brivel
