// ProfilesCardView: one profile drawn as a card in a list — a tappable header on the
// profile's colour, a row of its yearly figures (balance, income, payments, cost), and the
// header's context menu and trailing swipe actions (edit, archive or unarchive, delete). A
// delete only opens a confirmation dialog; its destructive button runs `removeProfileAction`.
//
// The card changes nothing itself: the screen that shows it hands in what a tap, an archive
// and a confirmed delete do. An archived profile's card offers no edit link and reads
// "unarchive". Using any of the card's actions retires the profile-actions tip.
//
// Threads: main thread.
#pragma once

#include <functional>
#include <memory>

#include "Brivel/model/profile_entity.h"
#include "platform/ui/view.h"

namespace brivel {

struct ProfilesCardView {
  std::shared_ptr<ProfileEntity> profile;
  std::function<void()> tappedAction;
  std::function<void(const std::shared_ptr<ProfileEntity>&)> archiveProfileAction;
  std::function<void(const std::shared_ptr<ProfileEntity>&)> removeProfileAction;
  // Initial values of the card's own states.
  bool showDeleteDialog = false;
  bool deleteDialogHaptic = false;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

// The header label of a profile: its name (verbatim, headline, white, bold) beside a white
// "person.crop.circle.fill" with a faint shadow. Shared by the card and the archived-profile
// sheet.
platform::ui::View profileHeaderLabel(const ProfileEntity& profile);

}  // namespace brivel
