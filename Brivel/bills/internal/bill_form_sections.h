// The form sections the two bill editors share: name and occurrence, cost and bank account,
// note, category, and the create-in-place sheets. The editors differ in a few rules, chosen
// by BillFormVariant:
//
// - newBill: the name field's "next" moves the focus to the cost field; the length and
//   decimal rules run on every change of the fields (the form starts empty); switching a
//   link on always picks the first choice; switching the note on focuses the note field.
// - detail: the name field has no submit action; a cost-per-year row follows the cost; the
//   length and decimal rules apply only to what the user types, never to values loaded from
//   the bill; switching a link on keeps an earlier pick; switching the note on focuses the
//   note field only while the note is empty.
//
// Threads: main thread.
#pragma once

#include <memory>

#include "Brivel/bills/bill_form_view_model.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/profile_entity.h"
#include "platform/ui/view.h"

namespace brivel::bills_internal {

enum class BillFormVariant { newBill, detail };

struct BillFormFocus {
  platform::ui::State<bool> name;
  platform::ui::State<bool> cost;
  platform::ui::State<bool> note;
};

struct BillForm {
  BillFormVariant variant = BillFormVariant::newBill;
  std::shared_ptr<BillFormViewModel> vm;
  BillFormFocus focus;
  // The profile whose accounts and categories are offered (the detail screen: the bill's,
  // possibly none).
  std::shared_ptr<ProfileEntity> profile;
  // The stored bill (detail only), for the cost-per-year row.
  std::shared_ptr<BillEntity> bill;

  platform::ui::View nameAndOccurrenceSection() const;
  platform::ui::View costAndBankAccountSection() const;
  platform::ui::View noteSection() const;
  platform::ui::View categorySection() const;
  // The form with the shared modifiers: keyboard dismissal, animations and the two create
  // sheets.
  platform::ui::View decorate(platform::ui::View form) const;
};

}  // namespace brivel::bills_internal
