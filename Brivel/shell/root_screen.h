// RootScreen: the top of the interface once the store is open. Two tabs, the bills list
// (always) and the forecast (while a profile is selected), tinted with the selected
// profile's colour ("sonicBlue" while none is). Whenever the scene phase changes, and
// whenever the number of profiles or of archived profiles changes, it hands every stored
// profile to the environment's ProfileManager, which re-selects the last picked one.
//
// It reads the ProfileManager and the store container from the environment (BrivelApp puts
// them there). Until the bills list and the forecast screens exist, each tab shows an
// empty state with a settings button in its toolbar; `collectionTab` and `forecastTab` are
// where the real screens plug in.
//
// The tab not shown is kept from its last build while nothing it read changed.
//
// Threads: main thread; both restore tasks run on the main queue.
#pragma once

#include <functional>
#include <memory>

#include "Brivel/model/profile_entity.h"
#include "platform/ui/view.h"

namespace brivel {

// The bills tab until the bills list exists: an empty state (no profile selected, or no
// bills) and a toolbar button that opens the settings sheet.
struct InterimCollectionTab {
  platform::ui::View body(platform::ui::Context& ctx) const;
};

// The forecast tab until the forecast exists: an empty state and the settings button.
struct InterimForecastTab {
  std::shared_ptr<ProfileEntity> profile;
  platform::ui::View body(platform::ui::Context& ctx) const;
};

struct RootScreen {
  std::function<platform::ui::View()> collectionTab = [] { return platform::ui::View(InterimCollectionTab{}); };
  std::function<platform::ui::View(const std::shared_ptr<ProfileEntity>&)> forecastTab =
      [](const std::shared_ptr<ProfileEntity>& profile) { return platform::ui::View(InterimForecastTab{profile}); };

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
