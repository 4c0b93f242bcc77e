#include "Brivel/collections/note_screens.h"

#include <optional>
#include <string>
#include <utility>

#include "Brivel/collections/collection_actions.h"
#include "Brivel/collections/collection_ordering.h"
#include "Brivel/collections/collection_views.h"
#include "Brivel/collections/internal/screen_parts.h"
#include "Brivel/collections/toolbar_buttons.h"
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

using Model = NotesAddScreenViewModel;

std::string normalizedName(const std::string& text) {
  return platform::lowercased(platform::trimmingWhitespaceAndNewlines(text));
}
bool isIncomplete(const Model& vm) {
  return normalizedName(vm.name.get()).empty() || platform::trimmingWhitespaceAndNewlines(vm.text.get()).empty();
}

// The name, colour and text sections of both forms; the add form limits the text to 400.
std::vector<View> formSections(const std::shared_ptr<Model>& vm, const State<bool>& nameIsFocused,
                               const State<bool>& textIsFocused, bool limitText) {
  const Binding<std::string> name = bind(vm, &Model::name);
  const Binding<std::string> text = bind(vm, &Model::text);
  View nameField = TextField(keyText(localizable_enter), name)
                       .textInputAutocapitalization(TextInputAutocapitalization::never)
                       .focused(nameIsFocused.binding())
                       .submitLabel(SubmitLabel::return_)
                       .multilineTextAlignment(TextAlignment::trailing)
                       .accessibilityIdentifier("noteName") |
                   TextFieldLimiterModifier{name, 30};
  if (limitText) nameField = nameField.onSubmit([textIsFocused] { textIsFocused.set(true); });
  View textField = TextField(keyText(localizable_enter), text, Axis::vertical)
                       .textInputAutocapitalization(TextInputAutocapitalization::sentences)
                       .focused(textIsFocused.binding())
                       // Its placeholder says what to do, not what it holds: a screen reader reads this.
                       .accessibilityLabel(TextContent{.key = "Text", .args = {}, .verbatim = true})
                       .accessibilityIdentifier("noteText");
  if (limitText) textField = textField | TextFieldLimiterModifier{text, 400};
  return {Section({LabeledContent(nameLabel(), nameField), View(ColorPickerView{bind(vm, &Model::selectedColor)})}),
          Section({textField})};
}

}  // namespace

std::string noteDateText(const platform::Date& timestamp) { return platform::formatDate(timestamp, "dMMMy"); }

// ----- Add -----

View NotesAddScreen::body(Context& ctx) const {
  auto settings = ctx.environmentObject<UserDefaultsManager>();
  auto vm = *ctx.stateWith<std::shared_ptr<Model>>("vm", [] { return std::make_shared<Model>(); });
  auto nameIsFocused = ctx.focusState<bool>("nameIsFocused");
  auto textIsFocused = ctx.focusState<bool>("textIsFocused");
  const auto self = *this;

  auto save = [self, vm, nameIsFocused, settings] {
    auto note = NoteEntity::make({.name = normalizedName(vm->name.get()),
                                  .color = assetNameFromColor(vm->selectedColor.get()),
                                  .text = platform::trimmingWhitespaceAndNewlines(vm->text.get()),
                                  .profile = self.profile});
    self.profile->setNotes(appendingCreatingList(self.profile->notes(), note));
    if (self.completion) self.completion(note);
    finishAddSave(self.dismissAfterSave, *settings, self.dismiss, bind(vm, &Model::savedHaptic),
                  bind(vm, &Model::savedToastMessage), nameIsFocused.binding(), [vm] {
                    vm->name = std::string();
                    vm->text = std::string();
                  });
  };
  View form = Form(formSections(vm, nameIsFocused, textIsFocused, true)).scrollDismissesKeyboard(ScrollDismissesKeyboard::interactively) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_newNote)};
  form = form.toolbar({ToolbarItem(ToolbarPlacement::topBarLeading, xmarkCloseButton(dismiss)),
                       ToolbarItem(ToolbarPlacement::primaryAction,
                                   toolbarTipImageButton(save, SystemImage("checkmark"), isIncomplete(*vm), true, nullptr)
                                       .accessibilityIdentifier("saveNote"))}) |
         ToastMessageModifier{vm->savedToastMessage.get(), ToastMessageType::added, SFSymbols::paperclip};
  return NavigationStack(form)
      .interactiveDismissDisabled(true)
      .sensoryFeedback(SensoryFeedback::success, vm->savedHaptic.get(), savesSucceed())
      .accentColor(colorFromAssetName(profile->color()))
      .onAppear([nameIsFocused] { nameIsFocused.set(true); });
}

// ----- Detail -----

