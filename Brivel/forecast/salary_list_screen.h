// SalaryListScreen: edits the net salary of one profile, either one fixed monthly amount or
// twelve amounts, January to December. The form loads from the profile each time the
// screen appears and is cleared when it goes; "Update" writes the type and its amounts
// (salary_form.h), plays the success haptic, and then closes the screen or shows the
// "saved" toast, as the "popViewAfterSaveAndUpdate" setting says. Leaving without saving
// discards the edits.
//
// Shown in a sheet (`presentedInSheet`: a leading "xmark" closes it; it cannot be swiped
// away) from the forecast and the bills list, or pushed from the profile editor (no close
// button). It closes through the environment's dismiss action of where it is shown.
//
//   .sheet(flag, [=] {
//     return View(SalaryListScreen{.profile = profile, .presentedInSheet = true})
//         .presentationSizing(PresentationSizing::page);
//   })
//
// Never saves the store itself: the automatic save writes the profile. Reads
// UserDefaultsManager from the environment. Threads: main thread.
#pragma once

#include <memory>

#include "Brivel/model/profile_entity.h"
#include "platform/ui/environment.h"
#include "platform/ui/view.h"

namespace brivel {

struct SalaryListScreen {
  std::shared_ptr<ProfileEntity> profile;
  bool presentedInSheet = false;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

// The salary screen as the bills list's neighbour screens and the profile editor's rows
// build it: in its sheet form, and in its pushed form. Both close through the dismiss action
// of the place they are shown in.
platform::ui::View salarySheetScreen(const std::shared_ptr<ProfileEntity>& profile, platform::ui::DismissAction dismiss);
platform::ui::View pushedSalaryScreen(const std::shared_ptr<ProfileEntity>& profile, platform::ui::DismissAction dismiss);

}  // namespace brivel
