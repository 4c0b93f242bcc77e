// ForecastMonthLeftToPayScreen: one month of the forecast as a checklist, in a sheet. A tap
// on an unpaid bill marks it paid, a tap on a paid bill unmarks it, and the reset button
// unmarks all. The sheet shows what is left to pay (count and amount, or "all paid", which
// runs the review rule each time it comes on screen), the unpaid bills grouped by the
// profile's bank accounts and an uncategorized group, and the paid bills sorted by name.
//
//   .sheet(showCalculateSheet.binding(), [=] {
//     return View(ForecastMonthLeftToPayScreen{showCalculateSheet.binding(), profile, values, {}})
//         .presentationSizing(PresentationSizing::page);
//   })
//
// The marks live only while the sheet is open; nothing is written to any record. The sheet
// cannot be swiped away: its "xmark" button toggles `dismiss`.
// Threads: main thread.
#pragma once

#include <memory>

#include "Brivel/forecast/forecast_figures.h"
#include "Brivel/model/profile_entity.h"
#include "platform/ui/state.h"
#include "platform/ui/view.h"

namespace brivel {

struct ForecastMonthLeftToPayScreen {
  platform::ui::Binding<bool> dismiss;  // the presenter's sheet flag
  std::shared_ptr<ProfileEntity> profile;
  ForecastMonthValues values;  // the month as the forecast has it when the sheet opens
  BillList payedBills;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
