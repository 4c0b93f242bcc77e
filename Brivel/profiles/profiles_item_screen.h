// ProfilessItemScreen (sic, with a double "s"): the detail and edit screen of one profile.
//
// One form: the name and colour (written to the profile by "Update"), four rows that open the
// profile's bank accounts, categories, notes and salary and that each can be set as the
// profile's favourite quick action (at once, from the row's context menu or swipe), and the
// profile's yearly figures. The screen never saves the store itself; the store's automatic
// save writes the changes.
//
// Shown in a sheet of its own from the bills list and the forecast (`viewInSheet` true: a
// leading "xmark" closes it) or pushed by a profile card's edit link (`viewInSheet` false).
//
//   ProfilessItemScreen{.viewInSheet = true, .profile = profileManager->selectedUser()}
//
// Reads UserDefaultsManager from the environment, and ProfileCollectionScreensKey for the
// four pushed screens (the collections and salary screens plug themselves in there).
// Threads: main thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Brivel/model/profile_entity.h"
#include "Brivel/shell/palette.h"
#include "platform/ui/environment.h"
#include "platform/ui/observable.h"
#include "platform/ui/view.h"

namespace brivel {

// The screens the edit screen pushes for a profile. Each is built with the profile and the
// environment's dismiss action, in its pushed form (no close button of its own).
struct ProfileCollectionScreens {
  using Make = std::function<platform::ui::View(const std::shared_ptr<ProfileEntity>&, platform::ui::DismissAction)>;
  Make bankAccounts;
  Make categories;
  Make notes;
  Make salary;
};

// The app puts the collections' and the salary screens here (Brivel/app/main.cpp); a row
// whose screen is not put here opens an empty page.
struct ProfileCollectionScreensKey {
  using Value = ProfileCollectionScreens;
  static Value defaultValue();
};

// The form state of the edit screen: the unsaved name and colour and the toast triggers.
class ProfilesItemScreenViewModel : public platform::ui::ObservableObject {
 public:
  platform::ui::Published<std::string> name{*this, ""};
  platform::ui::Published<ColorValue> selectedColor{*this, assetColor("appleRed")};
  platform::ui::Published<bool> savedHaptic{*this, false};
  platform::ui::Published<bool> savedToastMessage{*this, false};
  platform::ui::Published<bool> quickActionToastMessage{*this, false};
};

struct ProfilessItemScreen {
  bool viewInSheet = false;
  std::shared_ptr<ProfileEntity> profile;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
