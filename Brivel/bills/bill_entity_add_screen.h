// BillEntityAddScreen: the new-bill editor, a form-sized sheet of the bills list in which the
// user enters one recurring bill of the profile: name, occurrence and period, cost, and
// optionally a bank account, a note and a category (both links can be created in place).
//
// Its save builds the bill from the form (name trimmed, cost parsed, unreadable cost 0),
// appends it to the profile's bill list (creating the list when it is absent, so no new
// bill is lost), plays the success haptic and empties the form; then, with the
// "popViewAfterSaveAndUpdate" setting off, it shows the "added" toast and focuses the name
// field for the next bill, and with it on, it closes. It leaves saving to the store's
// automatic save.
//
//   .sheet(showCreateBillScreen.binding(), [=] {
//     return View(BillEntityAddScreen{showCreateBillScreen.binding(), profile})
//         .presentationSizing(PresentationSizing::form);
//   })
//
// Reads UserDefaultsManager and BillsNeighbourScreensKey from the environment.
// Threads: main thread.
#pragma once

#include <memory>

#include "Brivel/bills/bill_form_view_model.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/profile_entity.h"
#include "platform/ui/view.h"

namespace brivel {

// Builds the bill the form describes for `profile` and appends it to the profile's bill list
// (created when absent). Answers the new bill. Does not touch the form.
std::shared_ptr<BillEntity> addBillFromForm(const BillFormViewModel& vm, const std::shared_ptr<ProfileEntity>& profile);

struct BillEntityAddScreen {
  // The presenter's sheet flag; the editor closes by toggling it.
  platform::ui::Binding<bool> dismiss;
  std::shared_ptr<ProfileEntity> profile;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
