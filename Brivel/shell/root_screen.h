// RootScreen: the top of the interface once the store is open. Two tabs, the bills list
// (always) and the forecast (while a profile is selected), tinted with the selected
// profile's colour ("sonicBlue" while none is). Whenever the scene phase changes, and
// whenever the number of profiles or of archived profiles changes, it hands every stored
// profile to the environment's ProfileManager, which re-selects the last picked one.
//
// It reads the ProfileManager and the store container from the environment (BrivelApp puts
// them there). The tabs' screens live above the shell: the program hands them in as
// `collectionTab` and `forecastTab`; a tab left unset is empty.
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

struct RootScreen {
  std::function<platform::ui::View()> collectionTab;
  std::function<platform::ui::View(const std::shared_ptr<ProfileEntity>&)> forecastTab;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
