#include "Brivel/bills/bill_entity_item_screen.h"

#include <string>
#include <utility>

#include "Brivel/bills/bill_deletion.h"
#include "Brivel/bills/bill_form_view_model.h"
#include "Brivel/bills/bill_input.h"
#include "Brivel/bills/internal/bill_form_sections.h"
#include "Brivel/collections/collection_views.h"
#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/profile_entity.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/model_environment.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/toast.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/text.h"

namespace brivel {

using namespace platform::ui;
using bills_internal::BillForm;
using bills_internal::BillFormFocus;
using bills_internal::BillFormVariant;

namespace {

// Sets the form from the stored bill; reads the period the bill's occurrence uses only.
void fillForm(BillEntityItemScreenViewModel& vm, const BillEntity& bill) {
  vm.name = bill.name();
  vm.cost = costFieldText(bill.cost());
  if (auto note = bill.note(); note && !note->empty()) {
    vm.connectNote = true;
    vm.note = *note;
  }
  if (auto account = bill.bankAccount()) {
    vm.connectBankAccount = true;
    vm.pickedBankAccount = account;
  }
  if (auto category = bill.category()) {
    vm.connectCategory = true;
    vm.pickedCategory = category;
  }
  const OccurringType occurring = bill.occurring();
  vm.occurring = rawValue(occurring);
  if (occurring == OccurringType::quarterly) {
    vm.occurringQuarterly = bill.quarterly() ? rawValue(*bill.quarterly()) : 0;
  }
  if (occurring == OccurringType::yearly) vm.occurringYearly = bill.yearly() ? rawValue(*bill.yearly()) : 0;
}

// Writes the form into the bill, one property at a time.
void writeForm(const BillEntityItemScreenViewModel& vm, BillEntity& bill) {
  bill.setName(platform::trimmingWhitespaceAndNewlines(vm.name.get()));
  bill.setCost(costFromText(vm.cost.get()));
  bill.setNote(noteFromInput(vm.connectNote.get(), vm.note.get()));
  bill.setOccurring(occurringFromIndex(vm.occurring.get()));
  switch (bill.occurring()) {
    case OccurringType::monthly:
      bill.setQuarterly(std::nullopt);
      bill.setYearly(std::nullopt);
      break;
    case OccurringType::quarterly:
      bill.setQuarterly(quarterFromIndex(vm.occurringQuarterly.get()));
      bill.setYearly(std::nullopt);
      break;
    case OccurringType::yearly:
      bill.setYearly(yearlyTypeFromIndex(vm.occurringYearly.get()));
      bill.setQuarterly(std::nullopt);
      break;
  }
  bill.setCategory(vm.connectCategory.get() ? vm.pickedCategory.get() : nullptr);
  bill.setBankAccount(vm.connectBankAccount.get() ? vm.pickedBankAccount.get() : nullptr);
}

}  // namespace

View BillEntityItemScreen::body(Context& ctx) const {
  auto settings = ctx.environmentObject<UserDefaultsManager>();
  auto container = modelContainer(ctx);
  const DismissAction dismiss = ctx.dismiss();
  auto vm = *ctx.stateWith<std::shared_ptr<BillEntityItemScreenViewModel>>(
      "vm", [] { return std::make_shared<BillEntityItemScreenViewModel>(); });
  BillFormFocus focus{ctx.focusState<bool>("nameIsFocused"), ctx.focusState<bool>("costIsFocused"),
                      ctx.focusState<bool>("noteIsFocused")};
  auto shown = bill;
  auto profile = bill->profile();
  BillForm form{BillFormVariant::detail, vm, focus, profile, bill};

  const bool inSheet = shownInSheet;
  auto update = [vm, shown, focus, settings, dismiss, inSheet] {
    writeForm(*vm, *shown);
    focus.name.set(false);
    focus.cost.set(false);
    focus.note.set(false);
    vm->savedHaptic = !vm->savedHaptic.get();
    if (!inSheet && !settings->popViewAfterSaveAndUpdate()) {
      showToast(fieldBinding(vm, &BillFormViewModel::savedToastMessage));
    } else {
      dismiss();
    }
  };
  auto requestDelete = [vm] {
    vm->deleteDialogHaptic = !vm->deleteDialogHaptic.get();
    vm->showDeleteDialog = !vm->showDeleteDialog.get();
  };
  auto confirmDelete = [shown, container, dismiss] { scheduleBillDeletion(shown, container, [dismiss] { dismiss(); }); };

  View deleteSection =
      Section({Button(deleteRowLabel(), requestDelete).listRowBackground(Color::system("red")).accessibilityIdentifier("deleteRow")});
  View content = form.decorate(Form({form.nameAndOccurrenceSection(), form.costAndBankAccountSection(), form.noteSection(),
                                     form.categorySection(), deleteSection}) |
                               NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_details)});
  content = content.toolbar(
      {when(inSheet, [&] { return ToolbarItem(ToolbarPlacement::topBarLeading, xmarkDismissButton(dismiss)); }),
       ToolbarItem(ToolbarPlacement::primaryAction,
                   toolbarTextButton(localizable_update, update, std::nullopt, isBlankName(vm->name.get()), true)
                       .accessibilityIdentifier("updateBill"))});
  content = content | ToastMessageModifier{vm->savedToastMessage.get(), ToastMessageType::updated, SFSymbols::envelope};

  const Color accent = colorFromAssetName(profile ? profile->color() : "sonicBlue");
  return NavigationStack(content)
      .interactiveDismissDisabled(true)
      .sensoryFeedback(SensoryFeedback::success, vm->savedHaptic.get(), savesSucceed())
      .sensoryFeedback(SensoryFeedback::warning, vm->deleteDialogHaptic.get())
      .accentColor(accent)
      .confirmationDialog(keyText(localizable_deleteBill), fieldBinding(vm, &BillEntityItemScreenViewModel::showDeleteDialog),
                          Visibility::visible,
                          {Button(keyText(localizable_cancel), [] {}, ButtonRole::cancel),
                           Button(keyText(localizable_delete), confirmDelete, ButtonRole::destructive)
                               .accessibilityIdentifier("confirmDelete")},
                          LocalizedText(localizable_deleteBillMessage))
      .onAppear([vm, shown] { fillForm(*vm, *shown); })
      .onDisappear([vm] { vm->resetForm(); });
}

}  // namespace brivel
