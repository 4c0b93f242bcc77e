// ProfilesImportScreen: turns the earlier generation's data (the legacy ring and bill lists
// and the legacy salary settings) into one new profile.
//
// The user names the profile and picks its colour, sees the rings and bills that will be
// imported, and starts the import. It runs in three paced steps on the main queue, 0.66 s
// apart: the rings become categories (progress 33), the bills and the salary are copied (66),
// and the profile is inserted, saved and selected (100). When the save fails, nothing is
// selected, the unsaved profile is taken back out of the store context, the screen shows the
// failure (no success haptic, no "imported" toast, no 100) and closing it keeps the legacy
// lists whatever the delete-backup switch says. After a success the screen lists the
// imported profile's bills and "Close" deletes the legacy lists while the switch is on, then
// runs `completion` (the profiles list passes the review rule).
//
//   ProfilesImportScreen{std::make_shared<ProfilesImportScreenViewModel>(),
//                        [] { ReviewHandler::requestReviewIfAppropriate(); }}
//
// The name is taken exactly as typed (not trimmed). Reads from the environment: the store
// container, BillViewModel, RingViewModel, UserDefaultsManager and ProfileManager.
// Threads: main thread; the paced steps are main-queue blocks that own what they touch.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "Brivel/model/profile_entity.h"
#include "Brivel/shell/palette.h"
#include "platform/ui/observable.h"
#include "platform/ui/view.h"

namespace brivel {

// Shown on the result when the imported profile could not be saved.
inline constexpr std::string_view localizable_importFailed = "localizable_importFailed";

// Seconds between the import's steps.
inline constexpr double kImportStepDelaySeconds = 0.66;

class ProfilesImportScreenViewModel : public platform::ui::ObservableObject {
 public:
  platform::ui::Published<std::string> name{*this, ""};
  platform::ui::Published<ColorValue> selectedColor{*this, assetColor("appleRed")};
  // False: the input form is shown; true: the progress of the running or finished import.
  platform::ui::Published<bool> importIsInProgress{*this, false};
  // 0, 33, 66, then 100 once the imported profile is saved.
  platform::ui::Published<double> progress{*this, 0.0};
  platform::ui::Published<bool> importFinishedHaptic{*this, false};
  platform::ui::Published<bool> savedToastMessage{*this, false};
  // Whether closing the finished import deletes the legacy lists.
  platform::ui::Published<bool> deleteBackup{*this, true};
  // The save of the imported profile failed; the import ends without a profile.
  platform::ui::Published<bool> importFailed{*this, false};
  // The saved profile of a finished import.
  platform::ui::Published<std::shared_ptr<ProfileEntity>> importedProfile{*this, nullptr};
};

struct ProfilesImportScreen {
  std::shared_ptr<ProfilesImportScreenViewModel> vm;
  std::function<void()> completion;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
