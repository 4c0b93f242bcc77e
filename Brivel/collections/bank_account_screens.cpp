#include "Brivel/collections/bank_account_screens.h"

#include <optional>
#include <string>
#include <utility>

#include "Brivel/collections/bill_entity_small_list_view.h"
#include "Brivel/collections/collection_actions.h"
#include "Brivel/collections/collection_ordering.h"
#include "Brivel/collections/collection_views.h"
#include "Brivel/collections/internal/screen_parts.h"
#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/color_picker_view.h"
#include "Brivel/shell/entity_unavailable_view.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/model_environment.h"
#include "Brivel/shell/tips.h"
#include "Brivel/shell/toast.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/date.h"
#include "platform/foundation/text.h"
#include "platform/foundation/uuid.h"
#include "platform/ui/services.h"

namespace brivel {

using namespace platform::ui;
using namespace collections_internal;

namespace {

using Model = BankAccountsAddScreenViewModel;

std::string normalizedName(const std::string& text) {
  return platform::lowercased(platform::trimmingWhitespaceAndNewlines(text));
}

struct Focus {
  State<bool> name, number, note;
};

// The name, colour, number, note toggle and note rows shared by the add and detail forms.
std::vector<View> formSections(const std::shared_ptr<Model>& vm, const Focus& focus) {
  const Binding<std::string> name = bind(vm, &Model::name);
  const Binding<std::string> number = bind(vm, &Model::number);
  const Binding<std::string> note = bind(vm, &Model::note);
  View nameField = TextField(keyText(localizable_enter), name)
                       .textInputAutocapitalization(TextInputAutocapitalization::never)
                       .focused(focus.name.binding())
                       .submitLabel(SubmitLabel::return_)
                       .onSubmit([focus] { focus.number.set(true); })
                       .multilineTextAlignment(TextAlignment::trailing)
                       .accessibilityIdentifier("bankAccountName") |
                   TextFieldLimiterModifier{name, 30};
  View numberField = TextField(keyText(localizable_enter), number, Axis::vertical)
                         .textInputAutocapitalization(TextInputAutocapitalization::characters)
                         .focused(focus.number.binding())
                         .submitLabel(SubmitLabel::return_)
                         .multilineTextAlignment(TextAlignment::trailing)
                         .lineLimit(2)
                         .accessibilityIdentifier("bankAccountNumber") |
                     TextFieldLimiterModifier{number, 34};
  View noteToggle = Toggle(bind(vm, &Model::connectNote), LocalizedText(localizable_addNote))
                        .tint(assetColor("sonicGreen"))
                        .foregroundStyle(Color::system("secondary"))
                        .accessibilityIdentifier("connectNote");
  View noteField = when(vm->connectNote.get(), [&] {
    return TextField(keyText(localizable_enter), note, Axis::vertical)
               .textInputAutocapitalization(TextInputAutocapitalization::sentences)
               .focused(focus.note.binding())
               .accessibilityIdentifier("bankAccountNote") |
           TextFieldLimiterModifier{note, 80};
  });
  return {Section({LabeledContent(nameLabel(), nameField), View(ColorPickerView{bind(vm, &Model::selectedColor)})}),
          Section({LabeledContent(LocalizedText(localizable_number).foregroundStyle(Color::system("secondary")), numberField),
                   noteToggle, noteField})};
}

}  // namespace

std::optional<std::string> bankAccountNoteToStore(bool connectNote, const std::string& note) {
  std::string trimmed = platform::trimmingWhitespaceAndNewlines(note);
  if (!connectNote || trimmed.empty()) return std::nullopt;
  return trimmed;
}

bool bankAccountFormIsIncomplete(const std::string& name, const std::string& number, bool connectNote,
                                 const std::string& note) {
  if (normalizedName(name).empty()) return true;
  if (platform::trimmingWhitespaceAndNewlines(number).empty()) return true;
  return connectNote && !bankAccountNoteToStore(connectNote, note);
}

// ----- Add -----

View BankAccountsAddScreen::body(Context& ctx) const {
  auto settings = ctx.environmentObject<UserDefaultsManager>();
  auto vm = *ctx.stateWith<std::shared_ptr<Model>>("vm", [] { return std::make_shared<Model>(); });
  const Focus focus{ctx.focusState<bool>("nameIsFocused"), ctx.focusState<bool>("numberIsFocused"),
                    ctx.focusState<bool>("noteIsFocused")};
  const auto self = *this;

  auto save = [self, vm, focus, settings] {
    auto account = BankAccountEntity::make({.name = normalizedName(vm->name.get()),
                                            .color = assetNameFromColor(vm->selectedColor.get()),
                                            .number = platform::trimmingWhitespaceAndNewlines(vm->number.get()),
                                            .note = bankAccountNoteToStore(vm->connectNote.get(), vm->note.get()),
                                            .profile = self.profile});
    self.profile->setBankAccounts(appendingCreatingList(self.profile->bankAccounts(), account));
    if (self.completion) self.completion(account);
    finishAddSave(self.dismissAfterSave, *settings, self.dismiss, bind(vm, &Model::savedHaptic),
                  bind(vm, &Model::savedToastMessage), focus.name.binding(), [vm] {
                    vm->name = std::string();
                    vm->number = std::string();
                    vm->connectNote = false;
                    vm->note = std::string();
                  });
  };
  const bool incomplete =
      bankAccountFormIsIncomplete(vm->name.get(), vm->number.get(), vm->connectNote.get(), vm->note.get());
  View form = Form(formSections(vm, focus)).scrollDismissesKeyboard(ScrollDismissesKeyboard::interactively) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_newBankAccount)};
  form = form.toolbar({ToolbarItem(ToolbarPlacement::topBarLeading, xmarkCloseButton(dismiss)),
                       ToolbarItem(ToolbarPlacement::primaryAction,
                                   toolbarTipImageButton(save, SystemImage("checkmark"), incomplete, true, nullptr)
                                       .accessibilityIdentifier("saveBankAccount"))}) |
         ToastMessageModifier{vm->savedToastMessage.get(), ToastMessageType::added, SFSymbols::creditcard};
  return NavigationStack(form.onChange(vm->connectNote.get(), [focus](const bool&, const bool& on) {
           if (on) focus.note.set(true);
         }))
      .interactiveDismissDisabled(true)
      .sensoryFeedback(SensoryFeedback::success, vm->savedHaptic.get(), savesSucceed())
      .accentColor(colorFromAssetName(profile->color()))
      .onAppear([focus] { focus.name.set(true); });
}

