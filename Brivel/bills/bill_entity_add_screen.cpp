#include "Brivel/bills/bill_entity_add_screen.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "Brivel/bills/bill_input.h"
#include "Brivel/bills/internal/bill_form_sections.h"
#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/toast.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/date.h"
#include "platform/foundation/text.h"
#include "platform/foundation/uuid.h"

namespace brivel {

using namespace platform::ui;
using bills_internal::BillForm;
using bills_internal::BillFormFocus;
using bills_internal::BillFormVariant;

std::shared_ptr<BillEntity> addBillFromForm(const BillFormViewModel& vm, const std::shared_ptr<ProfileEntity>& profile) {
  const BillPeriod period =
      billPeriodFromIndices(vm.occurring.get(), vm.occurringQuarterly.get(), vm.occurringYearly.get());
  auto bill = BillEntity::make({.name = platform::trimmingWhitespaceAndNewlines(vm.name.get()),
                                .cost = costFromText(vm.cost.get()),
                                .note = noteFromInput(vm.connectNote.get(), vm.note.get()),
                                .occurring = period.occurring,
                                .quarterly = period.quarterly,
                                .yearly = period.yearly,
                                .profile = profile,
                                .category = vm.connectCategory.get() ? vm.pickedCategory.get() : nullptr,
                                .bankAccount = vm.connectBankAccount.get() ? vm.pickedBankAccount.get() : nullptr});
  // Linking the bill to its profile has already appended it to a present list (the store
  // keeps both ends in step); writing that same list back would only repeat the work for
  // every bill of the profile. An absent list is created with the bill, so it is never lost.
  const platform::PersistentModel::ModelList* members = profile->billsWithoutCopy();
  const bool listed = members && !members->empty() && members->back() == bill;
  if (!listed) {
    BillList list = profile->bills().value_or(BillList{});
    if (std::find(list.begin(), list.end(), bill) == list.end()) list.push_back(bill);
    profile->setBills(list);
  }
  return bill;
}

View BillEntityAddScreen::body(Context& ctx) const {
  auto settings = ctx.environmentObject<UserDefaultsManager>();
  auto vm = *ctx.stateWith<std::shared_ptr<BillEntityAddScreenViewModel>>(
      "vm", [] { return std::make_shared<BillEntityAddScreenViewModel>(); });
  BillFormFocus focus{ctx.focusState<bool>("nameIsFocused"), ctx.focusState<bool>("costIsFocused"),
                      ctx.focusState<bool>("noteIsFocused")};
  BillForm form{BillFormVariant::newBill, vm, focus, profile, nullptr};

  auto owner = profile;
  auto close = dismiss;
  auto saveBill = [vm, owner, settings, focus, close] {
    addBillFromForm(*vm, owner);
    vm->savedHaptic = !vm->savedHaptic.get();
    withAnimation([&] { vm->resetForm(); });
    if (!settings->popViewAfterSaveAndUpdate()) {
      showToast(fieldBinding(vm, &BillFormViewModel::savedToastMessage));
      focus.name.set(true);
    } else {
      close.set(!close.get());
    }
  };

  View content = form.decorate(Form({form.nameAndOccurrenceSection(), form.costAndBankAccountSection(),
                                     form.noteSection(), form.categorySection()}) |
                               NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_newBill)});
  content = content.toolbar({ToolbarItem(ToolbarPlacement::topBarLeading, xmarkCloseButton(dismiss)),
                             ToolbarItem(ToolbarPlacement::primaryAction,
                                         toolbarTipImageButton(saveBill, SystemImage("checkmark"),
                                                               isBlankName(vm->name.get()), true, nullptr)
                                             .accessibilityIdentifier("saveBill"))});
  content = content | ToastMessageModifier{vm->savedToastMessage.get(), ToastMessageType::added, SFSymbols::envelope};

  auto nameFocus = focus.name;
  return NavigationStack(content)
      .interactiveDismissDisabled(true)
      .sensoryFeedback(SensoryFeedback::success, vm->savedHaptic.get(), savesSucceed())
      .accentColor(colorFromAssetName(profile->color()))
      .onAppear([nameFocus] { nameFocus.set(true); })
      .onDisappear([vm] { vm->resetForm(); });
}

}  // namespace brivel
