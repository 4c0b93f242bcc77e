// ProfilesAddScreen: the sheet in which the user creates a profile from a name and a colour.
//
// Saving stores a new profile in the main store context. The very first profile (none is
// selected) becomes the selected one and the presenter's `completion` closes the whole
// profiles list; a later profile is stored without being selected, and the form then closes
// (with "popViewAfterSaveAndUpdate" on) or clears its name and shows the "added" toast. A
// failed save is printed, takes the new profile back out of the context (so that saving again
// makes no duplicate) and leaves the form as it was.
//
//   ProfilesAddScreen{showCreateProfileScreen.binding(), [dismiss] { dismiss.set(!dismiss.get()); }}
//
// Reads from the environment: the store container, UserDefaultsManager, ProfileManager.
// Threads: main thread.
#pragma once

#include <functional>
#include <string>

#include "Brivel/shell/palette.h"
#include "platform/ui/observable.h"
#include "platform/ui/view.h"

namespace brivel {

// The form state of the add screen; lives as long as the presented sheet.
class ProfilesAddScreenViewModel : public platform::ui::ObservableObject {
 public:
  platform::ui::Published<std::string> name{*this, ""};
  platform::ui::Published<ColorValue> selectedColor{*this, assetColor("appleRed")};
  // Toggled after each successful save; plays the success haptic.
  platform::ui::Published<bool> savedHaptic{*this, false};
  // The "added" toast is shown while true.
  platform::ui::Published<bool> savedToastMessage{*this, false};
};

struct ProfilesAddScreen {
  // The presenter's flag for showing this sheet; toggling it closes the sheet.
  platform::ui::Binding<bool> dismiss;
  // Run after the first profile was created and selected.
  std::function<void()> completion;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
