// The profile menu and its sheets, as the bills list and the forecast both offer them: the
// menu's entries (the profile's name opens its editor, its favourite list, a divider, the
// profiles list and the settings) and the seven sheets they open. The bank-account, category,
// note and salary sheets come from the neighbour screens (neighbour_screens.h); each closes
// itself through its sheet's dismiss action.
//
//   auto sheets = ProfileSheets::state(ctx);
//   View menu = ControlGroup(SystemImage("person.crop.circle.fill"), sheets.menuEntries(profile));
//   return sheets.present(NavigationStack(content), [profile] { return profile; });
//
// Threads: main thread, like the views.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "Brivel/model/profile_entity.h"
#include "platform/ui/state.h"
#include "platform/ui/view.h"

namespace brivel {

struct ProfileSheets {
  platform::ui::State<bool> showEditUsersListScreen;
  platform::ui::State<bool> showBankAccountsListScreen;
  platform::ui::State<bool> showCategoriesListScreen;
  platform::ui::State<bool> showNotesListScreen;
  platform::ui::State<bool> showSalaryListScreen;
  platform::ui::State<bool> showUsersListScreen;
  platform::ui::State<bool> showSettingsScreen;

  // The seven flags as the screen's view state, all false at first.
  static ProfileSheets state(platform::ui::Context& ctx);

  // The menu's entries for `profile`; without one, the profiles list and the settings alone.
  std::vector<platform::ui::View> menuEntries(const std::shared_ptr<ProfileEntity>& profile) const;

  // `content` with the seven sheets. `profile` is asked when a sheet is shown; a profile sheet
  // shows nothing while there is none.
  platform::ui::View present(platform::ui::View content,
                             std::function<std::shared_ptr<ProfileEntity>()> profile) const;
};

}  // namespace brivel
