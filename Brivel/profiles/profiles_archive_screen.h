// The archive: where archived profiles live.
//
// ProfilesArchiveScreen lists the archived profiles as cards (by name), restores
// (unarchives) or deletes them, and opens ProfilesArchiveItemScreen, a read-only sheet of one
// archived profile with its bills, from which it can be restored too. The profiles list
// pushes the archive; the archive closes itself when its last profile leaves it (not when it
// is empty on arrival).
//
// Reads from the environment: the store container and ProfileManager.
// Threads: main thread; a delete runs a moment later as a block on the main queue.
#pragma once

#include <functional>
#include <memory>

#include "Brivel/model/profile_entity.h"
#include "platform/ui/view.h"

namespace brivel {

struct ProfilesArchiveScreen {
  platform::ui::View body(platform::ui::Context& ctx) const;
};

struct ProfilesArchiveItemScreen {
  // The presenter's flag that shows this sheet; toggling it closes the sheet.
  platform::ui::Binding<bool> dismiss;
  std::shared_ptr<ProfileEntity> profile;
  // Run after the sheet was told to close, to restore the profile.
  std::function<void()> unarchiveUserAction;
  // Run when the sheet leaves the display.
  std::function<void()> onDisappearAction;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