// ----- Detail -----

View BankAccountsItemScreen::body(Context& ctx) const {
  using VM = BankAccountsItemScreenViewModel;
  auto settings = ctx.environmentObject<UserDefaultsManager>();
  auto container = modelContainer(ctx);
  const DismissAction dismiss = ctx.dismiss();
  auto vm = *ctx.stateWith<std::shared_ptr<VM>>("vm", [] { return std::make_shared<VM>(); });
  const auto account =
      *ctx.stateWith<std::shared_ptr<BankAccountEntity>>("bankAccount", [this] { return bankAccount; });
  const Focus focus{ctx.focusState<bool>("nameIsFocused"), ctx.focusState<bool>("numberIsFocused"),
                    ctx.focusState<bool>("noteIsFocused")};
  std::shared_ptr<Model> form = vm;

  auto update = [vm, form, account, focus, settings, dismiss] {
    account->setName(normalizedName(vm->name.get()));
    account->setColor(assetNameFromColor(vm->selectedColor.get()));
    account->setNumber(platform::trimmingWhitespaceAndNewlines(vm->number.get()));
    account->setNote(bankAccountNoteToStore(vm->connectNote.get(), vm->note.get()));
    focus.name.set(false);
    focus.number.set(false);
    focus.note.set(false);
    finishItemUpdate(*settings, dismiss, bind(form, &Model::savedHaptic), bind(form, &Model::savedToastMessage));
  };
  auto requestDelete = [vm] {
    vm->deleteDialogHaptic = !vm->deleteDialogHaptic.get();
    vm->showDeleteDialog = !vm->showDeleteDialog.get();
  };
  auto confirmDelete = [account, container, dismiss] { confirmBankAccountDelete(account, container, [dismiss] { dismiss(); }); };

  std::vector<View> sections = formSections(form, focus);
  const auto bills = account->bills();
  sections.push_back(when(bills && !bills->empty(), [&] {
    return Section({ForEach(billsByName(*bills), [](const auto& bill) { return bill->id().uuidString(); },
                            [](const auto& bill) {
                              return View(BillEntitySmallListView{bill->name(), bill->cost(), nullptr, bill->category()});
                            })},
                   billsCountSectionHeader(bills->size()));
  }));
  sections.push_back(deleteRowSection(requestDelete));
  const bool incomplete =
      bankAccountFormIsIncomplete(vm->name.get(), vm->number.get(), vm->connectNote.get(), vm->note.get());
  View content = Form(std::move(sections)).scrollDismissesKeyboard(ScrollDismissesKeyboard::interactively) |
                 NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_details)};
  content = content.toolbar({ToolbarItem(ToolbarPlacement::primaryAction,
                                         toolbarTextButton(localizable_update, update, std::nullopt, incomplete, true)
                                             .accessibilityIdentifier("update"))}) |
            ToastMessageModifier{vm->savedToastMessage.get(), ToastMessageType::updated, SFSymbols::creditcard};
  content = content.onChange(vm->connectNote.get(), [focus, vm](const bool& was, const bool&) {
    if (!was && vm->note.get().empty()) focus.note.set(true);
  });
  auto owner = account->profile();
  return itemScreenFrame(content, {vm->savedHaptic.get(), vm->deleteDialogHaptic.get(),
                                   colorFromAssetName(owner ? owner->color() : "sonicBlue"), localizable_deleteBankAccount,
                                   localizable_deleteBankAccountMessage, bind(vm, &VM::showDeleteDialog), confirmDelete})
      .onAppear([vm, account] {
        vm->name = account->name();
        vm->selectedColor = colorFromAssetName(account->color());
        vm->number = account->number();
        if (auto note = account->note(); note && !note->empty()) {
          vm->connectNote = true;
          vm->note = *note;
        }
      })
      .onDisappear([vm] {
        vm->name = std::string();
        vm->number = std::string();
        vm->note = std::string();
        vm->selectedColor = assetColor("appleRed");
        vm->connectNote = false;
      });
}