View NotesItemScreen::body(Context& ctx) const {
  using VM = NotesItemScreenViewModel;
  auto settings = ctx.environmentObject<UserDefaultsManager>();
  auto container = modelContainer(ctx);
  const DismissAction dismiss = ctx.dismiss();
  auto vm = *ctx.stateWith<std::shared_ptr<VM>>("vm", [] { return std::make_shared<VM>(); });
  const auto shown = *ctx.stateWith<std::shared_ptr<NoteEntity>>("note", [this] { return note; });
  auto nameIsFocused = ctx.focusState<bool>("nameIsFocused");
  auto textIsFocused = ctx.focusState<bool>("textIsFocused");

  auto update = [vm, shown, nameIsFocused, textIsFocused, settings, dismiss] {
    shown->setName(normalizedName(vm->name.get()));
    shown->setColor(assetNameFromColor(vm->selectedColor.get()));
    shown->setText(platform::trimmingWhitespaceAndNewlines(vm->text.get()));
    nameIsFocused.set(false);
    textIsFocused.set(false);
    const std::shared_ptr<Model> form = vm;
    finishItemUpdate(*settings, dismiss, bind(form, &Model::savedHaptic), bind(form, &Model::savedToastMessage));
  };
  auto requestDelete = [vm] {
    vm->deleteDialogHaptic = !vm->deleteDialogHaptic.get();
    vm->showDeleteDialog = !vm->showDeleteDialog.get();
  };
  auto confirmDelete = [shown, container, dismiss] { confirmNoteDelete(shown, container, [dismiss] { dismiss(); }); };

  std::vector<View> sections = formSections(vm, nameIsFocused, textIsFocused, false);
  sections.push_back(deleteRowSection(requestDelete));
  View content = Form(std::move(sections)).scrollDismissesKeyboard(ScrollDismissesKeyboard::interactively) |
                 NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_details)};
  content = content.toolbar({ToolbarItem(ToolbarPlacement::primaryAction,
                                         toolbarTextButton(localizable_update, update, std::nullopt, isIncomplete(*vm), true)
                                             .accessibilityIdentifier("update"))}) |
            ToastMessageModifier{vm->savedToastMessage.get(), ToastMessageType::updated, SFSymbols::paperclip};
  auto owner = shown->profile();
  return itemScreenFrame(content, {vm->savedHaptic.get(), vm->deleteDialogHaptic.get(),
                                   colorFromAssetName(owner ? owner->color() : "sonicBlue"), localizable_deleteNote,
                                   localizable_deleteNoteMessage, bind(vm, &VM::showDeleteDialog), confirmDelete})
      .onAppear([vm, shown] {
        vm->name = shown->name();
        vm->selectedColor = colorFromAssetName(shown->color());
        vm->text = shown->text();
      })
      .onDisappear([vm] {
        vm->name = std::string();
        vm->selectedColor = assetColor("appleRed");
        vm->text = std::string();
      });
}

// ----- Row -----

View NotesListRowView::body(Context& ctx) const {
  auto container = modelContainer(ctx);
  const RowState state(ctx);
  const auto shown = note;
  RowSpec spec;
  spec.label = rowTitleLabel(Verbatim(shown->name()), "paperclip");
  spec.background = colorFromAssetName(shown->color());
  spec.detail = [shown] { return View(NotesItemScreen{shown}); };
  spec.copyKey = localizable_copyNote;
  spec.copy = [shown, haptic = state.copyHaptic] {
    Pasteboard::general().setString(shown->text());
    haptic.toggle();
  };
  spec.copyId = "copyNote";
  spec.deleteId = "deleteNote";
  spec.rowId = "noteRow";
  spec.deleteTitleKey = localizable_deleteNote;
  spec.deleteMessageKey = localizable_deleteNoteMessage;
  spec.confirmDelete = [shown, container] { confirmNoteDelete(shown, container); };
  View detailLine =
      HStack({(Verbatim(shown->text()) | SubtitleFontStyleModifier{Font::subheadline, Color::system("secondary"), false, TextAlignment::leading})
                  .lineLimit(1),
              Spacer(),
              Verbatim(noteDateText(shown->timestamp())) |
                  NoteFontStyleModifier{Font::caption, Color::system("secondary"), false, TextAlignment::leading}},
             std::nullopt, Alignment::center);
  return Group({collectionRow(spec, state), detailLine});
}

// ----- List -----

View NotesListScreen::body(Context& ctx) const {
  const DismissAction dismiss = ctx.dismiss();
  auto showCreateNoteScreen = ctx.state<bool>("showCreateNoteScreen", false);
  auto tip = std::make_shared<NotesActionsTip>();
  const auto owner = profile;

  const auto notes = profile->notes();
  const NoteList sorted = sortedNotes(notes.value_or(NoteList{}), profile->noteSortType());
  auto toggleAdd = [showCreateNoteScreen] { showCreateNoteScreen.toggle(); };

  View rows = collections_internal::lazyRecordRows(
      sorted, [](const auto& note) { return Section({View(NotesListRowView{note})}); });
  View empty = when(notes && notes->empty(), [&] {
    return emptyStateSection(EntityUnavailableView{keyText(localizable_noNotesAvailable),
                                                   AssetImage("paperclip.circle.fill.badge.questionmark"),
                                                   keyText(localizable_noNotesAvailableDescription),
                                                   keyText(localizable_add), toggleAdd});
  });
  View badge = when(notes && !notes->empty() && !showCreateNoteScreen.get(),
                    [&] { return countBadge(notes->size(), "paperclip", "tailsOrange", tip); });

  auto entry = [&](std::string_view key, std::string_view family, NoteSortType ascending) {
    return sortMenuEntry(owner, key, family, &ProfileEntity::noteSortType, &ProfileEntity::setNoteSortType, ascending);
  };
  return listScreenFrame({rows, empty}, {localizable_notes, badge, showCreateNoteScreen.binding(),
                                         [owner, showCreateNoteScreen] {
                                           return View(NotesAddScreen{.dismiss = showCreateNoteScreen.binding(),
                                                                      .profile = owner, .dismissAfterSave = false,
                                                                      .completion = nullptr});
                                         },
                                         {entry(localizable_name, "personalhotspot", NoteSortType::name),
                                          entry(localizable_color, "paintbrush", NoteSortType::color),
                                          entry(localizable_dateAdded, "clock", NoteSortType::timestamp)},
                                         presentedInSheet, dismiss, colorFromAssetName(owner->color())});
}

}  // namespace brivel
