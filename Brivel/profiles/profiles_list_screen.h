// ProfilesListScreen: where the user manages profiles. It lists every profile that is not
// archived as a card (by name), selects one on a tap (and closes), archives or removes one,
// opens the add sheet and the archive, and, while the legacy bill list still holds bills,
// offers a "backup" row that opens the legacy import or deletes the legacy lists.
//
// The bills list and the forecast present it in a page-sized sheet and hand it their flag
// for showing it as `dismiss`; every way out of the screen toggles that flag:
//
//   .sheet(showUsersListScreen.binding(), [flag = showUsersListScreen.binding()] {
//     return View(ProfilesListScreen{flag}).presentationSizing(PresentationSizing::page);
//   })
//
// Reads from the environment: the store container, ProfileManager, BillViewModel,
// RingViewModel and UserDefaultsManager (for the add and import screens).
// Threads: main thread; a removal runs a moment later as a block on the main queue.
#pragma once

#include "platform/ui/view.h"

namespace brivel {

struct ProfilesListScreen {
  // The presenter's sheet flag; true while the screen is shown.
  platform::ui::Binding<bool> dismiss;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
