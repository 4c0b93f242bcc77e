// ForecastMonthView: the card of one month in the forecast's year overview: the month's
// name, how many bills fall due in it and their cost, and (while the profile shows it) what
// is left of that month's salary. A tap pushes the month screen; the context menu opens the
// left-to-pay checklist in a page-sized sheet of the card.
//
//   auto january = std::make_shared<const ForecastMonthValues>(monthValues(*profile, 0));
//   View(ForecastMonthView{profile, january})
//
// The record is shared, not copied, by the card's link and sheet: a month can hold thousands
// of bills and the year overview draws twelve cards at every change.
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
  std::shared_ptr<const ForecastMonthValues> values;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

// The left-to-pay sheet of a month, as the month card and the month screen present it.
platform::ui::View leftToPaySheet(platform::ui::View content, const platform::ui::State<bool>& showCalculateSheet,
                                  const std::shared_ptr<ProfileEntity>& profile,
                                  std::shared_ptr<const ForecastMonthValues> values);

}  // namespace brivel