// ----- Uncategorized -----

View BankAccountsUncategorizedScreen::body(Context& ctx) const {
  const BankAccountList accounts = profile->bankAccounts().value_or(BankAccountList{});
  UncategorizedSpec spec;
  spec.profile = profile;
  spec.isLinked = [](const BillEntity& bill) { return bill.bankAccount() != nullptr; };
  spec.billLabel = [](const BillEntity& bill) {
    return View(BillEntitySmallListView{bill.name(), bill.cost(), nullptr, bill.category()});
  };
  for (const auto& account : accounts) {
    spec.entryLabels.push_back(HStack({Verbatim(account->name()), Verbatim(account->number()), SystemImage("creditcard")}));
    spec.entryIds.push_back(account->id().uuidString());
  }
  spec.link = [accounts](BillEntity& bill, std::size_t i) { bill.setBankAccount(accounts[i]); };
  return uncategorizedScreen(ctx, spec);
}

// ----- Row -----

View BankAccountsListRowView::body(Context& ctx) const {
  auto container = modelContainer(ctx);
  const RowState state(ctx);
  const auto account = bankAccount;
  RowSpec spec;
  spec.label = rowTitleLabel(Verbatim(account->name()), "creditcard");
  spec.background = colorFromAssetName(account->color());
  spec.detail = [account] { return View(BankAccountsItemScreen{account}); };
  spec.copyKey = localizable_copyAccountNumber;
  spec.copy = [account, haptic = state.copyHaptic] {
    Pasteboard::general().setString(account->number());
    haptic.toggle();
  };
  spec.copyId = "copyNumber";
  spec.deleteId = "deleteBankAccount";
  spec.rowId = "bankAccountRow";
  spec.deleteTitleKey = localizable_deleteBankAccount;
  spec.deleteMessageKey = localizable_deleteBankAccountMessage;
  spec.confirmDelete = [account, container] { confirmBankAccountDelete(account, container); };
  View numberLine =
      Verbatim(account->number()) | SubtitleFontStyleModifier{Font::subheadline, Color::system("secondary"), false, TextAlignment::leading};
  return Group({collectionRow(spec, state), numberLine});
}

