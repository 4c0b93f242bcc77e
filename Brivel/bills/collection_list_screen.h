// CollectionListScreen: the bills tab. It lists the selected profile's bills as one run of
// cards or in sections per bank account or per category (with an "uncategorized" section
// last), in the profile's sort order, searchable by name, and explains an empty list (no
// profile selected, a profile without bills, a search without results). Its toolbar opens
// the profile editor, the profile's favourite side list, the profiles list, the settings,
// the sort menu and the new-bill editor, each as a sheet.
//
//   RootScreen{.collectionTab = [] { return View(CollectionListScreen{}); }}
//
// The screen writes no stored data itself: the sort menu writes the profile's choices, the
// cards delete, and the sheets do the rest. Reads ProfileManager, UserDefaultsManager, the
// store container and BillsNeighbourScreensKey from the environment.
// Threads: main thread.
#pragma once

#include "platform/ui/view.h"

namespace brivel {

struct CollectionListScreen {
  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
