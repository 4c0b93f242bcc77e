#include "Brivel/profiles/profiles_add_screen.h"

#include <memory>

#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/model/profile_manager.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/profiles/internal/name_field_label.h"
#include "Brivel/profiles/internal/profile_name_field.h"
#include "Brivel/profiles/profile_actions.h"
#include "Brivel/shell/color_picker_view.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/model_environment.h"
#include "Brivel/shell/toast.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/text.h"

namespace brivel {

using namespace platform::ui;
using namespace profiles_internal;

View ProfilesAddScreen::body(Context& ctx) const {
  auto container = modelContainer(ctx);
  auto settings = ctx.environmentObject<UserDefaultsManager>();
  auto profileManager = ctx.environmentObject<ProfileManager>();
  auto vm = ctx.stateWith<std::shared_ptr<ProfilesAddScreenViewModel>>(
                   "vm", [] { return std::make_shared<ProfilesAddScreenViewModel>(); })
                .get();
  auto nameIsFocused = ctx.focusState<bool>("nameIsFocused");
  const Binding<std::string> name = bind(vm, &ProfilesAddScreenViewModel::name);
  const Binding<bool> dismissSheet = dismiss;
  const std::function<void()> done = completion;

  auto save = [container, settings, profileManager, vm, nameIsFocused, dismissSheet, done] {
    auto profile = makeNewProfile(platform::trimmingWhitespaceAndNewlines(vm->name.get()),
                                  assetNameFromColor(vm->selectedColor.get()));
    if (!insertAndSaveProfile(container->mainContext(), profile).ok()) return;
    vm->savedHaptic = !vm->savedHaptic.get();
    if (!profileManager->selectedUser()) {
      profileManager->select(profile);
      if (done) done();
      return;
    }
    withAnimation([&] { vm->name = std::string(); });
    if (settings->popViewAfterSaveAndUpdate()) {
      dismissSheet.set(!dismissSheet.get());
    } else {
      showToast(bind(vm, &ProfilesAddScreenViewModel::savedToastMessage));
      nameIsFocused.set(true);
    }
  };

  View nameField = profileNameField(name, nameIsFocused.binding());
  const bool nameIsBlank = platform::trimmingWhitespaceAndNewlines(vm->name.get()).empty();

  View form = Form({Section({LabeledContent(nameFieldLabel(), nameField),
                             View(ColorPickerView{bind(vm, &ProfilesAddScreenViewModel::selectedColor)})})})
                  .scrollDismissesKeyboard(ScrollDismissesKeyboard::interactively) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_newProfile)};
  form = form.toolbar(
               {ToolbarItem(ToolbarPlacement::topBarLeading, xmarkCloseButton(dismissSheet)),
                ToolbarItem(ToolbarPlacement::primaryAction,
                            toolbarTipImageButton(save, SymbolImage(SFSymbols::checkmark), nameIsBlank, true, nullptr)
                                .accessibilityIdentifier("save"))}) |
         ToastMessageModifier{vm->savedToastMessage.get(), ToastMessageType::added, SFSymbols::personCropCircleFill};

  return NavigationStack(form)
      .interactiveDismissDisabled(true)
      .sensoryFeedback(SensoryFeedback::success, vm->savedHaptic.get(), savesSucceed())
      .onAppear([nameIsFocused] { nameIsFocused.set(true); });
}

}  // namespace brivel