// ----- List -----

View BankAccountsListScreen::body(Context& ctx) const {
  const DismissAction dismiss = ctx.dismiss();
  auto showCreateBankAccountScreen = ctx.state<bool>("showCreateBankAccountScreen", false);
  auto tip = std::make_shared<BankAccountActionsTip>();
  const auto owner = profile;

  std::size_t uncategorized = 0;
  for (const auto& bill : profile->bills().value_or(BillList{})) uncategorized += bill->bankAccount() ? 0 : 1;
  const auto accounts = profile->bankAccounts();
  const BankAccountList sorted = sortedBankAccounts(accounts.value_or(BankAccountList{}), profile->bankAccountSortType());
  auto toggleAdd = [showCreateBankAccountScreen] { showCreateBankAccountScreen.toggle(); };

  View uncategorizedSection = when(uncategorized > 0, [&] {
    return uncategorizedRow("creditcard", "sonicGreen", [owner] { return View(BankAccountsUncategorizedScreen{owner}); },
                            uncategorized);
  });
  View rows = collections_internal::lazyRecordRows(
      sorted, [](const auto& account) { return Section({View(BankAccountsListRowView{account})}); });
  View empty = when(accounts && accounts->empty(), [&] {
    return emptyStateSection(EntityUnavailableView{keyText(localizable_noBankAccountsAvailable),
                                                   AssetImage("creditcard.circle.fill.badge.questionmark"),
                                                   keyText(localizable_noBankAccountsAvailableDescription),
                                                   keyText(localizable_add), toggleAdd});
  });
  View badge = when(accounts && !accounts->empty() && !showCreateBankAccountScreen.get(),
                    [&] { return countBadge(accounts->size(), "creditcard", "sonicGreen", tip); });

  auto entry = [&](std::string_view key, std::string_view family, BankAccountSortType ascending) {
    return sortMenuEntry(owner, key, family, &ProfileEntity::bankAccountSortType, &ProfileEntity::setBankAccountSortType,
                         ascending);
  };
  return listScreenFrame(
      {uncategorizedSection, rows, empty},
      {localizable_bankAccounts, badge, showCreateBankAccountScreen.binding(),
       [owner, showCreateBankAccountScreen] {
         return View(BankAccountsAddScreen{.dismiss = showCreateBankAccountScreen.binding(), .profile = owner,
                                           .dismissAfterSave = false, .completion = nullptr});
       },
       {entry(localizable_name, "personalhotspot", BankAccountSortType::name),
        entry(localizable_color, "paintbrush", BankAccountSortType::color),
        entry(localizable_number, "paintbrush", BankAccountSortType::number),
        entry(localizable_dateAdded, "clock", BankAccountSortType::timestamp)},
       presentedInSheet, dismiss, colorFromAssetName(owner->color())});
}

}  // namespace brivel
