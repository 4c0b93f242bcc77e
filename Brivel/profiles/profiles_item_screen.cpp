#include "Brivel/profiles/profiles_item_screen.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/profiles/internal/name_field_label.h"
#include "Brivel/profiles/internal/profile_name_field.h"
#include "Brivel/profiles/profile_ordering.h"
#include "Brivel/shell/color_picker_view.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/tips.h"
#include "Brivel/shell/toast.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/text.h"

namespace brivel {

using namespace platform::ui;
using namespace profiles_internal;

namespace {

View countText(std::size_t count) { return Text(localized("%lld", {std::to_string(count)})); }

template <class List>
std::size_t countOf(const std::optional<List>& list) {
  return list ? list->size() : 0;
}

View figureRow(std::string_view key, View value) {
  return LabeledContent(LocalizedText(key).foregroundStyle(Color::system("secondary")), std::move(value));
}

}  // namespace

ProfileCollectionScreens ProfileCollectionScreensKey::defaultValue() {
  auto none = [](const std::shared_ptr<ProfileEntity>&, DismissAction) { return View(); };
  return {none, none, none, none};
}

View ProfilessItemScreen::body(Context& ctx) const {
  auto settings = ctx.environmentObject<UserDefaultsManager>();
  const ProfileCollectionScreens screens = ctx.environment<ProfileCollectionScreensKey>();
  const DismissAction dismiss = ctx.dismiss();
  auto vm = ctx.stateWith<std::shared_ptr<ProfilesItemScreenViewModel>>(
                   "vm", [] { return std::make_shared<ProfilesItemScreenViewModel>(); })
                .get();
  const auto shown = ctx.stateWith<std::shared_ptr<ProfileEntity>>("profile", [this] { return profile; }).get();
  auto nameIsFocused = ctx.focusState<bool>("nameIsFocused");
  auto quickActionsTip = std::make_shared<QuickActionsTip>();
  const Binding<std::string> name = bind(vm, &ProfilesItemScreenViewModel::name);

  auto update = [vm, shown, nameIsFocused, settings, dismiss] {
    shown->setName(platform::trimmingWhitespaceAndNewlines(vm->name.get()));
    shown->setColor(assetNameFromColor(vm->selectedColor.get()));
    nameIsFocused.set(false);
    vm->savedHaptic = !vm->savedHaptic.get();
    if (settings->popViewAfterSaveAndUpdate()) {
      dismiss();
    } else {
      showToast(bind(vm, &ProfilesItemScreenViewModel::savedToastMessage));
    }
  };

  View nameField = profileNameField(name, nameIsFocused.binding());
  View nameSection = Section({LabeledContent(nameFieldLabel(), nameField),
                              View(ColorPickerView{bind(vm, &ProfilesItemScreenViewModel::selectedColor)})});

  auto quickActionRow = [&](std::string_view key, SFSymbols symbol, View value, const ProfileCollectionScreens::Make& make,
                            FavoriteQuickAction action) {
    auto setQuickAction = [shown, action, quickActionsTip] {
      quickActionsTip->invalidate("actionPerformed");
      shown->setFavoriteQuickAction(action);
    };
    return NavigationLink(LabeledContent(Label(keyText(key), std::string(rawValue(symbol))), std::move(value)),
                          [make, shown, dismiss] { return make(shown, dismiss); })
        .contextMenu({Button(Label(keyText(localizable_setAsQuickAction), std::string(rawValue(SFSymbols::star))),
                             setQuickAction)})
        .swipeActions(Edge::trailing, true,
                      {Button(SymbolImage(SFSymbols::star).symbolVariant(SymbolVariant::fill), setQuickAction)
                           .tint(assetColor("sonicYellow"))});
  };
  View salaryValue =
      LocalizedText(shown->salaryType() == SalaryType::variable ? localizable_variable : localizable_fixed);
  View quickActionSection =
      Section({quickActionRow(localizable_bankAccounts, SFSymbols::creditcard, countText(countOf(shown->bankAccounts())),
                              screens.bankAccounts, FavoriteQuickAction::openBankAccounts),
               quickActionRow(localizable_categories, SFSymbols::personalhotspot,
                              countText(countOf(shown->categories())), screens.categories,
                              FavoriteQuickAction::openCategories),
               quickActionRow(localizable_notes, SFSymbols::paperclip, countText(countOf(shown->notes())), screens.notes,
                              FavoriteQuickAction::openNotes),
               quickActionRow(localizable_nettoSalary, SFSymbols::centSign, salaryValue, screens.salary,
                              FavoriteQuickAction::openSalary)})
          .popoverTip(quickActionsTip, Edge::bottom, [] {});

  const double spendable = spendablePerYear(*shown);
  View figuresSection = Section(
      {figureRow(localizable_bills, countText(countOf(shown->bills()))),
       figureRow(localizable_billsPerYear, Text(localized("%lld", {std::to_string(shown->billsPerYear())}))),
       figureRow(localizable_costPerYear, Verbatim(platform::formatCurrency(shown->costPerYear()))),
       figureRow(localizable_incomePerYear, Verbatim(platform::formatCurrency(shown->incomePerYear()))),
       figureRow(localizable_spendablePerYear, Verbatim(platform::formatCurrency(spendable))
                                                   .foregroundStyle(assetColor(spendable > 0.0 ? "appleGreen" : "appleRed")))});

  const bool nameIsBlank = platform::trimmingWhitespaceAndNewlines(vm->name.get()).empty();
  View form = Form({nameSection, quickActionSection, figuresSection}).scrollDismissesKeyboard(ScrollDismissesKeyboard::interactively) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_details)};
  form = form.toolbar({when(viewInSheet,
                            [&] { return ToolbarItem(ToolbarPlacement::topBarLeading, xmarkCloseButton(dismiss)); }),
                       ToolbarItem(ToolbarPlacement::primaryAction,
                                   toolbarTextButton(localizable_update, update, std::nullopt, nameIsBlank, true)
                                       .accessibilityIdentifier("update"))}) |
         ToastMessageModifier{vm->savedToastMessage.get(), ToastMessageType::updated, SFSymbols::personCropCircleFill} |
         ToastMessageModifier{vm->quickActionToastMessage.get(), ToastMessageType::setQuickAction, SFSymbols::star};
  form = form.onChange(shown->favoriteQuickAction(), [vm](const FavoriteQuickAction& old, const FavoriteQuickAction& now) {
    if (old != now) showToast(bind(vm, &ProfilesItemScreenViewModel::quickActionToastMessage));
  });

  // In a sheet the screen brings its own navigation stack; pushed, it lives on its
  // presenter's stack, so that its rows push there and "back" returns to the list.
  View content = viewInSheet ? NavigationStack(form) : form;
  return content.interactiveDismissDisabled(true)
      .sensoryFeedback(SensoryFeedback::success, vm->savedHaptic.get(), savesSucceed())
      .accentColor(vm->selectedColor.get())
      .onAppear([vm, shown] {
        vm->name = shown->name();
        vm->selectedColor = colorFromAssetName(shown->color());
      })
      .onDisappear([vm] {
        vm->name = std::string();
        vm->selectedColor = assetColor("appleRed");
      });
}

}  // namespace brivel
